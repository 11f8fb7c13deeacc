// The serial ports Windows knows of: the values under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, each a device name and its COM name.
#include <cstdio>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

// Adds "COMn  \Device\Serial0\n" to buf; false when it does not fit.
bool acrescenta(char* buf, std::size_t tamanho, std::size_t& usado, const char* com, const char* dispositivo) {
  int n = std::snprintf(buf + usado, tamanho - usado, "%s  %s\n", com, dispositivo);
  if (n < 0 || static_cast<std::size_t>(n) >= tamanho - usado) {
    buf[usado] = '\0';
    return false;
  }
  usado += static_cast<std::size_t>(n);
  return true;
}

}  // namespace

int portas_presentes(char* buf, std::size_t tamanho) {
  if (tamanho == 0) return 0;
  buf[0] = '\0';
  HKEY chave = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &chave) != ERROR_SUCCESS) {
    return 0;
  }
  std::size_t usado = 0;
  int achadas = 0;
  for (DWORD i = 0;; ++i) {
    char dispositivo[256];
    char com[64];
    DWORD tam_dispositivo = sizeof dispositivo;
    DWORD tam_com = sizeof com - 1;
    DWORD tipo = 0;
    LONG r = RegEnumValueA(chave, i, dispositivo, &tam_dispositivo, nullptr, &tipo,
                           reinterpret_cast<BYTE*>(com), &tam_com);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || tipo != REG_SZ) continue;
    com[tam_com] = '\0';
    if (!acrescenta(buf, tamanho, usado, com, dispositivo)) break;
    ++achadas;
  }
  RegCloseKey(chave);
  return achadas;
}

}  // namespace plat
