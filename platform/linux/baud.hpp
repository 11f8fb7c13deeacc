// Rates outside the standard Bnnn table, through Linux's termios2 interface.
// Kept apart because <asm/termbits.h> cannot share a file with <termios.h>.
#pragma once

namespace plat {

// Sets input and output rate of the open tty fd to baud. False on failure.
bool baud_arbitrario(int fd, int baud);

// The output rate the tty reports, in bits per second; -1 on failure.
int baud_lido(int fd);

}  // namespace plat
