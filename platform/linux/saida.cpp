// Standard output on Linux: its character set, whether it and standard
// error are terminals, and the writes of --batch that never hold up an
// upload.
#include <langinfo.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <cstring>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

// A pipe takes at least this much at once when poll says it can take
// anything, so a write of it never waits.
constexpr std::size_t pedaco = 512;

// Standard output can take a write now. Its file description is shared
// with the shell (and the terminal), so it is never made non-blocking:
// poll asks without waiting instead.
bool saida_livre() {
  for (;;) {
    pollfd f{STDOUT_FILENO, POLLOUT, 0};
    int r = poll(&f, 1, 0);
    if (r < 0 && errno == EINTR) continue;
    return r > 0 && (f.revents & (POLLERR | POLLHUP | POLLNVAL)) == 0 && (f.revents & POLLOUT) != 0;
  }
}

}  // namespace

std::size_t saida_escreve_sem_esperar(const void* buf, std::size_t n) {
  const char* p = static_cast<const char*>(buf);
  std::size_t escritos = 0;
  while (escritos < n && saida_livre()) {
    std::size_t quantos = n - escritos < pedaco ? n - escritos : pedaco;
    ssize_t r = write(STDOUT_FILENO, p + escritos, quantos);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) break;  // gone (EPIPE), full after all, or failed (a full disk)
    escritos += static_cast<std::size_t>(r);
  }
  return escritos;
}

bool erro_terminal() { return isatty(2) == 1; }

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
bool saida_console_utf8(const char*, std::size_t) { return false; }

bool saida_terminal() { return isatty(STDOUT_FILENO) == 1; }

}  // namespace plat
