#include <gtest/gtest.h>

#include "sim/registo.hpp"

namespace xagsim {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(Registo, LeOsCamposEmMaiusculasOuMinusculas) {
  Leitura l = le_registo(":0400100001020304E2");
  ASSERT_EQ(l.veredicto, Veredicto::bom);
  EXPECT_EQ(l.registo.tipo, 0x00);
  EXPECT_EQ(l.registo.endereco, 0x0010);
  EXPECT_EQ(l.registo.dados, (Bytes{0x01, 0x02, 0x03, 0x04}));

  l = le_registo(":02abCD85fF0af8");
  ASSERT_EQ(l.veredicto, Veredicto::bom);
  EXPECT_EQ(l.registo.tipo, 0x85);
  EXPECT_EQ(l.registo.endereco, 0xABCD);
  EXPECT_EQ(l.registo.dados, (Bytes{0xFF, 0x0A}));
}

TEST(Registo, ChecksumErrado) {
  EXPECT_EQ(le_registo(":0400100001020304E3").veredicto, Veredicto::checksum_errado);
  EXPECT_EQ(le_registo(":00000001FE").veredicto, Veredicto::checksum_errado);
}

TEST(Registo, Malformados) {
  for (const char* t : {"", "00000001FF", "x:00000001FF", ":", ":0000000",
                        ":00000001F",     // a digit short
                        ":00000001FF0",   // a digit too many
                        ":01000000FF",    // LL says one data byte, none there
                        ":0000000100FF",  // LL says none, one there
                        ":0G000001FF", ":00000001FG", ":00000 01FF", ":00000001FF\r"})
    EXPECT_EQ(le_registo(t).veredicto, Veredicto::malformado) << '"' << t << '"';
}

TEST(Registo, TamanhoPrevistoPeloLL) {
  EXPECT_EQ(tamanho_previsto(":00"), 11u);
  EXPECT_EQ(tamanho_previsto(":10000000"), 43u);
  EXPECT_EQ(tamanho_previsto(":ff"), 521u);
  for (const char* t : {"", ":0", ":G0", "a00"}) EXPECT_FALSE(tamanho_previsto(t)) << t;
}

TEST(Registo, ChecksumFechaORegisto) {
  EXPECT_EQ(checksum(0x01, 0x0000, {}), 0xFF);
  EXPECT_EQ(checksum(0x00, 0x0010, {1, 2, 3, 4}), 0xE2);
  EXPECT_EQ(checksum(0x00, 0xFFFF, {0xFF, 0xFF, 0xFF}), 0x02);  // sums wrap; LL counts
  std::string s = "x";
  junta_hex(s, 0xAB, 2);
  junta_hex(s, 0x0C, 4);
  EXPECT_EQ(s, "xAB000C");
}

}  // namespace
}  // namespace xagsim
