// Several boards at once against xagsim --wire at 115200 baud: the time of
// one board's --batch --fast upload, and of the same on 2 and 4 boards at
// once (one xagterm child each, gathered by grava_placas), as a multiple of
// it. Usage: placas_bench [DATA_LINES] (default 400).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "frontend/placas.hpp"

extern char** environ;

namespace {

// An xagsim --wire serving a pseudo-terminal until it is ended.
struct Placa {
  pid_t pid = -1;
  std::string porta;
  Placa() {
    int cano[2];
    if (pipe(cano) != 0) std::exit(1);
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_adddup2(&acoes, cano[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&acoes, cano[0]);
    char* argv[] = {const_cast<char*>(XAGSIM_PATH), const_cast<char*>("--wire"), nullptr};
    if (posix_spawn(&pid, XAGSIM_PATH, &acoes, nullptr, argv, environ) != 0) std::exit(1);
    posix_spawn_file_actions_destroy(&acoes);
    close(cano[1]);
    char c;
    while (read(cano[0], &c, 1) == 1 && c != '\n') porta += c;
    close(cano[0]);
  }
  ~Placa() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
  Placa(const Placa&) = delete;
  Placa& operator=(const Placa&) = delete;
};

// A hex file of `linhas` 16-byte data records and the end record.
std::string arquivo_hex(int linhas) {
  std::string nome = "/tmp/placas_bench_" + std::to_string(getpid()) + ".hex";
  std::FILE* f = std::fopen(nome.c_str(), "wb");
  for (int i = 0; i < linhas; ++i) {
    unsigned endereco = static_cast<unsigned>(i * 16);
    unsigned soma = 16 + (endereco >> 8) + (endereco & 0xFF);
    std::fprintf(f, ":10%04X00", endereco & 0xFFFF);
    for (int k = 0; k < 16; ++k) {
      std::fprintf(f, "%02X", (i + k) & 0xFF);
      soma += static_cast<unsigned>((i + k) & 0xFF);
    }
    std::fprintf(f, "%02X\r\n", (0x100 - (soma & 0xFF)) & 0xFF);
  }
  std::fprintf(f, ":00000001FF\r\n");
  std::fclose(f);
  return nome;
}

// Milliseconds for `n` boards at once; what they show goes to /dev/null.
double mede(int n, const std::string& arquivo) {
  std::vector<Placa> placas(static_cast<std::size_t>(n));
  std::vector<const char*> portas;
  for (const Placa& p : placas) portas.push_back(p.porta.c_str());
  const char* outros[] = {arquivo.c_str(), "b=115200", "--batch", "--fast"};
  std::fflush(stdout);
  int saida = dup(STDOUT_FILENO);
  int erro = dup(STDERR_FILENO);
  int nulo = open("/dev/null", O_WRONLY);
  dup2(nulo, STDOUT_FILENO);
  dup2(nulo, STDERR_FILENO);
  auto t0 = std::chrono::steady_clock::now();
  int status = grava_placas(Lote{XAGTERM_PATH, portas.data(), n, outros, 4, false});
  double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
  dup2(saida, STDOUT_FILENO);
  dup2(erro, STDERR_FILENO);
  close(nulo);
  close(saida);
  close(erro);
  if (status != 0) std::printf("  (%d boards: status %d)\n", n, status);
  return ms;
}

}  // namespace

int main(int argc, char** argv) {
  int linhas = argc > 1 ? std::atoi(argv[1]) : 400;
  std::string arquivo = arquivo_hex(linhas);
  std::printf("%d data lines, --batch --fast against xagsim --wire at 115200 baud, best of 3:\n", linhas);
  double um = 0;
  for (int n : {1, 2, 4}) {
    double melhor = 0;
    for (int vez = 0; vez < 3; ++vez) {
      double ms = mede(n, arquivo);
      if (vez == 0 || ms < melhor) melhor = ms;
    }
    if (n == 1) um = melhor;
    std::printf("  %d board%s at once: %8.1f ms, %.3f x one board\n", n, n == 1 ? " " : "s", melhor,
                melhor / um);
  }
  std::remove(arquivo.c_str());
  return 0;
}
