// The process on Windows. The fine timer period (relogio.cpp) is given back
// on every way out: a return from main, exit(), and the console's Ctrl-C,
// Ctrl-Break and close. Nothing else is needed: the port is opened
// with CreateFileW, which can never take the place of a standard stream, and
// a reader of standard output that goes away makes the write fail (EPIPE).
// Bytes written to a console through the runtime (the line's bytes) are
// turned into characters by the runtime's locale: in "C" as ISO 8859-1. Its
// character set is made the console's output code page, so that they look as
// the same bytes written by WriteFile look: a board's 0x87 is the console's
// ç under code page 437 or 850. The program's own texts with accents go to
// the console as UTF-16 (saida_console), and nothing is converted when
// standard output is not a console.
#include <windows.h>  // before shellapi.h, which needs it

#include <shellapi.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

// The arguments the ANSI code page could not hold, as UTF-8.
char argumentos_utf8[3 * 32768];

// main's argv is the runtime's __argv, in the ANSI code page: an argument
// with a character that code page lacks (it became '?') is put there again
// from the wide command line, as UTF-8, so that the name opens. When the
// runtime has expanded wildcards (*.hex) the two lists differ in length,
// and the arguments stay as they are.
void argumentos_perdidos() {
  int n = 0;
  LPWSTR* largos = CommandLineToArgvW(GetCommandLineW(), &n);
  if (largos == nullptr) return;
  std::size_t usado = 0;
  for (int i = 0; n == __argc && i < n; ++i) {
    char* destino = argumentos_utf8 + usado;
    int k = win32::nome_estreito(largos[i], static_cast<int>(std::wcslen(largos[i])), destino,
                                 static_cast<int>(sizeof argumentos_utf8 - usado));
    if (k < 0) break;
    if (std::strcmp(destino, __argv[i]) == 0) continue;  // the same bytes: nothing was lost
    __argv[i] = destino;
    usado += static_cast<std::size_t>(k) + 1;
  }
  LocalFree(largos);
}

// The console's default handling still ends the process: FALSE passes it on.
BOOL WINAPI ao_controle(DWORD) {
  win32::devolve_periodo();
  win32::console_restaura();
  return FALSE;
}

}  // namespace

void processo_inicia() {
  argumentos_perdidos();
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
