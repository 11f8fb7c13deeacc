// The Linux platform layer's own rules that need no serial device.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

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

// A log past the file-size limit: the write fails with EFBIG, the process
// lives. Run in a child of its own.
[[noreturn]] void escreve_alem_do_limite() {
  plat::processo_inicia();
  const rlimit limite{8, 8};
  setrlimit(RLIMIT_FSIZE, &limite);
  char nome[] = "/tmp/xag_limite_XXXXXX";
  close(mkstemp(nome));
  bool nao_comum = false;
  std::FILE* f = plat::arquivo_acrescenta(nome, nao_comum);
  std::setvbuf(f, nullptr, _IONBF, 0);
  bool foi = std::fwrite("0123456789", 1, 10, f) == 10;
  int erro = errno;
  unlink(nome);
  std::_Exit(!foi && erro == EFBIG ? 0 : 1);
}

TEST(ProcessoLinux, FileSizeLimitFailsTheWriteInsteadOfKilling) {
  EXPECT_EXIT(escreve_alem_do_limite(), ::testing::ExitedWithCode(0), "");
}

// A keyboard whose file is non-blocking: no key yet is a wait, not its end.
[[noreturn]] void le_tecla_sem_bloqueio() {
  int tubo[2];
  if (pipe(tubo) != 0) std::_Exit(2);
  dup2(tubo[0], STDIN_FILENO);
  fcntl(STDIN_FILENO, F_SETFL, fcntl(STDIN_FILENO, F_GETFL) | O_NONBLOCK);
  std::thread tecla([&] {
    usleep(20000);
    (void)!write(tubo[1], "x", 1);
  });
  int c = plat::tecla_le();
  tecla.join();
  std::_Exit(c == 'x' ? 0 : 1);
}

TEST(ConsoleLinux, NonBlockingKeyboardWaitsForTheKey) {
  EXPECT_EXIT(le_tecla_sem_bloqueio(), ::testing::ExitedWithCode(0), "");
}

// Whole milliseconds, rounded up: never a wait that ends before its instant.
TEST(Relogio, MicrosecondsRoundUpToWholeMilliseconds) {
  const std::int64_t us[] = {-5, 0, 1, 999, 1000, 1001, 2000};
  const int ms[] = {0, 0, 1, 1, 1, 2, 2};
  for (int i = 0; i < 7; ++i) EXPECT_EQ(plat::em_ms(us[i]), ms[i]) << us[i];
}

}  // namespace
