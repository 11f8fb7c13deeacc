// The process and its standard streams on POSIX.
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstring>

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
}

bool erro_terminal() { return isatty(2) == 1; }

// The kernel's timers are fine already.
void temporizador_fino(bool) {}

bool saida_utf8() {
  static const bool utf8 = [] {
    std::setlocale(LC_CTYPE, "");
    const char* codigo = nl_langinfo(CODESET);
    bool r = codigo != nullptr && (std::strcmp(codigo, "UTF-8") == 0 || std::strcmp(codigo, "utf8") == 0);
    std::setlocale(LC_CTYPE, "C");  // the program's own character handling stays byte-wise
    return r;
  }();
  return utf8;
}

bool saida_console(const char*, std::size_t) { return false; }

bool saida_terminal() { return isatty(STDOUT_FILENO) == 1; }

std::FILE* arquivo_abre(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  int fd = open(caminho, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return nullptr;
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    int erro = S_ISDIR(st.st_mode) ? EISDIR : 0;
    close(fd);
    nao_comum = erro == 0;
    errno = erro;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "rb");
  if (f == nullptr) close(fd);
  return f;
}

}  // namespace plat
