// The line as the device sees it: the rate and format check, and a real
// pty's settings read through its master.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <termios.h>
#include <unistd.h>

#include <set>

#include "platform/linux/baud.hpp"
#include "sim/pty.hpp"
#include "sim/uart.hpp"

namespace xagsim {
namespace {

TEST(Uart, ByteDeturpadoNuncaEZeroNemOProprio) {
  std::set<std::uint8_t> vistos;
  for (unsigned b = 0; b < 256; ++b) {
    auto d = byte_deturpado(static_cast<std::uint8_t>(b));
    EXPECT_NE(d, 0x00) << b;
    EXPECT_NE(d, b) << b;
    vistos.insert(d);
  }
  EXPECT_GT(vistos.size(), 200u) << "not one constant";
}

TEST(Uart, FormatoCasaSoEm8N1ATaxaCerta) {
  EXPECT_TRUE(formato_casa({9600, true, false, false}, 9600));
  EXPECT_FALSE(formato_casa({19200, true, false, false}, 9600));
  EXPECT_FALSE(formato_casa({9600, false, false, false}, 9600));
  EXPECT_FALSE(formato_casa({9600, true, true, false}, 9600));
  EXPECT_FALSE(formato_casa({9600, true, false, true}, 9600));
}

TEST(Pty, LinhaCruaEAjustesLidosPeloMestre) {
  std::string erro;
  auto pty = abre_pty(erro);
  ASSERT_TRUE(pty) << erro;
  int linha = open(pty->linha.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(linha, 0);

  // Raw before anyone set it: nothing comes back from the kernel itself,
  // CR and LF go through as sent.
  termios t{};
  ASSERT_EQ(tcgetattr(linha, &t), 0);
  EXPECT_FALSE(t.c_lflag & (ECHO | ICANON | ISIG | IEXTEN));
  EXPECT_FALSE(t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP));
  EXPECT_FALSE(t.c_oflag & OPOST);
  ASSERT_EQ(write(pty->mestre, "a\r\n", 3), 3);
  char buf[8];
  ASSERT_EQ(read(linha, buf, sizeof buf), 3);
  EXPECT_EQ(std::string(buf, 3), "a\r\n");
  usleep(20'000);
  EXPECT_LT(read(pty->mestre, buf, sizeof buf), 0) << "no echo from the kernel";

  cfsetspeed(&t, B9600);
  ASSERT_EQ(tcsetattr(linha, TCSANOW, &t), 0);
  auto f = le_formato(pty->mestre);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->baud, 9600);
  EXPECT_TRUE(f->oito_bits && !f->paridade && !f->dois_stop);

  cfsetspeed(&t, B115200);
  t.c_cflag |= CSTOPB;
  ASSERT_EQ(tcsetattr(linha, TCSANOW, &t), 0);
  f = le_formato(pty->mestre);
  EXPECT_EQ(f->baud, 115200);
  EXPECT_TRUE(f->dois_stop);

  ASSERT_TRUE(plat::baud_arbitrario(linha, 12345));
  EXPECT_EQ(le_formato(pty->mestre)->baud, 12345);
  close(linha);
  close(pty->mestre);
}

}  // namespace
}  // namespace xagsim
