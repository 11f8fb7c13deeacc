// The console on Windows: the runtime's _kbhit and _getch already read
// single keys without echo, and the console's own settings are never changed.
#include <conio.h>
#include <windows.h>

#include "platform/plataforma.hpp"

namespace plat {

void console_inicia() {}
void console_termina() {}
void console_linha() {}
void console_teclas() {}

bool tecla_pronta() { return _kbhit() != 0; }

int tecla_le() { return _getch() & 0xFF; }

// Neither the keyboard functions nor a synchronous port can be waited on
// together: look again every millisecond, as the port's read time-out would.
void espera_entrada(Porta p) {
  COMSTAT estado{};
  DWORD erros = 0;
  while (!_kbhit()) {
    if (ClearCommError(reinterpret_cast<HANDLE>(p), &erros, &estado) && estado.cbInQue > 0) return;
    Sleep(1);
  }
}

}  // namespace plat

// Wildcards in the arguments (*.hex) are expanded to file names by the
// runtime's start-up, before main sees them, as a Windows user expects.
extern "C" {
int _dowildcard = -1;
}
