// The modem lines of a serial port, through the tty driver's modem bits.
#include <sys/ioctl.h>

#include <cerrno>

#include "platform/plataforma.hpp"

namespace plat {

int porta_linha_modem(Porta p, int linha, bool liga) {
  int bits = linha == linha_dtr ? TIOCM_DTR : TIOCM_RTS;
  if (ioctl(static_cast<int>(p), liga ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  return errno;
}

}  // namespace plat
