// xagsim: a simulated XAG49 board on a pseudo-terminal. See texto_uso().
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "sim/diario.hpp"
#include "sim/memoria.hpp"
#include "sim/opcoes.hpp"
#include "sim/processo.hpp"
#include "sim/pty.hpp"
#include "sim/simulador.hpp"

using namespace xagsim;

namespace {

// Signal handlers only write the signal's number here; the loop polls it.
int tubo_sinais[2] = {-1, -1};

void ao_sinal(int sinal) {
  int guardado = errno;
  auto b = static_cast<unsigned char>(sinal);
  if (write(tubo_sinais[1], &b, 1) < 0) {
    // the pipe is full: the loop has signals to read already
  }
  errno = guardado;
}

bool instala(int sinal) {
  struct sigaction sa {};
  sa.sa_handler = ao_sinal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  return sigaction(sinal, &sa, nullptr) == 0;
}

// Reads the signals that arrived; returns the exit status once it is time
// to stop.
std::optional<int> trata_sinais(pid_t filho) {
  std::optional<int> fim;
  unsigned char sinais[64];
  ssize_t n;
  while ((n = read(tubo_sinais[0], sinais, sizeof sinais)) > 0) {
    for (ssize_t i = 0; i < n; ++i) {
      int s = sinais[i];
      int estado = 0;
      if (s == SIGCHLD) {
        if (filho > 0 && waitpid(filho, &estado, WNOHANG) == filho) fim = estado_de_saida(estado);
      } else if (filho > 0) {
        kill(filho, s);  // SIGTERM, SIGHUP: the command decides
      } else {
        fim = 0;  // SIGINT, SIGTERM, SIGHUP
      }
    }
  }
  return fim;
}

// How long to wait, for ppoll; nullptr for as long as it takes.
const timespec* ate(std::optional<Relogio::duration> prazo, timespec& t) {
  if (!prazo) return nullptr;
  auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(*prazo).count();
  t.tv_sec = static_cast<time_t>(ns / 1'000'000'000);
  t.tv_nsec = static_cast<long>(ns % 1'000'000'000);
  return &t;
}

int ciclo(Simulador& sim, pid_t filho) {
  for (;;) {
    auto agora = Relogio::now();
    sim.avanca(agora);
    Descritores d = sim.espera(agora);
    pollfd fds[3] = {{tubo_sinais[0], POLLIN, 0}, d[0], d[1]};
    timespec t{};
    int r = ppoll(fds, 3, ate(sim.prazo(agora), t), nullptr);
    if (r < 0 && errno != EINTR) {
      std::perror("xagsim: ppoll");
      return 1;
    }
    if (r <= 0) continue;
    sim.atende({fds[1], fds[2]}, Relogio::now());
    if (fds[0].revents & POLLIN) {
      if (auto fim = trata_sinais(filho)) return *fim;
    }
  }
}

// Runs the command on the line, SIGINT ignored here meanwhile (it reaches
// the command from the console). -1 on failure.
pid_t lanca_comando(const Opcoes& o, const std::string& linha) {
  struct sigaction ignora {
  }, antes{};
  ignora.sa_handler = SIG_IGN;
  sigemptyset(&ignora.sa_mask);
  sigaction(SIGINT, &ignora, &antes);
  pid_t filho = lanca(com_porta(o.comando, linha), antes);
  if (filho < 0) std::perror("xagsim: fork");
  return filho;
}

int serve(const Opcoes& o) {
  Diario diario;
  if (!o.diario.empty() && !diario.abre(o.diario)) {
    std::fprintf(stderr, "xagsim: %s: %s\n", o.diario.c_str(), std::strerror(errno));
    return 1;
  }
  std::string erro;
  auto pty = abre_pty(erro);
  if (!pty || pipe2(tubo_sinais, O_CLOEXEC | O_NONBLOCK) != 0) {
    std::fprintf(stderr, "xagsim: %s\n", pty ? std::strerror(errno) : erro.c_str());
    return 1;
  }
  Memoria carga;
  if (!o.carga.empty() && !le_imagem(carga, o.carga, erro)) {
    std::fprintf(stderr, "xagsim: %s: %s\n", o.carga.c_str(), erro.c_str());
    return 1;
  }
  // With --replug-after the line's path is a link that follows it.
  std::optional<Ligacao> ligacao;
  std::string linha = pty->linha;
  if (o.religa) {
    ligacao.emplace(caminho_da_ligacao());
    if (!ligacao->aponta(linha)) {
      std::fprintf(stderr, "xagsim: %s: %s\n", ligacao->caminho().c_str(), std::strerror(errno));
      return 1;
    }
    linha = ligacao->caminho();
  }
  // A byte at 115200 baud lasts 87 us: wake up within a few of its time.
  if (o.fio || o.latencia > Ms{0}) prctl(PR_SET_TIMERSLACK, 1000UL);
  Simulador sim(o, *pty, diario, Relogio::now(), ligacao ? &*ligacao : nullptr);
  if (!o.carga.empty()) sim.carrega(carga);
  sim.avanca(Relogio::now());  // --send and --flood wait on the line

  instala(SIGTERM);
  instala(SIGHUP);
  instala(SIGCHLD);
  pid_t filho = -1;
  if (!o.comando.empty()) {
    filho = lanca_comando(o, linha);
    if (filho < 0) return 1;
  } else {
    instala(SIGINT);
    std::printf("%s\n", linha.c_str());
    std::fflush(stdout);
  }

  int estado = ciclo(sim, filho);
  diario.fecha();
  if (!o.imagem.empty() && !grava_imagem(sim.dispositivo().memoria(), o.imagem)) {
    std::fprintf(stderr, "xagsim: cannot write %s\n", o.imagem.c_str());
    if (estado == 0) estado = 1;
  }
  return estado;
}

}  // namespace

int main(int argc, char** argv) {
  LeituraOpcoes l = le_opcoes(std::vector<std::string>(argv + 1, argv + argc));
  if (l.ajuda) {
    std::fputs(texto_uso(), stdout);
    return 0;
  }
  if (!l.opcoes) {
    std::fprintf(stderr, "xagsim: %s\n\n%s", l.erro.c_str(), texto_uso());
    return 2;
  }
  return serve(*l.opcoes);
}
