#include <gtest/gtest.h>

#include <algorithm>
#include <string_view>

#include "sim/dispositivo.hpp"

namespace xagsim {
namespace {

// Feeds texto a byte at a time; returns all the answers, in order.
std::string envia(Dispositivo& d, std::string_view texto) {
  std::string respostas;
  for (char c : texto) respostas += d.recebe(static_cast<std::uint8_t>(c));
  return respostas;
}

// A record sent with no line end, then the line going quiet.
std::string comando(Dispositivo& d, std::string_view texto) {
  std::string r = envia(d, texto);
  EXPECT_TRUE(d.espera_silencio()) << texto;
  return r + d.silencio();
}

std::string registo(std::uint8_t tipo, std::uint16_t endereco, std::vector<std::uint8_t> dados) {
  std::string r = ":";
  junta_hex(r, static_cast<unsigned>(dados.size()), 2);
  junta_hex(r, endereco, 4);
  junta_hex(r, tipo, 2);
  for (auto b : dados) junta_hex(r, b, 2);
  junta_hex(r, checksum(tipo, endereco, dados), 2);
  return r;
}

std::string ffs(int n) {  // unwritten bytes in a listing
  std::string s;
  while (n-- > 0) s += " FF";
  return s;
}

class DispositivoTeste : public ::testing::Test {
 protected:
  std::string estado() { return envia(d, ":02000085070171\n"); }
  Dispositivo d{0xFF, 0x00};
};

TEST_F(DispositivoTeste, CadaLFTemUmaResposta) {
  for (char c : std::string_view(":0400100001020304E2\r"))
    EXPECT_EQ(d.recebe(static_cast<std::uint8_t>(c)), "");
  EXPECT_EQ(d.recebe('\n'), ".\r\n");
  EXPECT_EQ(d.memoria().le(0x0013), 0x04);
  EXPECT_TRUE(d.memoria().escrito(0x0010));
  EXPECT_FALSE(d.memoria().escrito(0x0014));

  EXPECT_EQ(envia(d, ":0400200001020304E3\n"), "C\r\n");
  EXPECT_FALSE(d.memoria().escrito(0x0020)) << "a bad record stores nothing";
  EXPECT_EQ(envia(d, ":00000001FF\n"), ".\r\n");
}

TEST_F(DispositivoTeste, TudoOMaisERejeitado) {
  const std::string rejeitados[] = {
      "",
      "\r",
      "hello",
      ":0400100001020304XX",
      ":0400100001020304",
      ":00000001FF00",
      ":00000001 FF",
      ":" + std::string(5000, '0'),
      registo(0x02, 0x0000, {0x10, 0x00}),  // types this device knows not
      registo(0x04, 0x0000, {0x00, 0x00}),
      registo(0x83, 0x0010, {0x04}),  // commands not at 0000
      registo(0x84, 0x0001, {0x01, 0x00, 0x01, 0x0F, 0x00}),
      registo(0x85, 0x0100, {0x07, 0x01}),
      registo(0x83, 0x0000, {0x01, 0x10}),  // no such block
      registo(0x83, 0x0000, {0x05}),
      registo(0x83, 0x0000, {0x06, 0x01, 0x00}),
      registo(0x84, 0x0000, {0x01, 0x00, 0x01, 0x0F}),
      registo(0x84, 0x0000, {0x01, 0x00, 0x01, 0x0F, 0x01}),
      registo(0x85, 0x0000, {0x07, 0x03}),
      registo(0x85, 0x0000, {0x07, 0x01, 0x00}),
  };
  for (const auto& r : rejeitados) EXPECT_EQ(envia(d, r + "\n"), "R\r\n") << r;
  EXPECT_EQ(estado(), "FF\r\n");
}

TEST_F(DispositivoTeste, DoisPontosComecaORegisto) {
  // The rate handshake goes on the same line, before the record.
  EXPECT_EQ(envia(d,
                  "\x06"
                  "ff:02000085070171\n"),
            "FF\r\n");
  EXPECT_EQ(envia(d, ":0400100001:00000001FF\r\n"), ".\r\n");
}

TEST_F(DispositivoTeste, RegistoCompletoRespondidoNoSilencio) {
  Dispositivo d2{0xFF, 0x5A};
  EXPECT_EQ(comando(d2,
                    "\x06"
                    "f:02000085070270"),
            "5A\r\n");
  EXPECT_FALSE(d2.espera_silencio());
  EXPECT_EQ(d2.silencio(), "");
  EXPECT_EQ(envia(d2, "\r\n"), "") << "its line end gets no second answer";
  // Nor when the silence came after the CR.
  EXPECT_EQ(comando(d2, ":00000001FF\r"), ".\r\n");
  EXPECT_EQ(envia(d2, "\n"), "");
  // The next record may follow with no line end at all.
  EXPECT_EQ(comando(d2, ":00000001FE"), "C\r\n");
  EXPECT_EQ(comando(d2, ":02000085070171"), "FF\r\n");
}

TEST_F(DispositivoTeste, NoChecksumSoOsComandosRespondemLogo) {
  Dispositivo d2{0xFF, 0x00, true};
  EXPECT_EQ(envia(d2, ":010000830478"), ".\r\n");
  EXPECT_EQ(envia(d2, ":02000085070171"), "FF\r\n");
  EXPECT_EQ(envia(d2, "\r\n"), "");
  EXPECT_EQ(envia(d2, ":0400100001020304E2"), "") << "data waits for its line end";
  EXPECT_EQ(envia(d2, "\r\n"), ".\r\n");
}

TEST_F(DispositivoTeste, SilencioSemRegistoCompletoNaoFazNada) {
  for (const char* parcial : {":0200008507027", ":02", ":", "x", ":00000001FF0"}) {
    Dispositivo novo{0xFF, 0x00};
    envia(novo, parcial);
    EXPECT_FALSE(novo.espera_silencio()) << parcial;
    EXPECT_EQ(novo.silencio(), "") << parcial;
  }
}

TEST_F(DispositivoTeste, SequenciaLimpaOEstado) {
  const char* sequencia[] = {":010000830478", ":030000830601C0B3", ":030000830601F083", ":030000830601F87B"};
  for (int i = 0; i < 3; ++i) EXPECT_EQ(comando(d, sequencia[i]), ".\r\n");
  EXPECT_EQ(estado(), "FF\r\n");
  // That broke the sequence: the fourth alone does nothing.
  EXPECT_EQ(comando(d, sequencia[3]), ".\r\n");
  EXPECT_EQ(estado(), "FF\r\n");
  // Nor does it out of order.
  for (int i : {0, 2, 1, 3}) EXPECT_EQ(comando(d, sequencia[i]), ".\r\n");
  EXPECT_EQ(d.estado(), 0xFF);

  for (const char* r : sequencia) EXPECT_EQ(comando(d, r), ".\r\n");
  EXPECT_EQ(estado(), "00\r\n");
}

TEST_F(DispositivoTeste, ApagaCadaBloco) {
  struct Caso {
    std::uint8_t bloco;
    unsigned inicio, fim;
  };
  for (const Caso& c : {Caso{0x00, 0x0000, 0x1FFF}, Caso{0x20, 0x2000, 0x3FFF}, Caso{0x40, 0x4000, 0x7FFF},
                        Caso{0x80, 0x8000, 0xBFFF}, Caso{0xC0, 0xC000, 0xFFFF}}) {
    SCOPED_TRACE(c.inicio);
    Dispositivo novo{0xFF, 0x00};
    // A byte at each edge of the block and just outside it (past FFFF for
    // the blocks at either end).
    for (unsigned a : {c.inicio, c.fim, c.inicio - 1, c.fim + 1})
      ASSERT_EQ(envia(novo, registo(0x00, static_cast<std::uint16_t>(a), {0x55}) + "\r\n"), ".\r\n");
    EXPECT_EQ(comando(novo, registo(0x83, 0x0000, {0x01, c.bloco})), ".\r\n");

    const Memoria& m = novo.memoria();
    for (unsigned a : {c.inicio, c.fim}) {
      EXPECT_FALSE(m.escrito(static_cast<std::uint16_t>(a)));
      EXPECT_EQ(m.le(static_cast<std::uint16_t>(a)), 0xFF);
    }
    EXPECT_EQ(m.le(static_cast<std::uint16_t>(c.inicio - 1)), 0x55);
    EXPECT_EQ(m.le(static_cast<std::uint16_t>(c.fim + 1)), 0x55);
  }
}

TEST_F(DispositivoTeste, ListaDeSAE) {
  envia(d, ":0400100001020304E2\n");
  auto lista = [this](unsigned s, unsigned e) {
    auto b = [](unsigned v) { return static_cast<std::uint8_t>(v); };
    return envia(d, registo(0x84, 0x0000, {b(s >> 8), b(s), b(e >> 8), b(e), 0x00}) + "\n");
  };
  EXPECT_EQ(lista(0x0012, 0x0012), "0012: 03\r\n");
  EXPECT_EQ(lista(0x000E, 0x0020), "000E: FF FF 01 02 03 04" + ffs(10) + "\r\n001E:" + ffs(3) + "\r\n");
  EXPECT_EQ(lista(0xFFFD, 0x0011), "FFFD:" + ffs(16) + "\r\n000D: FF FF FF 01 02\r\n")
      << "past FFFF when E is below S";
  EXPECT_EQ(envia(d, ":050000840100010F0066\n"), "0100:" + ffs(16) + "\r\n");

  std::string tudo = lista(0x0000, 0xFFFF);
  EXPECT_EQ(std::count(tudo.begin(), tudo.end(), '\n'), 4096);
  EXPECT_TRUE(tudo.ends_with("\r\nFFF0:" + ffs(16) + "\r\n"));
}

}  // namespace
}  // namespace xagsim
