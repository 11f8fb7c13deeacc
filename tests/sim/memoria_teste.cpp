#include <gtest/gtest.h>

#include <sstream>

#include "sim/memoria.hpp"
#include "sim/registo.hpp"

namespace xagsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

void escreve(Memoria& m, std::uint16_t a, Bytes dados) { m.escreve(a, dados); }

TEST(Memoria, EscreveDaVoltaEApaga) {
  Memoria m;
  EXPECT_EQ(imagem_intel_hex(m), ":00000001FF\n");
  EXPECT_EQ(m.le(0x1234), 0xFF);
  escreve(m, 0xFFFE, {1, 2, 3, 4});
  EXPECT_EQ(m.le(0xFFFF), 2);
  EXPECT_EQ(m.le(0x0001), 4);
  EXPECT_TRUE(m.escrito(0x0000));
  EXPECT_FALSE(m.escrito(0x0002));
  m.apaga(0xFFFF, 0xFFFF);
  m.apaga(0x0000, 0x0000);
  EXPECT_EQ(m.le(0x0000), 0xFF);
  EXPECT_FALSE(m.escrito(0xFFFF));
  EXPECT_TRUE(m.escrito(0xFFFE));
  EXPECT_TRUE(m.escrito(0x0001));
}

TEST(Memoria, FlashSoLimpaBitsAteSerApagada) {
  Memoria m;
  EXPECT_TRUE(m.escreve(0x10, Bytes{0xF0, 0x5A}));
  EXPECT_TRUE(m.escreve(0x10, Bytes{0xF0, 0x50})) << "clearing more bits takes";
  EXPECT_FALSE(m.escreve(0x10, Bytes{0x0F}));
  EXPECT_EQ(m.le(0x10), 0x00) << "the AND of both";
  m.apaga(0x10, 0x10);
  EXPECT_TRUE(m.escreve(0x10, Bytes{0x0F}));
  EXPECT_EQ(m.le(0x10), 0x0F);

  std::string erro;
  EXPECT_TRUE(carrega_intel_hex(m, ":0100200012CD\r\n:00000001FF\n:01003000FFD0\n", erro));
  EXPECT_EQ(m.le(0x20), 0x12);
  EXPECT_FALSE(m.escrito(0x30)) << "nothing after the end record";
  for (const char* mau : {":0100200012CD\n", ":0100200012CE\n:00000001FF\n", "\n:00000001FF\n",
                          ":02000083010079\n:00000001FF\n"})
    EXPECT_FALSE(carrega_intel_hex(m, mau, erro)) << mau;
}

TEST(Memoria, ImagemEmRegistosDeAte16QueNaoAtravessamLacunas) {
  Memoria m;
  Bytes vinte(20);
  for (std::size_t i = 0; i < vinte.size(); ++i) vinte[i] = static_cast<std::uint8_t>(i);
  escreve(m, 0x0100, vinte);
  escreve(m, 0x0200, {0xAB});
  escreve(m, 0x0202, {0xCD});
  escreve(m, 0xFFFF, {0xEE, 0x11});  // FFFF and 0000: two records
  m.apaga(0x0108, 0x0108);           // an erased byte is a gap too
  EXPECT_EQ(imagem_intel_hex(m),
            ":0100000011EE\n"
            ":080100000001020304050607DB\n"
            ":0B010900090A0B0C0D0E0F1011121351\n"
            ":01020000AB52\n"
            ":01020200CD2E\n"
            ":01FFFF00EE13\n"
            ":00000001FF\n");
}

TEST(Memoria, ImagemLidaDeVoltaReproduzAMemoria) {
  Memoria m;
  for (unsigned a = 0; a < 0x10000; a += 7)
    if (a % 3 != 0) escreve(m, static_cast<std::uint16_t>(a), {static_cast<std::uint8_t>(a)});

  Memoria lida;
  std::istringstream linhas(imagem_intel_hex(m));
  std::string linha, ultima;
  while (std::getline(linhas, linha)) {
    Leitura l = le_registo(linha);
    ASSERT_EQ(l.veredicto, Veredicto::bom) << linha;
    ASSERT_LE(l.registo.dados.size(), 16u);
    if (l.registo.tipo == 0x00) lida.escreve(l.registo.endereco, l.registo.dados);
    ultima = linha;
  }
  EXPECT_EQ(ultima, ":00000001FF");
  for (unsigned a = 0; a < 0x10000; ++a) {
    auto e = static_cast<std::uint16_t>(a);
    ASSERT_EQ(lida.escrito(e), m.escrito(e)) << a;
    ASSERT_EQ(lida.le(e), m.le(e)) << a;
  }
}

}  // namespace
}  // namespace xagsim
