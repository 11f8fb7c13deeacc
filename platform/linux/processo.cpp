// The process on Linux: its standard descriptors and signals.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "platform/linux/linux.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

// SIGXFSZ from the kernel, for a write of ours past the file-size limit
// (ulimit -f; the kernel sends it as from the writer itself), is let go: the
// write fails with EFBIG, which stops the --log with its one report, instead
// of killing the program with half a line sent to the board. One sent by
// another process ends the program as any fatal signal does.
void ao_limite(int sinal, siginfo_t* info, void*) {
  if (info != nullptr && info->si_pid == getpid()) return;
  console_restaura();
  signal(sinal, SIG_DFL);
  raise(sinal);
}

}  // namespace

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
  struct sigaction a {};
  sigemptyset(&a.sa_mask);
  a.sa_flags = SA_RESTART | SA_SIGINFO;
  a.sa_sigaction = ao_limite;
  sigaction(SIGXFSZ, &a, nullptr);
}

}  // namespace plat
