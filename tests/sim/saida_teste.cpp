#include <gtest/gtest.h>

#include "sim/fio.hpp"
#include "sim/saida.hpp"

namespace xagsim {
namespace {

const Instante t0 = Instante{} + std::chrono::hours(1);

TEST(Saida, NadaAntesDoTempoEEnvioParcial) {
  Saida s;
  EXPECT_FALSE(s.proximo());
  s.junta("abc", t0 + Ms{10});
  s.junta("de", t0);
  EXPECT_EQ(s.prontos(t0 + Ms{9}), "") << "what comes later waits too";
  EXPECT_EQ(s.prontos(t0 + Ms{10}), "abc");
  s.enviados(2, t0 + Ms{10});
  EXPECT_EQ(s.prontos(t0 + Ms{10}), "c");
  s.enviados(1, t0 + Ms{10});
  EXPECT_EQ(s.prontos(t0 + Ms{10}), "de");
  s.enviados(2, t0 + Ms{10});
  EXPECT_TRUE(s.vazia());
}

TEST(Saida, CadaByteDaRespostaEsperaAposOAnterior) {
  Saida s;
  s.junta("x", t0 + Ms{50});    // a delayed echo
  s.junta(".\r\n", t0, Ms{5});  // its answer, 5 ms a character
  EXPECT_EQ(s.prontos(t0 + Ms{50}), "x");
  s.enviados(1, t0 + Ms{52});
  EXPECT_EQ(s.proximo(), t0 + Ms{57});
  EXPECT_EQ(s.prontos(t0 + Ms{56}), "");
  EXPECT_EQ(s.prontos(t0 + Ms{57}), ".") << "a character at a time";
  s.enviados(1, t0 + Ms{60});
  EXPECT_EQ(s.proximo(), t0 + Ms{65});

  // After a quiet spell the delay counts from when the answer came.
  s.enviados(2, t0 + Ms{70});
  s.junta("OK", t0 + Ms{1000}, Ms{5});
  EXPECT_EQ(s.proximo(), t0 + Ms{1005});
}

TEST(Fio, CadaByteDezBitsDepoisDoAnteriorEALatencia) {
  Fio f{Ms{3}};
  auto b = tempo_de_byte(9600);
  EXPECT_EQ(std::chrono::round<std::chrono::microseconds>(b).count(), 1042);
  f.junta("ab", t0, 9600);
  f.junta("c", t0 + Ms{100}, 9600);  // the line was idle meanwhile
  EXPECT_EQ(f.proximo(), t0 + b + Ms{3});
  EXPECT_EQ(f.chegados(t0 + 2 * b + Ms{2}), "a");
  EXPECT_EQ(f.chegados(t0 + 2 * b + Ms{3}), "ab");
  f.tira(2);
  EXPECT_EQ(f.proximo(), t0 + Ms{100} + b + Ms{3});
}

}  // namespace
}  // namespace xagsim
