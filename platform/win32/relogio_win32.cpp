// The clock and sleeps on Windows: QueryPerformanceCounter, and a waitable
// timer (high resolution where the system has one; the 1 ms timer period
// asked for at start-up holds for the others).
#include "platform/win32/win32.hpp"

namespace plat {

namespace {

constexpr std::int64_t margem_us = 100;
constexpr DWORD alta_resolucao = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803

HANDLE relogio() {
  static HANDLE t = [] {
    HANDLE r = CreateWaitableTimerExW(nullptr, nullptr, alta_resolucao, TIMER_ALL_ACCESS);
    return r != nullptr ? r : CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
  }();
  return t;
}

std::int64_t frequencia() {
  static const std::int64_t f = [] {
    LARGE_INTEGER v{};
    QueryPerformanceFrequency(&v);
    return static_cast<std::int64_t>(v.QuadPart);
  }();
  return f;
}

}  // namespace

std::int64_t agora_us() {
  LARGE_INTEGER v{};
  QueryPerformanceCounter(&v);
  std::int64_t f = frequencia();
  return v.QuadPart / f * 1'000'000 + v.QuadPart % f * 1'000'000 / f;
}

// The timer wakes the thread a little after its time: asleep until this
// close to the instant, then watch the clock for the rest.
void dorme_ate_us(std::int64_t instante) {
  std::int64_t falta = instante - margem_us - agora_us();
  if (falta > 0) {
    LARGE_INTEGER quando{};
    quando.QuadPart = -10 * falta;  // relative, in 100 ns units
    HANDLE t = relogio();
    if (t != nullptr && SetWaitableTimer(t, &quando, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(t, INFINITE);
    } else {
      Sleep(static_cast<DWORD>(falta / 1000));
    }
  }
  while (agora_us() < instante) YieldProcessor();
}

void dorme_ms(int ms) { dorme_ate_us(agora_us() + 1000LL * ms); }

}  // namespace plat
