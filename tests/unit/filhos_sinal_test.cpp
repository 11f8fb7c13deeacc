// SIGTERM to the parent while its children run: passed on to them, and the
// parent ends of it only after they have ended and been summed up.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>

#include "frontend/placas.hpp"

extern const char* const outros[];
extern const int n_outros;

TEST(FilhosDeathTest, SigtermReachesTheChildrenAndTheParentEndsAfterThem) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto inicio = std::chrono::steady_clock::now();
  // Both children sleep 10 s unless the signal ends them.
  const char* portas[] = {"D1", "D2"};
  EXPECT_EXIT(
      {
        std::thread([] {
          std::this_thread::sleep_for(std::chrono::milliseconds(300));
          std::raise(SIGTERM);
        }).detach();
        grava_placas(Lote{nullptr, portas, 2, outros, n_outros, false});
      },
      testing::KilledBySignal(SIGTERM),
      "xagterm: 0 de 2 placas gravadas; falharam: D1 \\(status 143\\), D2 \\(status 143\\)");
  EXPECT_LT(std::chrono::steady_clock::now() - inicio, std::chrono::seconds(5));
}
