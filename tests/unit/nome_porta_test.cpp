#include <gtest/gtest.h>

#include <string>

#include "platform/linux/linux.hpp"

namespace {

std::string caminho(const char* nome) {
  char buf[64];
  return plat::caminho_da_porta(nome, buf, sizeof buf) ? std::string(buf) : "(none)";
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
