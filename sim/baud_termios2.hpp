// Rates outside the Bnnn table, read through Linux's termios2. Kept apart
// because <asm/termbits.h> cannot share a file with <termios.h>.
#pragma once

namespace xagsim {

// The output rate of the tty in bits per second; -1 on failure. On a pty
// master it is the rate the slave was set to.
long baud_termios2(int fd);

}  // namespace xagsim
