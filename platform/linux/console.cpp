// The console on Linux: the keyboard is standard input. When it is a
// terminal its settings are saved, it is switched to single keys without
// echo, and the saved settings come back on every way out.
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

#include "platform/linux/linux.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

constexpr int fd_teclado = STDIN_FILENO;

termios salvo{};
volatile sig_atomic_t temos_salvo = 0;  // standard input is a terminal and salvo holds its settings
volatile sig_atomic_t modo_teclas = 0;  // single-key settings are in force
bool entrada_acabou = false;
bool teclado_perdido = false;  // the console's terminal went away
int guardada = -1;             // read by tecla_pronta, not yet taken by tecla_le

void restaura() {
  if (temos_salvo) tcsetattr(fd_teclado, TCSANOW, &salvo);
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
  tcsetattr(fd_teclado, TCSANOW, &t);
}

// The mode the program is in, applied again (a shell may have put its own
// settings back while the program was stopped).
void reaplica() {
  if (modo_teclas) {
    aplica_teclas();
  } else {
    restaura();
  }
}

// A signal that ends the program: settings back, then die of the same signal.
void ao_sinal_fatal(int sinal) {
  restaura();
  signal(sinal, SIG_DFL);
  raise(sinal);
}

// SIGTSTP: settings back while stopped, the program's mode again when continued.
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
  reaplica();
  errno = erro;
}

// SIGCONT, after any stop (SIGSTOP included).
void ao_continuar(int) {
  int erro = errno;
  reaplica();
  errno = erro;
}

// Signals whose default action does not end the process (or that cannot
// be caught at all).
bool nao_termina(int sinal) {
  switch (sinal) {
    case SIGCHLD:
    case SIGCONT:
    case SIGURG:
    case SIGWINCH:
    case SIGSTOP:
    case SIGTSTP:
    case SIGTTIN:
    case SIGTTOU:
    case SIGKILL: return true;
    default: return false;
  }
}

// Every signal that would end the program restores the console first;
// one already ignored (nohup) or taken by a sanitizer is left as it is.
// Reads and writes interrupted by a handler go on (SA_RESTART).
void instala_sinais() {
  struct sigaction a {};
  sigemptyset(&a.sa_mask);
  a.sa_flags = SA_RESTART;
  a.sa_handler = ao_sinal_fatal;
  for (int sinal = 1; sinal < NSIG; ++sinal) {
    if (nao_termina(sinal) || (sinal > SIGSYS && sinal < SIGRTMIN)) continue;  // reserved by the C library
    struct sigaction atual {};
    if (sigaction(sinal, nullptr, &atual) != 0 || atual.sa_handler != SIG_DFL) continue;
    sigaction(sinal, &a, nullptr);
  }
  a.sa_handler = ao_suspender;
  sigaction(SIGTSTP, &a, nullptr);
  a.sa_handler = ao_continuar;
  sigaction(SIGCONT, &a, nullptr);
}

void ao_sair() { restaura(); }

// A non-blocking look at the keyboard: true when a byte is there to read.
bool teclado_tem_algo(int espera_ms) {
  pollfd f{fd_teclado, POLLIN, 0};
  return poll(&f, 1, espera_ms) > 0;
}

// A read that ended the input: the terminal hung up (EIO; or an end of
// input that single keys never give, or from a terminal that no longer
// answers as one) rather than an end typed or a file that ended.
bool terminal_caiu(ssize_t r, int erro) {
  if (r < 0) return erro == EIO;
  return temos_salvo && (modo_teclas || !isatty(fd_teclado));
}

// Reads one byte of keyboard input; the end of input (or a keyboard that
// failed) is remembered, so it is never waited on again.
int le_um_byte() {
  unsigned char c = 0;
  for (;;) {
    ssize_t r = read(fd_teclado, &c, 1);
    if (r == 1) return c;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      // A keyboard whose file was left non-blocking by whoever opened it:
      // no key yet, so wait for one.
      teclado_tem_algo(-1);
      continue;
    }
    entrada_acabou = true;
    if (terminal_caiu(r, errno)) teclado_perdido = true;
    return -1;
  }
}

// The console's own settings, with echo and line editing.
void console_linha() {
  modo_teclas = 0;
  restaura();
}

void console_teclas() {
  modo_teclas = 1;
  aplica_teclas();
}

}  // namespace

void console_inicia() {
  if (isatty(fd_teclado) && tcgetattr(fd_teclado, &salvo) == 0) {
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

bool tecla_pronta() {
  if (guardada >= 0) return true;
  if (entrada_acabou || !teclado_tem_algo(0)) return false;
  guardada = le_um_byte();
  return guardada >= 0;
}

int tecla_le() {
  if (guardada >= 0) {
    int c = guardada;
    guardada = -1;
    return c;
  }
  if (entrada_acabou) return -1;
  return le_um_byte();
}

int le_linha(char* buf, int tamanho) {
  console_linha();
  int n = 0;
  bool longa = false;
  bool leu = false;
  for (;;) {
    int c = tecla_le();
    if (c < 0) break;
    leu = true;
    if (c == '\n') break;
    if (c == '\r') {
      // Typed ahead while the keys were still single: Enter came in as a
      // bare CR, and the switch to line mode handed it over as it stood.
      if (tecla_pronta() && guardada == '\n') guardada = -1;
      break;
    }
    if (n < tamanho - 1) {
      buf[n++] = static_cast<char>(c);
    } else {
      longa = true;  // the rest of the line is read and dropped
    }
  }
  buf[n] = '\0';
  console_teclas();
  entrada_acabou = false;  // an end of input typed at this prompt is over
  if (!leu) return -1;
  return longa ? tamanho : n;
}

bool console_perdido() { return teclado_perdido; }

void console_restaura() { restaura(); }

int teclado() { return fd_teclado; }

bool tecla_guardada() { return guardada >= 0; }

bool teclado_acabou() { return entrada_acabou; }

}  // namespace plat
