// The Linux platform layer's own rules that need no serial device.
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "platform/plataforma.hpp"

namespace {

struct Registo {
  const char* caminho;
  bool aceito;
};

class ArquivoDoRegisto : public ::testing::TestWithParam<Registo> {};

TEST_P(ArquivoDoRegisto, KernelFilesAreRefusedAsNotOrdinary) {
  bool nao_comum = false;
  std::FILE* f = plat::arquivo_acrescenta(GetParam().caminho, nao_comum);
  EXPECT_EQ(f != nullptr, GetParam().aceito);
  EXPECT_EQ(nao_comum, !GetParam().aceito);
  if (f != nullptr) std::fclose(f);
}

const Registo registos[] = {
    {"/proc/self/comm", false},  // writable by its own process, as root or not
    {"/dev/shm/xag_registo_teste", true},
};
INSTANTIATE_TEST_SUITE_P(Linux, ArquivoDoRegisto, ::testing::ValuesIn(registos));

}  // namespace
