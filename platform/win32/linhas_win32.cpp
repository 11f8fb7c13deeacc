// The modem lines of a serial port, through the driver's escape functions.
#include <windows.h>

#include "platform/plataforma.hpp"
#include "platform/win32/win32.hpp"

namespace plat {

int porta_linha_modem(Porta p, int linha, bool liga) {
  DWORD funcao = linha == linha_dtr ? (liga ? SETDTR : CLRDTR) : (liga ? SETRTS : CLRRTS);
  if (EscapeCommFunction(win32::alca(p), funcao)) return 0;
  return win32::errno_de(GetLastError());
}

}  // namespace plat
