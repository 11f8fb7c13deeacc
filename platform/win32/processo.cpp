// The process on Windows. The fine timer period (relogio.cpp) is given back
// on every way out: a return from main, exit(), and the console's Ctrl-C,
// Ctrl-Break and close. Nothing else is needed: the port is opened
// with CreateFileA, which can never take the place of a standard stream, and
// a reader of standard output that goes away makes the write fail (EPIPE).
// Bytes written to a console through the runtime (the line's bytes) are
// turned into characters by the runtime's locale: in "C" as ISO 8859-1. Its
// character set is made the console's output code page, so that they look as
// the same bytes written by WriteFile look: a board's 0x87 is the console's
// ç under code page 437 or 850. The program's own texts with accents go to
// the console as UTF-16 (saida_console), and nothing is converted when
// standard output is not a console.
#include <clocale>
#include <cstdio>
#include <cstdlib>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

// The console's default handling still ends the process: FALSE passes it on.
BOOL WINAPI ao_controle(DWORD) {
  win32::devolve_periodo();
  win32::console_restaura();
  return FALSE;
}

}  // namespace

void processo_inicia() {
  if (UINT pagina = GetConsoleOutputCP(); pagina != 0) {
    char nome[16];
    std::snprintf(nome, sizeof nome, ".%u", pagina);
    std::setlocale(LC_CTYPE, nome);  // stays "C" where the runtime knows no such code page
  }
  std::atexit(win32::devolve_periodo);
  SetConsoleCtrlHandler(ao_controle, TRUE);
}

}  // namespace plat

// Wildcards in the arguments (*.hex) are expanded to file names by the
// runtime's start-up, before main sees them, as a Windows user expects.
extern "C" {
int _dowildcard = -1;
}
