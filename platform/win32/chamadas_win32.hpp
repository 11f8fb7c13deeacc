// The Win32 calls the serial port layer and the console's keyboard make,
// through a table of function pointers. The program fills it with the system's own calls; the
// Win32 layer's tests put scripted ones in their place, to play what real
// drivers do and wine does not (writes left pending, a pulled adapter).
#pragma once

#include <windows.h>

namespace plat::win32 {

struct Chamadas {
  decltype(&::ReadFile) le;
  decltype(&::WriteFile) escreve;
  decltype(&::GetOverlappedResult) resultado;
  decltype(&::WaitCommEvent) espera_evento;
  decltype(&::CancelIoEx) cancela;
  decltype(&::ClearCommError) estado;  // the queues, and the probe of a port that may be gone
  decltype(&::GetCommState) le_ajustes;
  decltype(&::SetCommState) muda_ajustes;
  // The console's keyboard.
  decltype(&::GetConsoleMode) modo_console;
  decltype(&::SetConsoleMode) muda_modo_console;
  decltype(&::PeekConsoleInputA) espia_entrada;
  decltype(&::ReadConsoleInputA) le_entrada;
};

extern Chamadas chamadas;

}  // namespace plat::win32
