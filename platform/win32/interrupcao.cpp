// Ctrl-C and Ctrl-Break during an upload on Windows: a console control
// handler of our own notes them while the upload runs (TRUE: handled), and
// the program then ends as the default handling ends it.
#include <atomic>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

std::atomic<bool> notado{false};

// Runs on a thread of the system's own.
BOOL WINAPI ao_controle(DWORD tipo) {
  if (tipo != CTRL_C_EVENT && tipo != CTRL_BREAK_EVENT) return FALSE;
  notado = true;
  return TRUE;
}

}  // namespace

void interrupcao_segura(bool liga) {
  if (liga) notado = false;
  SetConsoleCtrlHandler(ao_controle, liga ? TRUE : FALSE);
  if (!liga && notado) termina_pela_interrupcao();
}

bool interrompido() { return notado; }

void termina_pela_interrupcao() {
  // The console's settings are never changed on Windows: nothing to restore.
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace plat
