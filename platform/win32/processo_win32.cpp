// The process on Windows. The 1 ms timer period is asked for at start-up
// (the port's 1 ms read time-out and the waits run on it) and given back on
// every way out: a return from main, exit(), and the console's Ctrl-C,
// Ctrl-Break and close. Nothing else is needed: the port is opened with
// CreateFileA, which can never take the place of a standard stream, and a
// reader of standard output that goes away makes the write fail (EPIPE).
#include <cstdlib>

#include "platform/win32/win32.hpp"

#include <timeapi.h>

namespace plat {

namespace {

constexpr UINT periodo_ms = 1;

void devolve_periodo() {
  static bool devolvido = false;
  if (devolvido) return;
  devolvido = true;
  timeEndPeriod(periodo_ms);
}

// The console's default handling still ends the process: FALSE passes it on.
BOOL WINAPI ao_controle(DWORD) {
  devolve_periodo();
  return FALSE;
}

}  // namespace

// For now the period is held for the whole session (asked for at start).
void temporizador_fino(bool) {}

void processo_inicia() {
  timeBeginPeriod(periodo_ms);
  std::atexit(devolve_periodo);
  SetConsoleCtrlHandler(ao_controle, TRUE);
}

}  // namespace plat

// Wildcards in the arguments (*.hex) are expanded to file names by the
// runtime's start-up, before main sees them, as a Windows user expects.
extern "C" {
int _dowildcard = -1;
}
