// Ctrl-C and SIGTERM during an upload on POSIX: noted by a handler of our
// own while the upload runs, the earlier handling (the console's, or the
// default) put back afterwards.
#include <unistd.h>

#include <csignal>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

constexpr int sinais[] = {SIGINT, SIGTERM};
constexpr int quantos = sizeof sinais / sizeof sinais[0];

volatile sig_atomic_t sinal_notado = 0;
struct sigaction anterior[quantos];
bool tomado[quantos] = {};

void ao_sinal(int sinal) { sinal_notado = sinal; }

void devolve() {
  for (int i = 0; i < quantos; ++i) {
    if (tomado[i]) sigaction(sinais[i], &anterior[i], nullptr);
    tomado[i] = false;
  }
}

}  // namespace

void interrupcao_segura(bool liga) {
  if (!liga) {
    devolve();
    if (sinal_notado != 0) termina_pela_interrupcao();
    return;
  }
  sinal_notado = 0;
  struct sigaction a {};
  sigemptyset(&a.sa_mask);
  a.sa_flags = SA_RESTART;
  a.sa_handler = ao_sinal;
  for (int i = 0; i < quantos; ++i) {
    // A signal ignored when the program started (a background job) stays so.
    if (sigaction(sinais[i], nullptr, &anterior[i]) != 0 || anterior[i].sa_handler == SIG_IGN) continue;
    tomado[i] = sigaction(sinais[i], &a, nullptr) == 0;
  }
}

bool interrompido() { return sinal_notado != 0; }

void termina_pela_interrupcao() {
  int sinal = sinal_notado != 0 ? static_cast<int>(sinal_notado) : SIGINT;
  devolve();
  raise(sinal);  // the earlier handler restores the console and dies of it
  signal(sinal, SIG_DFL);
  raise(sinal);
  _exit(128 + sinal);
}

}  // namespace plat
