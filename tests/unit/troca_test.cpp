#include "serial/troca.hpp"

#include <gtest/gtest.h>

#include <string>

#include "saida/saida.hpp"
#include "serial/porta.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

class Troca : public ::testing::Test {
 protected:
  void SetUp() override { fake::reinicia(); }
  // An echo a test left for later must not show up in the next one.
  void TearDown() override {
    Captura descarta(stdout);
    mostra_adiado();
  }
};

}  // namespace

TEST_F(Troca, EsperaZeroMakesExactlyOnePoll) {
  EXPECT_EQ(espera(0), -1);
  EXPECT_EQ(fake::leituras(), 1);
  EXPECT_EQ(fake::dormido_ms(), 1);
}

TEST_F(Troca, EsperaPausesBeforeEveryPollOfItsBudget) {
  EXPECT_EQ(espera(50), -1);
  EXPECT_EQ(fake::leituras(), 51);
  EXPECT_EQ(fake::dormido_ms(), 51);
  EXPECT_EQ(fake::pedidos(), std::string(51, '\1'));
}

TEST_F(Troca, ByteOnTheLastPollCounts) {
  // Each poll is a 1 ms pause and a read of up to 1 ms: the fourth poll of
  // espera(3) reads from 7 ms to 8 ms.
  fake::chega("Z", 7500);
  EXPECT_EQ(espera(3), 'Z');
  EXPECT_EQ(fake::leituras(), 4);
}

TEST_F(Troca, ByteJustAfterTheLastPollIsMissed) {
  fake::chega("Z", 8001);
  EXPECT_EQ(espera(3), -1);
  EXPECT_EQ(fake::leituras(), 4);
}

TEST_F(Troca, EsperaReturnsNulAsZeroAndHighBytesUnsigned) {
  fake::chega(std::string(1, '\0'));
  EXPECT_EQ(espera(0), 0);
  fake::chega("\xFF");
  EXPECT_EQ(espera(0), 0xFF);
}

TEST_F(Troca, EscreveSerWithoutDeviceWaits51PollsAndShowsNothing) {
  Captura saida(stdout);
  EXPECT_EQ(escreve_ser('A'), -1);
  EXPECT_EQ(fake::enviados(), "A");
  EXPECT_EQ(fake::leituras(), 51);
  EXPECT_EQ(saida.texto(), "");
}

TEST_F(Troca, EscreveSerShowsTheEchoButNotANul) {
  Captura saida(stdout);
  fake::dispositivo_eco();
  EXPECT_EQ(escreve_ser('q'), 'q');
  fake::dispositivo([](unsigned char) { fake::chega(std::string(1, '\0')); });
  EXPECT_EQ(escreve_ser('r'), 0);
  EXPECT_EQ(saida.texto(), "q");
}

TEST_F(Troca, EscreveSerSendsOnlyTheLowEightBits) {
  fake::dispositivo_eco();
  Captura saida(stdout);
  EXPECT_EQ(escreve_ser(0x141), 0x41);
  EXPECT_EQ(fake::enviados(), "A");
}

TEST_F(Troca, AByteAlreadyWaitingIsTakenAsTheEcho) {
  fake::chega("x");
  fake::dispositivo_eco();
  Captura saida(stdout);
  EXPECT_EQ(escreve_ser('a'), 'x');
  EXPECT_EQ(escreve_ser('b'), 'a');
}

TEST_F(Troca, ProgramaStopsAtTheFirstMissingEcho) {
  Captura saida(stdout);
  EXPECT_EQ(programa(":00000001FF\n"), -1);
  EXPECT_EQ(fake::enviados(), ":");
  EXPECT_EQ(saida.texto(), "");
}

TEST_F(Troca, ProgramaSendsEveryByteAndItsLineEnd) {
  fake::dispositivo_eco();
  Captura saida(stdout);
  EXPECT_EQ(programa(":00000001FF\r\n"), 0);
  mostra_adiado();  // the last echo is shown before the next wait
  EXPECT_EQ(fake::enviados(), ":00000001FF\r\n");
  EXPECT_EQ(saida.texto(), ":00000001FF\r\n");
}

TEST_F(Troca, ProgramaTakesNulEchoesAsEchoes) {
  fake::dispositivo([](unsigned char) { fake::chega(std::string(1, '\0')); });
  Captura saida(stdout);
  EXPECT_EQ(programa("abc"), 0);
  EXPECT_EQ(fake::enviados(), "abc");
  EXPECT_EQ(saida.texto(), "");
}

TEST_F(Troca, ProgramaWaitsForEachEchoBeforeTheNextByte) {
  // A slow echo (30 ms) still inside the 51-poll budget: every byte goes out
  // only after the echo of the one before it has come back.
  std::string ordem;
  fake::dispositivo([&ordem](unsigned char c) {
    ordem += "tx";
    ordem += static_cast<char>(c);
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 30000);
  });
  Captura saida(stdout);
  EXPECT_EQ(programa("ab"), 0);
  EXPECT_EQ(ordem, "txatxb");
  EXPECT_GE(fake::agora(), 60000);
}

TEST_F(Troca, EsperaresOnAnIdleLineMakesTenEmptyReads) {
  Captura saida(stdout);
  esperares();
  EXPECT_EQ(fake::leituras(), 10);
  EXPECT_EQ(fake::pedidos(), std::string(10, '\x14'));
  EXPECT_EQ(fake::dormido_ms(), 100);
  EXPECT_EQ(saida.texto(), "");
}

TEST_F(Troca, EsperaresProlongsAPassWhileReadsComeBackFull) {
  std::string resposta(45, 'r');
  resposta[3] = '\0';
  fake::chega(resposta);
  Captura saida(stdout);
  esperares();
  // 20 + 20 + 5 in the first pass, then nine empty passes.
  EXPECT_EQ(fake::leituras(), 12);
  EXPECT_EQ(saida.texto(), resposta);
}

TEST_F(Troca, EsperaresCopiesAReplyThatArrivesLater) {
  fake::chega("OK\r\n", 55000);
  Captura saida(stdout);
  esperares();
  EXPECT_EQ(saida.texto(), "OK\r\n");
  EXPECT_EQ(fake::leituras(), 10);
}

TEST_F(Troca, ARecordHoldsAtMost64AnswerBytesThenTakesAnyByteAsItsEcho) {
  fake::chega(std::string(70, 'x'), 10);
  Captura saida(stdout);
  EXPECT_EQ(programa_registro("A", true), 0);
  unsigned char resto[8];
  EXPECT_EQ(plat::porta_le_disponivel(hcom, resto, 8), 5);
}

const int taxas[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

// A whole line's first echo is due 50 ms and two character times after the
// write, each next one 50 ms and one character time after the one before;
// the wait ends on a whole millisecond, so 1 ms later is too late.
TEST_F(Troca, WholeLineEchoBudgetsAddTheLinesCharacterTimes) {
  for (int taxa : taxas) {
    const fake::Micros c = 10'000'000 / taxa, primeiro = 50'000 + 2 * c, seguinte = 50'000 + c;
    const fake::Micros casos[][3] = {
        {primeiro, seguinte, 0}, {primeiro + 1000, 10, 1}, {10, seguinte + 1000, 2}};
    for (auto [a, b, falta] : casos) {
      SCOPED_TRACE(std::to_string(taxa) + " " + std::to_string(a) + " " + std::to_string(b));
      fake::reinicia();
      taxa_da_linha = taxa;
      fake::chega("a", a);
      fake::chega("b", a + b);
      int eco = 0;
      Captura saida(stdout);
      EXPECT_EQ(envia_linha_inteira("ab", 2, 2, true, eco), falta);
    }
  }
}

TEST_F(Troca, WholeLineComparesEveryEchoOfARead) {
  for (int errado = 0; errado < 3; ++errado) {
    fake::reinicia();
    std::string ecos = "abc";
    ecos[errado] = 'X';
    fake::chega(ecos, 10);
    int eco = 0;
    Captura saida(stdout);
    EXPECT_EQ(envia_linha_inteira("abc", 3, 3, true, eco), errado + 1);
    EXPECT_EQ(eco, 'X');
  }
}

// After its ten passes (the last read ends at 110 ms) the reply drain waits
// until the line has been quiet for three character times, and a network
// port's round trip.
TEST_F(Troca, EsperaresWaitsThreeQuietCharacterTimesAfterItsPasses) {
  for (int taxa : taxas) {
    for (fake::Micros ida_e_volta : {0, 20'000}) {
      const fake::Micros silencio = 3 * (10'000'000 / taxa) + ida_e_volta;
      for (fake::Micros depois : {silencio, silencio + 1000}) {
        SCOPED_TRACE(std::to_string(taxa) + " " + std::to_string(depois));
        fake::reinicia();
        taxa_da_linha = taxa;
        fake::rede(ida_e_volta, 0);
        fake::chega("a", 109'500);
        fake::chega("b", 110'000 + depois);
        Captura saida(stdout);
        EXPECT_TRUE(esperares());
        EXPECT_EQ(saida.texto(), depois == silencio ? "ab" : "a");
      }
    }
  }
}

// A board that never stops talking is drained for 2 s; Ctrl-X ends the drain
// at once; another key is kept for the terminal, and the drain goes on.
TEST_F(Troca, EsperaresLastsAtMostTwoSecondsAndEndsOnCtrlX) {
  for (char tecla : {'\0', '\x18', 'k'}) {
    fake::reinicia();
    taxa_da_linha = 300;
    for (fake::Micros t = 0; t <= 3'000'000; t += 5000) fake::chega("s", t);
    if (tecla != '\0') fake::teclas(std::string(1, tecla), 500'000);
    Captura saida(stdout);
    EXPECT_EQ(esperares(), tecla != '\x18');
    EXPECT_EQ(fake::agora(), tecla == '\x18' ? 500'000 : 2'000'000);
    EXPECT_EQ(toma_tecla_guardada(), tecla == '\0' ? -1 : tecla);
  }
}

// Over a network port every wait for the board grows by the link's round
// trip, once: a byte just inside the grown budget is taken, one a
// millisecond past it is not. Each row: the last moment a byte still counts
// on a local line, and the wait.
TEST_F(Troca, EveryWaitGrowsByTheRoundTripOnce) {
  struct Caso {
    const char* nome;
    fake::Micros prazo;
    bool (*espera_byte)();
  };
  const Caso casos[] = {
      {"espera", 8000, [] { return espera(3) == 'Z'; }},
      {"escreve_ser", 102'000, [] { return escreve_ser('Z') == 'Z'; }},
      {"mostra_ate", 102'000, [] { return mostra_ate('Z'); }},
      {"espera_ms", 7000, [] { return espera_ms(7) == 'Z'; }},
      {"envia_linha_inteira", 50'000 + 2 * 86,
       [] {
         int eco = 0;
         return envia_linha_inteira("Z", 1, 1, true, eco) == 0;
       }},
  };
  for (const Caso& caso : casos) {
    for (fake::Micros ida_e_volta : {0, 20'000}) {
      for (fake::Micros alem : {-500, 1000}) {
        SCOPED_TRACE(std::string(caso.nome) + " " + std::to_string(ida_e_volta) + " " + std::to_string(alem));
        fake::reinicia();
        taxa_da_linha = 115200;
        fake::rede(ida_e_volta, 0);
        fake::chega("Z", caso.prazo + ida_e_volta + alem);
        Captura saida(stdout);
        EXPECT_EQ(caso.espera_byte(), alem < 0);
      }
    }
  }
}
