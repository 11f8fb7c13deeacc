// The unit tests capture stdout and stderr while the program writes to them,
// which would swallow gtest's own report of a failure made meanwhile: every
// failure is also written to a copy of stderr taken before any capture.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>

#include "saida/saida.hpp"
#include "tests/unit/apoio.hpp"

namespace {

// An echo a test left held back would be shown by the next test's first
// write: it goes, unseen, before each test. Every test then starts as its own
// process would (CTest runs one per process; wine runs them all in one).
class EcoDeixado : public ::testing::EmptyTestEventListener {
 public:
  void OnTestStart(const ::testing::TestInfo&) override {
    Captura descarte(stdout);
    mostra_adiado();
  }
};

class FalhasVisiveis : public ::testing::EmptyTestEventListener {
 public:
  FalhasVisiveis() : saida_(fdopen(dup(STDERR_FILENO), "w")) {}
  void OnTestPartResult(const ::testing::TestPartResult& r) override {
    if (saida_ == nullptr || !r.failed()) return;
    std::fprintf(saida_, "%s:%d: Failure\n%s\n", r.file_name() ? r.file_name() : "?", r.line_number(),
                 r.message());
    std::fflush(saida_);
  }

 private:
  std::FILE* saida_;
};

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::UnitTest::GetInstance()->listeners().Append(new FalhasVisiveis);
  ::testing::UnitTest::GetInstance()->listeners().Append(new EcoDeixado);
  return RUN_ALL_TESTS();
}
