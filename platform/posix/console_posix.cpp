// The console on POSIX: the keyboard is standard input. When it is a
// terminal its settings are saved, it is switched to single keys without
// echo, and the saved settings come back on every way out.
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

constexpr int teclado = STDIN_FILENO;
constexpr int espera_linha_caida_ms = 100;

termios salvo{};
volatile sig_atomic_t temos_salvo = 0;   // standard input is a terminal and salvo holds its settings
volatile sig_atomic_t modo_teclas = 0;   // single-key settings are in force
bool teclado_acabou = false;
int tecla_guardada = -1;                 // read by tecla_pronta, not yet taken by tecla_le

void restaura() {
  if (temos_salvo) tcsetattr(teclado, TCSANOW, &salvo);
}

void aplica_teclas() {
  if (!temos_salvo) return;
  termios t = salvo;
  t.c_lflag &= ~(ICANON | ECHO | IEXTEN);
  t.c_iflag &= ~(IXON | ICRNL | INLCR | IGNCR);
  t.c_cc[VQUIT] = _POSIX_VDISABLE;
  t.c_cc[VSUSP] = _POSIX_VDISABLE;
  t.c_cc[VMIN] = 1;
  t.c_cc[VTIME] = 0;
  tcsetattr(teclado, TCSANOW, &t);
}

// SIGINT, SIGTERM, SIGHUP: settings back, then die of the same signal.
void ao_sinal_fatal(int sinal) {
  restaura();
  signal(sinal, SIG_DFL);
  raise(sinal);
}

// SIGTSTP: settings back while stopped, single keys again when continued.
void ao_suspender(int sinal) {
  int erro = errno;
  restaura();
  signal(sinal, SIG_DFL);
  sigset_t s;
  sigemptyset(&s);
  sigaddset(&s, sinal);
  sigprocmask(SIG_UNBLOCK, &s, nullptr);
  raise(sinal);
  // continued
  sigprocmask(SIG_BLOCK, &s, nullptr);
  signal(sinal, ao_suspender);
  if (modo_teclas) aplica_teclas();
  errno = erro;
}

void instala_sinais() {
  struct sigaction a {};
  sigemptyset(&a.sa_mask);
  a.sa_handler = ao_sinal_fatal;
  sigaction(SIGINT, &a, nullptr);
  sigaction(SIGTERM, &a, nullptr);
  sigaction(SIGHUP, &a, nullptr);
  a.sa_handler = ao_suspender;
  sigaction(SIGTSTP, &a, nullptr);
}

void ao_sair() { restaura(); }

// A non-blocking look at the keyboard: true when a byte is there to read.
bool teclado_tem_algo(int espera_ms) {
  pollfd f{teclado, POLLIN, 0};
  return poll(&f, 1, espera_ms) > 0;
}

// Reads one byte of keyboard input; the end of input (or a keyboard that
// failed) is remembered, so it is never waited on again.
int le_um_byte() {
  unsigned char c = 0;
  for (;;) {
    ssize_t r = read(teclado, &c, 1);
    if (r == 1) return c;
    if (r < 0 && errno == EINTR) continue;
    teclado_acabou = true;
    return -1;
  }
}

}  // namespace

void console_inicia() {
  if (isatty(teclado) && tcgetattr(teclado, &salvo) == 0) {
    temos_salvo = 1;
    instala_sinais();
    std::atexit(ao_sair);
  }
  console_teclas();
}

void console_termina() {
  modo_teclas = 0;
  restaura();
}

void console_linha() {
  modo_teclas = 0;
  restaura();
}

void console_teclas() {
  modo_teclas = 1;
  aplica_teclas();
}

bool tecla_pronta() {
  if (tecla_guardada >= 0) return true;
  if (teclado_acabou || !teclado_tem_algo(0)) return false;
  tecla_guardada = le_um_byte();
  return tecla_guardada >= 0;
}

int tecla_le() {
  if (tecla_guardada >= 0) {
    int c = tecla_guardada;
    tecla_guardada = -1;
    return c;
  }
  if (teclado_acabou) return -1;
  return le_um_byte();
}

void espera_entrada(Porta p) {
  if (tecla_guardada >= 0) return;
  pollfd f[2] = {{static_cast<int>(p), POLLIN, 0}, {teclado, POLLIN, 0}};
  nfds_t quantos = teclado_acabou ? 1 : 2;
  if (poll(f, quantos, -1) <= 0) return;
  if ((f[0].revents & (POLLHUP | POLLERR | POLLNVAL)) == 0 || (f[1].revents & POLLIN) != 0) return;
  // The line has hung up and reports so at once: bytes still waiting are
  // read by the caller; otherwise only the keyboard can bring anything.
  int esperando = 0;
  if (ioctl(static_cast<int>(p), FIONREAD, &esperando) == 0 && esperando > 0) return;
  if (teclado_acabou) {
    dorme_ms(espera_linha_caida_ms);
    return;
  }
  teclado_tem_algo(espera_linha_caida_ms);
}

}  // namespace plat
