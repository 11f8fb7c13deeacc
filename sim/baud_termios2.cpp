#include "sim/baud_termios2.hpp"

#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace xagsim {

long baud_termios2(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return -1;
  return static_cast<long>(t.c_ospeed);
}

}  // namespace xagsim
