// The clock and sleeps on Windows: QueryPerformanceCounter, and a waitable
// timer (high resolution where the system has one, Windows 10 1803 and
// later; on older ones the 1 ms timer period that temporizador_fino asks for
// holds it to the millisecond). Under wine a waitable timer
// expires in the wineserver, which counts in whole milliseconds and wakes the
// thread through two more round trips (0.5-0.9 ms late on a 1 ms pause);
// there the pause is ntdll's NtDelayExecution instead, which wine carries out
// in the process itself with a microsecond select().
#include <windows.h>  // before timeapi.h, which needs it

#include <timeapi.h>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

// The 1 ms timer period (timeBeginPeriod) raises the whole machine's timer
// rate, so it is asked for only while an exchange paced by 1 ms pauses runs.
constexpr UINT periodo_ms = 1;

volatile LONG pedidos = 0;  // temporizador_fino(true) not yet matched

}  // namespace

namespace win32 {

FARPROC ntdll_do_wine(const char* nome) {
  HMODULE nt = GetModuleHandleW(L"ntdll.dll");
  if (nt == nullptr || GetProcAddress(nt, "wine_get_version") == nullptr) return nullptr;
  return GetProcAddress(nt, nome);
}

void devolve_periodo() {
  if (InterlockedExchange(&pedidos, 0) > 0) timeEndPeriod(periodo_ms);
}

}  // namespace win32

namespace {

constexpr std::int64_t margem_us = 100;
constexpr DWORD alta_resolucao = 0x00000002;  // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION, Windows 10 1803

using Adiamento = LONG(WINAPI*)(BOOLEAN alertavel, const LARGE_INTEGER* quando);

// NtDelayExecution under wine, nullptr on Windows, whose own sleeps keep to
// the timer period.
Adiamento adiamento_do_wine() {
  static Adiamento a =
      reinterpret_cast<Adiamento>(reinterpret_cast<void*>(win32::ntdll_do_wine("NtDelayExecution")));
  return a;
}

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
    Adiamento a = adiamento_do_wine();
    HANDLE t = a == nullptr ? relogio() : nullptr;
    if (a != nullptr) {
      a(FALSE, &quando);
    } else if (t != nullptr && SetWaitableTimer(t, &quando, 0, nullptr, nullptr, FALSE)) {
      WaitForSingleObject(t, INFINITE);
    } else {
      Sleep(static_cast<DWORD>(falta / 1000));
    }
  }
  while (agora_us() < instante) YieldProcessor();
}

void temporizador_fino(bool liga) {
  if (liga) {
    if (InterlockedIncrement(&pedidos) == 1) timeBeginPeriod(periodo_ms);
  } else if (pedidos > 0 && InterlockedDecrement(&pedidos) == 0) {
    timeEndPeriod(periodo_ms);
  }
}

void dorme_ms(int ms) { dorme_ate_us(agora_us() + 1000LL * ms); }

}  // namespace plat
