#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "platform/linux/linux.hpp"
#include "platform/ordem_natural.hpp"
#include "platform/plataforma.hpp"

namespace {

std::string caminho(const char* nome) {
  char buf[64];
  return plat::caminho_da_porta(nome, buf, sizeof buf) ? std::string(buf) : "(none)";
}

// By the letters, then by the number, then as written; Windows's letters
// without regard to case.
TEST(OrdemNatural, PortNames) {
  struct {
    const char* a;
    const char* b;
    bool sem_caixa;
    int sinal;
  } const casos[] = {
      {"ttyS2", "ttyS10", false, -1},    {"ttyS10", "ttyS9", false, 1}, {"ttyACM0", "ttyS0", false, -1},
      {"ttyS1", "ttyS1", false, 0},      {"com2", "COM10", true, -1},   {"COM3", "com3", true, -1},
      {"ttyUSB0", "ttymxc0", false, -1}, {"COM9", "LPT1", true, -1},
  };
  for (const auto& c : casos) {
    int r = plat::compara_nomes_de_porta(c.a, c.b, c.sem_caixa);
    EXPECT_EQ((r > 0) - (r < 0), c.sinal) << c.a << " " << c.b;
  }
}

}  // namespace

TEST(NomeDaPorta, ComNIsTtySNMinusOne) {
  EXPECT_EQ(caminho("COM1"), "/dev/ttyS0");
  EXPECT_EQ(caminho("com2"), "/dev/ttyS1");
  EXPECT_EQ(caminho("COM12"), "/dev/ttyS11");
  EXPECT_EQ(caminho("COM256"), "/dev/ttyS255");
  EXPECT_EQ(caminho("\\\\.\\COM3"), "/dev/ttyS2");  // as Windows writes it
}

TEST(NomeDaPorta, ComNamesOutsideOneTo256DesignateNothing) {
  EXPECT_EQ(caminho("COM0"), "(none)");
  EXPECT_EQ(caminho("COM257"), "(none)");
  EXPECT_EQ(caminho("COM999"), "(none)");
  EXPECT_EQ(caminho("COM99999999999999999999"), "(none)");
  EXPECT_EQ(caminho("COM3x"), "(none)");
  EXPECT_EQ(caminho("com1.hex"), "(none)");
  EXPECT_EQ(caminho("COM"), "(none)");
  EXPECT_EQ(caminho("Com1"), "(none)");
}

TEST(NomeDaPorta, DevicePathsAreTakenAsTheyStand) {
  EXPECT_EQ(caminho("/dev/ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(caminho("/dev/pts/7"), "/dev/pts/7");
}

TEST(NomeDaPorta, APathThatDoesNotFitIsRefused) {
  std::string longo = "/dev/" + std::string(100, 'x');
  EXPECT_EQ(caminho(longo.c_str()), "(none)");
}

TEST(NomeDaPorta, AFileIsNeverAPortButABareTtyNameAlwaysIs) {
  char modelo[] = "/tmp/xag-porta-XXXXXX";
  int fd = mkstemp(modelo);
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(caminho(modelo), "(none)");
  EXPECT_FALSE(plat::porta_nomeia_dispositivo(modelo));
  unlink(modelo);
  EXPECT_TRUE(plat::porta_nomeia_dispositivo("/dev/null"));
  EXPECT_EQ(caminho("ttyUSB97"), "/dev/ttyUSB97");  // absent: the path its open will try
  EXPECT_EQ(caminho("notty"), "(none)");
}
