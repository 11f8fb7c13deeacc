#include <windows.h>
#include <timeapi.h>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

// A high-resolution waitable timer sleeps close to the asked time; where the
// system has none, Sleep does with the timer resolution it has.
HANDLE relogio() {
  static HANDLE t = CreateWaitableTimerExW(nullptr, nullptr, 0x00000002 /* HIGH_RESOLUTION */,
                                           TIMER_ALL_ACCESS);
  return t;
}

}  // namespace

void dorme_ms(int ms) {
  HANDLE t = relogio();
  LARGE_INTEGER quando{};
  quando.QuadPart = -10000LL * ms;  // relative, in 100 ns units
  if (t != nullptr && SetWaitableTimer(t, &quando, 0, nullptr, nullptr, FALSE)) {
    WaitForSingleObject(t, INFINITE);
    return;
  }
  static const bool resolucao_fina = timeBeginPeriod(1) == TIMERR_NOERROR;
  (void)resolucao_fina;
  Sleep(static_cast<DWORD>(ms));
}

}  // namespace plat
