// Standard output that never holds up an upload, the --log file, and
// telling two names of one file apart, on POSIX.
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

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

std::FILE* arquivo_acrescenta(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  struct stat st {};
  if (stat(caminho, &st) == 0 && !S_ISREG(st.st_mode)) {
    nao_comum = !S_ISDIR(st.st_mode);
    errno = S_ISDIR(st.st_mode) ? EISDIR : 0;
    return nullptr;
  }
  // O_NONBLOCK: a FIFO put in its place meanwhile fails the open (ENXIO)
  // instead of waiting for a reader.
  int fd = open(caminho, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    close(fd);
    nao_comum = true;
    errno = 0;
    return nullptr;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  std::FILE* f = fdopen(fd, "ab");
  if (f == nullptr) close(fd);
  return f;
}

bool mesmo_arquivo(const char* a, const char* b) {
  struct stat sa {};
  struct stat sb {};
  return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

}  // namespace plat
