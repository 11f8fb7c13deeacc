#include "frontend/placas.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/plataforma.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

constexpr int saida = plat::canal_saida;
constexpr int erro = plat::canal_erro;

struct Rodada {
  int status;
  std::string saida;
  std::string erro;
};

Rodada roda(std::vector<const char*> portas, bool progresso = false) {
  const char* outros[] = {"fw.hex", "--batch", "--fast"};
  Lote lote{nullptr, portas.data(), static_cast<int>(portas.size()), outros, 3, progresso};
  Captura s(stdout);
  Captura e(stderr);
  int status = grava_placas(lote);
  return {status, s.texto(), e.texto()};
}

class Placas : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reinicia();
    fake::filhos_reinicia();
  }
};

}  // namespace

TEST_F(Placas, LinesPassWholeAndReportsNameTheirPort) {
  fake::filho({{1000, saida, "abc"},
               {2000, saida, "def\nxy"},
               {2000, erro, "xagterm: fw.h"},
               {5000, saida, "z\n"},
               {6000, erro, "ex: 3 linhas enviadas\n"}},
              7000, 0);
  fake::filho({{3000, saida, "111\n"}, {8000, saida, "fim"}}, 9000, 0);
  Rodada r = roda({"ttyUSB0", "ttyUSB1"});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.saida, "abcdef\n111\nxyz\nfim");
  EXPECT_EQ(r.erro, "xagterm: ttyUSB0: fw.hex: 3 linhas enviadas\nxagterm: 2 de 2 placas gravadas\n");
  EXPECT_EQ(fake::filhos_argv()[1],
            (std::vector<std::string>{"xagterm", "ttyUSB1", "fw.hex", "--batch", "--fast"}));
}

TEST_F(Placas, TheSummaryNamesEveryFailureAndTheStatusIsTheHighest) {
  struct Caso {
    std::vector<int> status;
    int esperado;
    std::string resumo;
  } casos[] = {
      {{0, 0, 0}, 0, "3 de 3 placas gravadas"},
      {{0, 3, 0}, 3, "2 de 3 placas gravadas; falhou: ttyUSB1 (status 3)"},
      {{4, 3, 0}, 4, "1 de 3 placas gravadas; falharam: ttyUSB0 (status 4), ttyUSB1 (status 3)"},
      {{0, 0, 1}, 1, "2 de 3 placas gravadas; falhou: ttyUSB2 (status 1)"},
  };
  for (const Caso& c : casos) {
    SetUp();
    // The last one never writes anything.
    for (int k = 0; k < 3; ++k) fake::filho({{100, saida, k < 2 ? "x\n" : ""}}, 1000 * (3 - k), c.status[k]);
    Rodada r = roda({"ttyUSB0", "ttyUSB1", "ttyUSB2"});
    EXPECT_EQ(r.status, c.esperado);
    EXPECT_EQ(r.erro, "xagterm: " + c.resumo + "\n");
    EXPECT_EQ(fake::filhos_esperados(), 3);
  }
}

TEST_F(Placas, PortsNamedTwiceOrBeyondTheCapAreRefusedBeforeAnyStarts) {
  std::vector<std::string> nomes;
  for (int i = 0; i <= plat::filhos_maximo; ++i) nomes.push_back(std::to_string(i));
  std::vector<const char*> muitas;
  for (const std::string& n : nomes) muitas.push_back(n.c_str());
  struct Caso {
    std::vector<const char*> portas;
    int status;
    std::string erro;
  } casos[] = {
      {{"ttyUSB0", "ttyUSB1", "/dev/ttyUSB0"}, 2, "xagterm: /dev/ttyUSB0: porta repetida\n"},
      {{"\\\\.\\COM3", "\\\\.\\com3"}, 2, "xagterm: \\\\.\\com3: porta repetida\n"},  // Windows ignores case
      {{"\\\\.\\COM3", "\\\\.\\COM30"}, 1, ""},
      {muitas, 2, "xagterm: 33 portas; no maximo 32 de uma vez\n"},
      {{muitas.begin(), muitas.end() - 1}, 1, ""},  // 32 start (and, unscripted, fail)
  };
  for (const Caso& c : casos) {
    SetUp();
    Rodada r = roda(c.portas);
    EXPECT_EQ(r.status, c.status);
    EXPECT_EQ(fake::filhos_argv().size(), c.status == 2 ? 0U : c.portas.size());
    if (c.status == 2) {
      EXPECT_EQ(r.erro, c.erro);
    }
  }
}

TEST_F(Placas, OneProgressLineForAllFromTheChildrensCounts) {
  fake::filho({{150000, erro,
                "\x1F"
                "5/10\n"},
               {400000, erro,
                "\x1F"
                "10/10\n"}},
              500000, 0);
  fake::filho({}, 500000, 0);
  Rodada r = roda({"ttyUSB0", "ttyUSB1"}, true);
  EXPECT_EQ(fake::filhos_argv()[0].back(), opcao_contagem);
  EXPECT_NE(r.erro.find("\r2 placas: - -"), std::string::npos);
  EXPECT_NE(r.erro.find("\r2 placas: 5/10 -"), std::string::npos);
  EXPECT_NE(r.erro.find("\r2 placas: 10/10 -"), std::string::npos);
  EXPECT_EQ(r.erro.find('\x1F'), std::string::npos);
  // Drawn at 100, 250, 350 and 450 ms: never sooner than 100 ms after the last.
  int vezes = 0;
  for (auto k = r.erro.find("placas:"); k != std::string::npos; k = r.erro.find("placas:", k + 1)) ++vezes;
  EXPECT_EQ(vezes, 4);
  EXPECT_EQ(r.erro.substr(r.erro.find("xagterm")), "xagterm: 2 de 2 placas gravadas\n");
}

TEST_F(Placas, CtrlCEndsTheParentOnlyAfterEveryChild) {
  fake::filho({{1000, saida, "a\n"}, {9000, saida, "nunca\n"}}, 10000, 0);
  fake::filho({}, 3000, 0);
  fake::interrompe_filhos(5000);
  Captura e(stderr);
  Captura s(stdout);
  const char* portas[] = {"ttyUSB0", "ttyUSB1"};
  EXPECT_THROW(grava_placas(Lote{nullptr, portas, 2, nullptr, 0, false}), fake::Interrompido);
  EXPECT_EQ(fake::filhos_esperados(), 2);
  EXPECT_EQ(s.texto(), "a\n");
  EXPECT_EQ(e.texto(), "xagterm: 1 de 2 placas gravadas; falhou: ttyUSB0 (status 130)\n");
}
