// Whether a port name leads to the program's own console.
#include <sys/stat.h>
#include <unistd.h>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

// The terminal device behind descriptor fd, when it is one.
bool terminal_de(int fd, dev_t& dispositivo) {
  struct stat st {};
  if (isatty(fd) == 0 || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  dispositivo = st.st_rdev;
  return true;
}

}  // namespace

bool porta_e_console(const char* nome) {
  char caminho[512];
  struct stat st {};
  if (!porta_caminho(nome, caminho, sizeof caminho) || stat(caminho, &st) != 0 || !S_ISCHR(st.st_mode)) {
    return false;
  }
  struct stat tty {};
  if (stat("/dev/tty", &tty) == 0 && st.st_rdev == tty.st_rdev) return true;  // "the controlling terminal"
  for (int fd = 0; fd <= 2; ++fd) {
    dev_t console = 0;
    if (terminal_de(fd, console) && console == st.st_rdev) return true;
  }
  return false;
}

}  // namespace plat
