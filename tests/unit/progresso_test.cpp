#include "programming/progresso.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/plataforma.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

// How many times the line is drawn when a line is answered at each of these
// moments (ms after the upload's start).
int desenhos(bool terminal, const std::vector<int>& momentos_ms, bool ao_pai = false) {
  fake::reinicia();
  fake::erro_terminal(terminal);
  progresso_ao_pai(ao_pai);
  Captura erros(stderr);
  progresso_inicia(100);
  int enviadas = 0;
  for (int ms : momentos_ms) {
    plat::dorme_ate_us(1000LL * ms);
    progresso_linha(++enviadas);
  }
  std::string texto = erros.texto();
  int n = 0;
  for (auto p = texto.find("linhas"); p != std::string::npos; p = texto.find("linhas", p + 1)) ++n;
  progresso_ao_pai(false);
  return n + static_cast<int>(std::count(texto.begin(), texto.end(), marca_contagem));
}

}  // namespace

// At most ten a second, the first at once; none unless standard error is a
// terminal.
TEST(Progresso, DrawnAtMostTenTimesASecondOnATerminalOnly) {
  struct Caso {
    bool terminal;
    std::vector<int> momentos_ms;
    int desenhos;
    bool ao_pai = false;  // counts to the parent, at the same rate
  } tabela[] = {
      {true, {0}, 1},
      {true, {0, 99}, 1},
      {true, {0, 100}, 2},
      {true, {0, 50, 99, 100, 150, 199, 200}, 3},
      {true, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11}, 1},
      {true, {0, 100, 200, 300, 400, 500, 600, 700, 800, 900, 1000}, 11},
      {false, {0, 100, 200}, 0},
      {false, {0, 99}, 1, true},
      {false, {0, 50, 100}, 2, true},
      {true, {0, 100}, 2, true},
  };
  for (const auto& c : tabela) {
    EXPECT_EQ(desenhos(c.terminal, c.momentos_ms, c.ao_pai), c.desenhos)
        << (c.terminal ? "terminal, " : "pipe, ") << c.momentos_ms.size() << " lines";
  }
}

TEST(Progresso, SaysLinesOfTotalPerCentAndTime) {
  fake::reinicia();
  fake::erro_terminal(true);
  Captura erros(stderr);
  progresso_inicia(8);
  plat::dorme_ate_us(61'000'000);
  progresso_linha(2);
  progresso_apaga();
  // Cleared with as many spaces as it showed.
  EXPECT_EQ(erros.texto(), "\r2 de 8 linhas, 25%, 1:01\r" + std::string(24, ' ') + "\r");
}

TEST(Progresso, ToTheParentCountLinesAndTheLastOneAlways) {
  fake::reinicia();
  progresso_ao_pai(true);
  Captura erros(stderr);
  progresso_inicia(3);
  for (int n = 1; n <= 3; ++n) progresso_linha(n);
  progresso_apaga();
  progresso_ao_pai(false);
  EXPECT_EQ(erros.texto(),
            "\x1F"
            "1/3\n\x1F"
            "3/3\n");
}
