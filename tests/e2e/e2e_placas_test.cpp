// Several boards at once on xagsim boards, one of them dead: the parent's
// logic run here, its children the built xagterm, each with one port.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frontend/placas.hpp"

extern char** environ;

namespace {

// An xagsim serving a pseudo-terminal until it is ended.
struct Placa {
  pid_t pid = -1;
  std::string porta;

  explicit Placa(std::vector<std::string> opcoes) {
    int cano[2];
    if (pipe(cano) != 0) return;
    posix_spawn_file_actions_t acoes;
    posix_spawn_file_actions_init(&acoes);
    posix_spawn_file_actions_adddup2(&acoes, cano[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&acoes, cano[0]);
    std::vector<char*> argv{const_cast<char*>(XAGSIM_PATH)};
    for (std::string& o : opcoes) argv.push_back(o.data());
    argv.push_back(nullptr);
    posix_spawn(&pid, XAGSIM_PATH, &acoes, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&acoes);
    close(cano[1]);
    char c;
    while (read(cano[0], &c, 1) == 1 && c != '\n') porta += c;  // its first line: the path
    close(cano[0]);
  }
  ~Placa() {
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
  }
};

const char hex[] = ":0300300002337A1E\r\n:0400000012345678E8\r\n:00000001FF\r\n";

struct Rodada {
  int status;
  std::string saida;
  std::string erro;
};

// The three boards, the last one dead, and what `xagterm P1 P2 P3 fw.hex
// --batch --fast` shows: run by `roda` with the three ports and the others.
template <typename Roda>
void tres_placas(Roda roda) {
  std::string arquivo = testing::TempDir() + "placas.hex";
  std::ofstream(arquivo, std::ios::binary) << hex;
  Placa boas[2] = {Placa({}), Placa({})};
  Placa morta({"--silent"});
  std::vector<std::string> portas{boas[0].porta, boas[1].porta, morta.porta};
  Rodada r = roda(portas, arquivo);
  EXPECT_EQ(r.status, 3);
  for (const std::string& p : portas) {
    EXPECT_NE(r.saida.find("Terminal " + p + " 9600 baud\n"), std::string::npos) << r.saida;
  }
  for (const Placa& p : boas) {
    EXPECT_NE(r.erro.find("xagterm: " + p.porta + ": " + arquivo + ": 3 linhas enviadas\n"),
              std::string::npos)
        << r.erro;
  }
  EXPECT_NE(r.erro.find("xagterm: " + morta.porta + ": " + arquivo + ": linha 1, caractere 1 sem eco\n"),
            std::string::npos)
      << r.erro;
  EXPECT_NE(r.erro.find("xagterm: 2 de 3 placas gravadas; falhou: " + morta.porta + " (status 3)\n"),
            std::string::npos)
      << r.erro;
}

}  // namespace

TEST(Placas, ThreeBoardsAtOnceOneDead) {
  tres_placas([](const std::vector<std::string>& portas, const std::string& arquivo) {
    const char* p[] = {portas[0].c_str(), portas[1].c_str(), portas[2].c_str()};
    const char* outros[] = {arquivo.c_str(), "--batch", "--fast"};
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int status = grava_placas(Lote{XAGTERM_PATH, p, 3, outros, 3, false});
    std::string saida = testing::internal::GetCapturedStdout();
    return Rodada{status, saida, testing::internal::GetCapturedStderr()};
  });
}

// The same through xagterm's own command line: several ports with --batch.
TEST(Placas, ThreeBoardsAtOnceFromTheCommandLine) {
  tres_placas([](const std::vector<std::string>& portas, const std::string& arquivo) {
    std::string saida = testing::TempDir() + "placas.out";
    std::string erro = testing::TempDir() + "placas.err";
    std::string comando = std::string(XAGTERM_PATH) + " " + portas[0] + " " + portas[1] + " " + portas[2] +
                          " " + arquivo + " --batch --fast >" + saida + " 2>" + erro + " </dev/null";
    int estado = std::system(comando.c_str());
    auto le = [](const std::string& nome) {
      std::ifstream f(nome, std::ios::binary);
      return std::string(std::istreambuf_iterator<char>(f), {});
    };
    return Rodada{WIFEXITED(estado) ? WEXITSTATUS(estado) : -1, le(saida), le(erro)};
  });
}
