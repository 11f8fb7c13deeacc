#include "programming/registros.hpp"

#include <gtest/gtest.h>

#include <string>

namespace {

// Sum of the bytes from LL through the checksum, computed from the text
// alone: zero modulo 256 for a good Intel HEX record.
int soma_do_registro(const std::string& r) {
  int soma = 0;
  std::string hex = r.substr(1, r.find_first_of("\r\n") - 1);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) soma += std::stoi(hex.substr(i, 2), nullptr, 16);
  return soma & 0xFF;
}

std::string apaga(std::int32_t codigo) {
  char buf[tamanho_registro];
  registro_apaga(buf, codigo);
  return buf;
}

std::string mostra(std::int32_t s, std::int32_t e) {
  char buf[tamanho_registro];
  registro_mostra(buf, s, e);
  return buf;
}

}  // namespace

TEST(Registros, EraseRecordsForEveryBlock) {
  EXPECT_EQ(apaga(0xC0), ":0200008301C0BA\n");
  EXPECT_EQ(apaga(0x40), ":0200008301403A\n");
  EXPECT_EQ(apaga(0x00), ":0200008301007A\n");
  for (std::int32_t codigo : bloco) {
    std::string r = apaga(codigo);
    EXPECT_EQ(r.size(), 16u) << r;
    EXPECT_EQ(soma_do_registro(r), 0) << r;
  }
}

TEST(Registros, DisplayRecordFromTheMenuExample) {
  EXPECT_EQ(mostra(0x0100, 0x010F), ":050000840100010F0066\n");
}

TEST(Registros, DisplayRecordWithCountZeroAtZeroWrapsToFFFF) {
  EXPECT_EQ(mostra(0, -1), ":050000840000FFFF0079\n");
}

TEST(Registros, DisplayChecksumAgreesWithThePrintedDigitsForAnyRange) {
  const std::int32_t valores[] = {0,
                                  1,
                                  0xFF,
                                  0x100,
                                  0x7FFF,
                                  0x8000,
                                  0xFFFF,
                                  0x10000,
                                  0x1234F,
                                  0x7FFFFFFF,
                                  -1,
                                  -0x8000,
                                  static_cast<std::int32_t>(0x80000000u)};
  for (std::int32_t s : valores) {
    for (std::int32_t e : valores) {
      std::string r = mostra(s, e);
      ASSERT_EQ(r.size(), 22u) << r;
      EXPECT_EQ(soma_do_registro(r), 0) << r;
    }
  }
}

TEST(Registros, DisplayPrintsTheLow16BitsOfAnEndPastFFFF) {
  EXPECT_EQ(mostra(0xFFF0, 0x1000F).substr(0, 17), ":05000084FFF0000F");
}

TEST(Registros, FixedCommandRecordsCarryGoodChecksums) {
  for (const char* r : registro_zera_status) EXPECT_EQ(soma_do_registro(r), 0) << r;
  EXPECT_EQ(soma_do_registro(registro_le_status), 0);
  EXPECT_EQ(soma_do_registro(registro_le_boot), 0);
}
