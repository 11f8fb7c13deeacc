// How a port argument names a serial device on Windows: COMn, and any name
// under the device prefix \\.\ (COM10 and up are reached only there, so
// every name goes through it).
#include <cstring>

#include "platform/win32/win32.hpp"

namespace plat {

bool porta_caminho(const char* nome, char* buf, std::size_t tamanho) {
  std::size_t n = std::strlen(nome);
  std::size_t p = sob_prefixo_dispositivo(nome) ? 0 : 4;
  if (p + n + 1 > tamanho) return false;
  std::memcpy(buf, prefixo_dispositivo, p);
  std::memcpy(buf + p, nome, n + 1);
  return true;
}

// Nothing but COMn and \\.\ names is a device here: a file that happens to
// exist is never taken for one.
bool porta_nomeia_dispositivo(const char* nome) { return sob_prefixo_dispositivo(nome) && nome[4] != '\0'; }

}  // namespace plat
