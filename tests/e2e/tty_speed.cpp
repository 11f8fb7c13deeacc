// Kept apart: <asm/termbits.h> cannot share a file with <termios.h>.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace pty_harness {

int tty_speed_bps(int fd) {
  struct termios2 t {};
  if (ioctl(fd, TCGETS2, &t) != 0) return -1;
  return static_cast<int>(t.c_ospeed);
}

}  // namespace pty_harness
