// The process on Linux: its standard descriptors and signals.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/plataforma.hpp"

namespace plat {

void processo_inicia() {
  // A descriptor of 0-2 left closed by the caller would be the next one
  // open() hands out: the port would become standard output or input.
  for (int fd = 0; fd <= 2; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    int nulo = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
    if (nulo >= 0 && nulo != fd) {
      dup2(nulo, fd);
      close(nulo);
    }
  }
  // A reader of standard output that goes away makes the write fail with
  // EPIPE; the program then ends as Ctrl-X ends it.
  signal(SIGPIPE, SIG_IGN);
  // A --log file that reaches the file-size limit (ulimit -f) makes the
  // write fail with EFBIG, which stops the log with its report, instead of
  // killing the program with half a line sent to the board.
  signal(SIGXFSZ, SIG_IGN);
}

}  // namespace plat
