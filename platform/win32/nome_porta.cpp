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

namespace {

bool igual_sem_caixa(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    char x = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
    if (x != *b) return false;
  }
  return *a == *b;
}

}  // namespace

// CON and its two halves, as the system names them, with or without \\.\.
bool porta_e_console(const char* nome) {
  if (sob_prefixo_dispositivo(nome)) nome += sizeof prefixo_dispositivo - 1;
  return igual_sem_caixa(nome, "CON") || igual_sem_caixa(nome, "CONIN$") || igual_sem_caixa(nome, "CONOUT$");
}

}  // namespace plat
