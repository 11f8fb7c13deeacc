// Sets a rate outside the Bnnn table on a tty, as a serial program may.
#pragma once

namespace teste {

bool baud_arbitrario(int fd, int baud);

}  // namespace teste
