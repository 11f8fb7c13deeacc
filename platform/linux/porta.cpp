// The serial port on Linux: a tty file descriptor in raw mode, kept
// non-blocking; every wait is a poll with a deadline.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

#include "platform/linux/baud.hpp"
#include "platform/linux/linux.hpp"
#include "platform/linux/rede.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

constexpr long prazo_escrita_us = 2'000'000;  // the line took nothing for this long: give up

// The port's state, all of it in one place: why its last open or setting
// failed, and the descriptor on which a read or write failed as a vanished
// device does.
struct EstadoDaPorta {
  int ultimo_erro = 0;
  int descritor_falho = -1;
};
EstadoDaPorta porta_aberta;

// Errors that mean the device behind the descriptor is gone (an unplugged
// adapter, a pseudo-terminal whose other side has closed).
void nota_falha(int fd, int erro) {
  if (erro == EIO || erro == ENXIO || erro == ENODEV) porta_aberta.descritor_falho = fd;
}

int descritor(Porta p) { return static_cast<int>(p); }

Porta falha(int erro) {
  porta_aberta.ultimo_erro = erro;
  return porta_invalida;
}

speed_t codigo_padrao(int baud) {
  switch (baud) {
    case 300: return B300;
    case 600: return B600;
    case 1200: return B1200;
    case 1800: return B1800;
    case 2400: return B2400;
    case 4800: return B4800;
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
  }
}

void modo_cru(termios& t) {
  t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY);
  t.c_oflag &= ~OPOST;
  t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
  t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);  // no output held for a CTS the board never gives
  t.c_cflag |= CS8 | CREAD | CLOCAL;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
}

// One non-blocking read; a failure or a hung-up line counts as nothing.
int le_agora(int fd, unsigned char* buf, int n) {
  for (;;) {
    ssize_t r = read(fd, buf, static_cast<size_t>(n));
    if (r > 0) return static_cast<int>(r);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) nota_falha(fd, errno);
    return 0;
  }
}

}  // namespace

Porta porta_abre(const char* nome) {
  if (rede::e_url(nome)) return rede::abre(nome);
  char caminho[256];
  if (!caminho_da_porta(nome, caminho, sizeof caminho)) return falha(ENOENT);
  int fd = open(caminho, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return falha(errno);
  // Nobody else may use the line while we hold it: flock stops another
  // xagterm even as root, TIOCEXCL stops other programs.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return falha(EBUSY);
  }
  ioctl(fd, TIOCEXCL);
  if (porta_aberta.descritor_falho == fd) porta_aberta.descritor_falho = -1;
  return fd;
}

bool porta_configura(Porta p, int baud) {
  if (rede::e_rede(p)) return rede::configura(p, baud);
  int fd = descritor(p);
  termios t{};
  porta_aberta.ultimo_erro = EINVAL;
  if (tcgetattr(fd, &t) != 0) {
    porta_aberta.ultimo_erro = errno;
    return false;
  }
  modo_cru(t);
  speed_t codigo = codigo_padrao(baud);
  if (codigo != B0) cfsetspeed(&t, codigo);
  if (tcsetattr(fd, TCSANOW, &t) != 0) {
    porta_aberta.ultimo_erro = errno;
    return false;
  }
  if (codigo == B0 && !baud_arbitrario(fd, baud)) return false;
  if (baud_lido(fd) != baud) return false;
  int linhas = TIOCM_DTR | TIOCM_RTS;
  ioctl(fd, TIOCMBIC, &linhas);  // a pseudo-terminal has no modem lines
  return true;
}

int porta_le(Porta p, unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::le(p, buf, n);
  int fd = descritor(p);
  timespec prazo = instante_mais_us(agora(), 1000);
  int lidos = 0;
  for (;;) {
    lidos += le_agora(fd, buf + lidos, n - lidos);
    if (lidos >= n) return lidos;
    timespec falta = ate(prazo);
    if (falta.tv_sec == 0 && falta.tv_nsec == 0) return lidos;  // the 1 ms is over
    pollfd f{fd, POLLIN, 0};
    int r = ppoll(&f, 1, &falta, nullptr);
    if (r < 0 && errno != EINTR) return lidos;
    if (r > 0 && (f.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      // Hung up or failed: take what is left, then wait out the time-out.
      lidos += le_agora(fd, buf + lidos, n - lidos);
      dorme_ate(prazo);
      return lidos;
    }
  }
}

int porta_le_disponivel(Porta p, unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::le_disponivel(p, buf, n);
  return le_agora(descritor(p), buf, n);
}

int porta_escreve_agora(Porta p, const unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::escreve_agora(p, buf, n);
  for (;;) {
    ssize_t r = write(descritor(p), buf, static_cast<size_t>(n));
    if (r >= 0) return static_cast<int>(r);
    if (errno == EINTR) continue;
    if (errno == EAGAIN) return 0;
    nota_falha(descritor(p), errno);
    return -1;
  }
}

int porta_escreve(Porta p, const unsigned char* buf, int n) {
  int fd = descritor(p);
  int enviados = 0;
  timespec prazo = instante_mais_us(agora(), prazo_escrita_us);
  while (enviados < n) {
    int r = porta_escreve_agora(p, buf + enviados, n - enviados);
    if (r < 0) return enviados;  // the line has failed
    if (r > 0) {
      enviados += r;
      prazo = instante_mais_us(agora(), prazo_escrita_us);
      continue;
    }
    timespec falta = ate(prazo);
    if (falta.tv_sec == 0 && falta.tv_nsec == 0) return enviados;  // stalled
    pollfd f{fd, POLLOUT, 0};
    if (ppoll(&f, 1, &falta, nullptr) < 0 && errno != EINTR) return enviados;
    if (f.revents & (POLLHUP | POLLERR | POLLNVAL)) return enviados;
  }
  return enviados;
}

int porta_erro() { return porta_aberta.ultimo_erro; }

const char* porta_erro_texto() { return std::strerror(porta_aberta.ultimo_erro); }

const char* porta_grupo(const char* nome) {
  char caminho[256];
  struct stat st {};
  if (!caminho_da_porta(nome, caminho, sizeof caminho) || stat(caminho, &st) != 0) return nullptr;
  // Only a group that may read and write the device, and not root's own,
  // is worth joining.
  if (st.st_gid == 0 || (st.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) return nullptr;
  const group* g = getgrgid(st.st_gid);
  return g != nullptr ? g->gr_name : nullptr;
}

void porta_fecha(Porta p) {
  if (rede::e_rede(p)) return rede::fecha(p);
  if (porta_aberta.descritor_falho == descritor(p)) porta_aberta.descritor_falho = -1;
  close(descritor(p));
}

bool porta_falhou(int fd) {
  if (rede::e_rede(fd)) return rede::caiu(fd);
  struct stat st {};
  return fd == porta_aberta.descritor_falho || (fstat(fd, &st) == 0 && st.st_nlink == 0);
}

// DTR and RTS, driven one at a time (a board's reset circuit).
int porta_linha_modem(Porta p, int linha, bool liga) {
  if (rede::e_rede(p)) return rede::sinal(p, linha == linha_dtr, liga) ? 0 : EIO;
  int bits = linha == linha_dtr ? TIOCM_DTR : TIOCM_RTS;
  if (ioctl(static_cast<int>(p), liga ? TIOCMBIS : TIOCMBIC, &bits) == 0) return 0;
  return errno;
}

}  // namespace plat
