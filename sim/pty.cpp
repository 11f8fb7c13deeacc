#include "sim/pty.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "platform/linux/baud.hpp"

namespace xagsim {

namespace {

// Raw through the master: on Linux the master's termios calls act on the
// slave's settings.
bool linha_crua(int mestre) {
  termios t{};
  if (tcgetattr(mestre, &t) != 0) return false;
  cfmakeraw(&t);
  return tcsetattr(mestre, TCSANOW, &t) == 0;
}

std::string falha(const char* onde) { return std::string(onde) + ": " + std::strerror(errno); }

}  // namespace

std::optional<Pty> abre_pty(std::string& erro) {
  int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m < 0) {
    erro = falha("posix_openpt");
    return std::nullopt;
  }
  char nome[128];
  const char* passo = nullptr;
  if (grantpt(m) != 0)
    passo = "grantpt";
  else if (unlockpt(m) != 0)
    passo = "unlockpt";
  else if (ptsname_r(m, nome, sizeof nome) != 0)
    passo = "ptsname";
  else if (!linha_crua(m))
    passo = "tcsetattr";
  else if (fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK) != 0)
    passo = "fcntl";
  if (passo) {
    erro = falha(passo);
    close(m);
    return std::nullopt;
  }
  int par = ioctl(m, TIOCGPTPEER, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (par < 0) par = open(nome, O_RDWR | O_NOCTTY | O_CLOEXEC);
  return Pty{m, nome, par};
}

std::optional<Formato> le_formato(int mestre) {
  termios t{};
  if (tcgetattr(mestre, &t) != 0) return std::nullopt;
  Formato f;
  f.oito_bits = (t.c_cflag & CSIZE) == CS8;
  f.paridade = (t.c_cflag & PARENB) != 0;
  f.dois_stop = (t.c_cflag & CSTOPB) != 0;
  f.baud = plat::baud_lido(mestre);  // standard or any other rate
  return f;
}

int por_ler_na_linha(int par) {
  // Polling the line first moves what the master wrote into its input
  // queue: until then FIONREAD may not count it.
  pollfd p{par, POLLIN, 0};
  poll(&p, 1, 0);
  int n = 0;
  if (ioctl(par, FIONREAD, &n) != 0) return -1;
  return n;
}

int vigia_fechos(const std::string& linha) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (fd < 0) return -1;
  if (inotify_add_watch(fd, linha.c_str(), IN_CLOSE_WRITE | IN_CLOSE_NOWRITE) < 0) {
    close(fd);
    return -1;
  }
  return fd;
}

bool linha_fechada(int vigia) {
  // Only close events are watched: any event will do.
  alignas(inotify_event) char buf[1024];
  bool fechada = false;
  while (read(vigia, buf, sizeof buf) > 0) fechada = true;
  return fechada;
}

void tira_exclusividade(int par) { ioctl(par, TIOCNXCL); }

bool Ligacao::aponta(const std::string& alvo) {
  std::string nova = caminho_ + ".nova";
  unlink(nova.c_str());
  if (symlink(alvo.c_str(), nova.c_str()) != 0) return false;
  if (rename(nova.c_str(), caminho_.c_str()) != 0) {
    unlink(nova.c_str());
    return false;
  }
  feita_ = true;
  return true;
}

void Ligacao::tira() {
  if (feita_) unlink(caminho_.c_str());
  feita_ = false;
}

std::string caminho_da_ligacao() { return "/dev/shm/xagsim-" + std::to_string(getpid()); }

}  // namespace xagsim
