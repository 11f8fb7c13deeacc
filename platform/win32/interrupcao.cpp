// Ctrl-C and Ctrl-Break during an upload on Windows: a console control
// handler of our own notes them while the upload runs (TRUE: handled), as is
// a Ctrl-C read as a key, and the program then ends as the default handling
// ends it.
#include <atomic>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

std::atomic<bool> notado{false};
bool segura = false;

// Runs on a thread of the system's own.
BOOL WINAPI ao_controle(DWORD tipo) {
  if (tipo != CTRL_C_EVENT && tipo != CTRL_BREAK_EVENT) return FALSE;
  notado = true;
  return TRUE;
}

}  // namespace

namespace win32 {

void ctrl_c_lido() {
  if (!segura) termina_pela_interrupcao();
  notado = true;
}

}  // namespace win32

void interrupcao_segura(bool liga) {
  segura = liga;
  if (liga) notado = false;
  SetConsoleCtrlHandler(ao_controle, liga ? TRUE : FALSE);
  if (!liga && notado) termina_pela_interrupcao();
}

// The console's input mode has no processed input: a Ctrl-C is a key in its
// queue, looked for there too.
bool interrompido() {
  if (!notado && segura && win32::ctrl_c_na_fila()) notado = true;
  return notado;
}

void termina_pela_interrupcao() {
  win32::console_restaura();
  ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace plat
