// The platform's children for real: this test program starts copies of
// itself as the children, which check the arguments they got and write in
// pieces, while the parent gathers them through grava_placas.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>

#include "frontend/placas.hpp"

// The arguments every child is given (shared with the signal test): spaces,
// quotes and backslashes, as the Windows command line must carry them.
extern const char* const outros[];
extern const int n_outros;
const char* const outros[] = {"--filho", "a b", "c\"d", "e\\\"f", "g\\", "", "h\\\\i j\\"};
const int n_outros = sizeof outros / sizeof outros[0];

namespace {

void pausa() { std::this_thread::sleep_for(std::chrono::milliseconds(30)); }

// A child: its port's line in two pieces, a report, and status 3 for port B
// (9 when an argument came changed). A port named D... first sleeps 10 s.
int filho(int argc, char** argv) {
  if (argv[1][0] == 'D') std::this_thread::sleep_for(std::chrono::seconds(10));
  if (argc != n_outros + 2) return 9;
  for (int i = 0; i < n_outros; ++i) {
    if (std::strcmp(argv[i + 2], outros[i]) != 0) return 9;
  }
  std::printf("porta ");
  std::fflush(stdout);
  pausa();
  std::printf("%s\n", argv[1]);
  std::fflush(stdout);
  std::fprintf(stderr, "xagterm: pronto\n");
  return std::strcmp(argv[1], "B") == 0 ? 3 : 0;
}

}  // namespace

TEST(Filhos, EachChildGetsItsArgumentsAndItsStatusComesBack) {
  const char* portas[] = {"A", "B", "C"};
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  int status = grava_placas(Lote{nullptr, portas, 3, outros, n_outros, false});
  std::string saida = testing::internal::GetCapturedStdout();
  std::string erro = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 3);
  for (const char* p : portas) {
    EXPECT_NE(saida.find(std::string("porta ") + p + "\n"), std::string::npos) << saida;
    EXPECT_NE(erro.find(std::string("xagterm: ") + p + ": pronto\n"), std::string::npos) << erro;
  }
  EXPECT_NE(erro.find("xagterm: 2 de 3 placas gravadas; falhou: B (status 3)\n"), std::string::npos) << erro;
}

TEST(Filhos, AProgramThatIsNotThereIsReportedForItsPort) {
  const char* portas[] = {"A"};
  testing::internal::CaptureStderr();
  int status = grava_placas(Lote{"nao-ha-tal-programa", portas, 1, outros, n_outros, false});
  std::string erro = testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, 1);
  EXPECT_EQ(erro.find("xagterm: A: nao iniciou: "), 0U) << erro;
}

int main(int argc, char** argv) {
  if (argc > 2 && std::strcmp(argv[2], "--filho") == 0) return filho(argc, argv);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
