#include "programming/ciclo.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "programming/registros.hpp"
#include "saida/saida.hpp"
#include "serial/porta.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

constexpr fake::Micros ms = 1000;
// An echo is taken after the poll's 1 ms pause; the answer's wait starts there.
constexpr fake::Micros poll = 1000;

// A board that echoes at once; a record with no line end (any, `no_checksum`)
// is answered as soon as it is complete, any other at its line end:
// `primeiro` after it, each next character `proximo` after the one before.
void placa(std::function<std::string(const std::string&)> responde, fake::Micros primeiro = 0,
           fake::Micros proximo = 0, bool no_checksum = false) {
  auto linha = std::make_shared<std::string>();
  fake::dispositivo([=](unsigned char c) {
    fake::chega(std::string(1, static_cast<char>(c)));
    if (c == ':') linha->clear();
    if (c != '\n') *linha += static_cast<char>(c);
    bool sem_fim = *linha == registro_le_boot || linha->rfind(":01000083", 0) == 0 ||
                   linha->rfind(":03000083", 0) == 0 || (no_checksum && linha->size() == 15);
    if (!(sem_fim || (c == '\n' && !linha->empty()))) return;
    fake::Micros t = fake::agora() + primeiro;
    for (char r : responde(*linha)) {
      fake::chega(std::string(1, r), t);
      t += proximo;
    }
    linha->clear();
  });
}

struct Corrida {
  int status;
  std::string saida, erros;
};

Corrida corre(const Ciclo& c) {
  Captura saida(stdout);
  Captura erros(stderr);
  int status = corre_ciclo(c);
  mostra_adiado();
  return {status, saida.texto(), erros.texto()};
}

class CicloTeste : public ::testing::Test {
 protected:
  void SetUp() override { fake::reinicia(), taxa_da_linha = 9600; }
};

}  // namespace

TEST(CicloLeitura, BlockListsSequencesAndRanges) {
  struct {
    const char* texto;
    int mascara;
  } listas[] = {{"0,2,8", 0x0B}, {"C", 0x10}, {"c,00008", 0x18}, {"all", 0x1F}, {"4,4", 0x04},
                {"1", -1},       {"C0", -1},  {"0,", -1},        {"", -1},      {"ALL", -1}};
  for (const auto& l : listas) EXPECT_EQ(le_lista_de_blocos(l.texto), l.mascara) << l.texto;

  SequenciaDasLinhas s;
  ASSERT_TRUE(le_sequencia_das_linhas("D1,r1,W100,R0,W60000,d0", s));
  EXPECT_EQ(s.quantos, 6);
  for (const char* mau : {"", "D2", "W", "W60001", "D1,", "X1", "D1;R0", "D10"})
    EXPECT_FALSE(le_sequencia_das_linhas(mau, s)) << mau;

  std::int32_t inicio = 0, quantos = 0;
  EXPECT_TRUE(le_faixa("FFF0:10", inicio, quantos) && inicio == 0xFFF0 && quantos == 0x10);
  EXPECT_TRUE(le_faixa("0:10000", inicio, quantos));
  for (const char* mau : {"FFF0:11", "0:0", "10", ":5", "5:", "1:2:3", "0:10001"})
    EXPECT_FALSE(le_faixa(mau, inicio, quantos)) << mau;
}

TEST_F(CicloTeste, ResetDrivesTheLinesInVirtualTimeAndSendsNothing) {
  SequenciaDasLinhas s;
  ASSERT_TRUE(le_sequencia_das_linhas("D1,R1,W100,R0,W200,D0", s));
  Ciclo c;
  c.reinicio = &s;
  EXPECT_EQ(corre(c).status, ciclo_feito);
  EXPECT_EQ(fake::linhas_modem(), "D1@0 R1@0 R0@100000 D0@300000 ");

  fake::reinicia();
  fake::sem_linhas_modem(ENOTTY);
  c.porta = "/dev/pts/3";
  c.le_status = true;
  Corrida r = corre(c);
  EXPECT_EQ(r.status, ciclo_sem_linhas);
  EXPECT_EQ(r.erros, "xagterm: /dev/pts/3: sem linhas de controle (" + std::string(strerror(ENOTTY)) + ")\n");
  EXPECT_EQ(fake::enviados(), "");
}

TEST_F(CicloTeste, AFailedHandshakeSendsNothingMore) {
  Ciclo c;
  c.apaga = todos_os_blocos;
  Corrida r = corre(c);
  EXPECT_EQ(r.status, ciclo_placa);
  EXPECT_EQ(fake::enviados(), "f");
  EXPECT_EQ(r.saida, "\nFalhou a detec\xE7\xE3o do baud-rate\n\n");
}

TEST_F(CicloTeste, EraseAnswerBudgets) {
  struct {
    fake::Micros primeiro, proximo;
    const char* resposta;
    int status;
    bool no_checksum;
  } casos[] = {{poll + 5000 * ms, 500 * ms, ".\r\n", ciclo_feito, false},
               {poll + 5000 * ms + 1, 0, ".\r\n", ciclo_placa, false},
               {poll, 500 * ms + 1, ".\r\n", ciclo_placa, false},
               {0, 0, "V\r\n", ciclo_placa, false},
               {0, 0, ".\r\n", ciclo_feito, true}};  // its answer before the LF's echo
  for (const auto& caso : casos) {
    fake::reinicia();
    placa([&](const std::string&) { return caso.resposta; }, caso.primeiro, caso.proximo, caso.no_checksum);
    Ciclo c;
    c.apaga = 0x12;  // 2 and C, in address order
    Corrida r = corre(c);
    EXPECT_EQ(r.status, caso.status) << caso.primeiro << " " << caso.proximo;
    if (caso.status != ciclo_feito) continue;
    EXPECT_EQ(fake::enviados(), "f:0200008301205A\n:0200008301C0BA\n");
    EXPECT_EQ(r.erros, "xagterm: bloco 2 [2000.3FFF] apagado\nxagterm: bloco C [C000.FFFF] apagado\n");
  }
}

TEST_F(CicloTeste, ClearStatusThenStatus) {
  for (const char* estado : {"00", "7F"}) {
    fake::reinicia();
    placa([&](const std::string& r) {
      return r == registro_le_boot          ? "00\r\n"
             : r.rfind(":02000085", 0) == 0 ? std::string(estado) + "\r\n"
                                            : ".\r\n";
    });
    Ciclo c;
    c.zera_status = c.le_status = true;
    Corrida r = corre(c);
    std::string e = estado;
    EXPECT_EQ(r.status, e == "00" ? ciclo_feito : ciclo_placa);
    EXPECT_NE(r.saida.find("Status=" + e + "\n:02000085070270\nBoot vector=00\n"), std::string::npos)
        << r.saida;
    EXPECT_EQ(r.erros.rfind("xagterm: byte de status " + e + ", vetor de boot 00\n", 0), 0u);
    EXPECT_EQ(r.erros.find("ficou") != std::string::npos, e != "00");
  }
}

TEST_F(CicloTeste, DumpEndsAfterTheQuietTime) {
  struct {
    int baud;
    fake::Micros pausa;
    bool copiado;
    fake::Micros ida_e_volta = 0;  // a network port's round trip
  } casos[] = {{9600, 99 * ms, true},           {9600, 100 * ms, false},         {300, 99 * ms, true},
               {300, 100 * ms, false},          {200, 149 * ms, true},           {200, 150 * ms, false},
               {9600, 119 * ms, true, 20 * ms}, {9600, 120 * ms, false, 20 * ms}};
  for (const auto& caso : casos) {
    fake::reinicia();
    fake::rede(caso.ida_e_volta, 0);
    taxa_da_linha = caso.baud;
    Ciclo c;
    c.mostra_faixa = true, c.inicio = 0x100, c.quantos = 0x10;
    fake::dispositivo([&](unsigned char b) {
      fake::chega(std::string(1, static_cast<char>(b)));
      if (b == '\n') fake::chega("L2", fake::agora() + poll + caso.pausa);
    });
    Corrida r = corre(c);
    EXPECT_EQ(r.status, ciclo_feito);
    EXPECT_EQ(r.saida, caso.copiado ? "f:050000840100010F0066\nL2" : "f:050000840100010F0066\n")
        << caso.baud << " " << caso.pausa;
  }
}
