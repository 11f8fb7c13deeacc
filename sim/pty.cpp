#include "sim/pty.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "sim/baud_termios2.hpp"

namespace xagsim {

namespace {

struct Velocidade {
  speed_t codigo;
  long baud;
};

constexpr Velocidade velocidades[] = {
    {B0, 0},           {B50, 50},           {B75, 75},
    {B110, 110},       {B134, 134},         {B150, 150},
    {B200, 200},       {B300, 300},         {B600, 600},
    {B1200, 1200},     {B1800, 1800},       {B2400, 2400},
    {B4800, 4800},     {B9600, 9600},       {B19200, 19200},
    {B38400, 38400},   {B57600, 57600},     {B115200, 115200},
    {B230400, 230400}, {B460800, 460800},   {B500000, 500000},
    {B576000, 576000}, {B921600, 921600},   {B1000000, 1000000},
    {B1152000, 1152000}, {B1500000, 1500000}, {B2000000, 2000000},
    {B2500000, 2500000}, {B3000000, 3000000}, {B3500000, 3500000},
    {B4000000, 4000000},
};

// Raw through the master: on Linux the master's termios calls act on the
// slave's settings.
bool linha_crua(int mestre) {
  termios t{};
  if (tcgetattr(mestre, &t) != 0) return false;
  cfmakeraw(&t);
  return tcsetattr(mestre, TCSANOW, &t) == 0;
}

std::string falha(const char* onde) {
  return std::string(onde) + ": " + std::strerror(errno);
}

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
  f.baud = -1;
  for (const auto& v : velocidades)
    if ((t.c_cflag & CBAUD) == v.codigo) f.baud = v.baud;
  if (f.baud < 0) f.baud = baud_termios2(mestre);  // BOTHER: any rate
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

}  // namespace xagsim
