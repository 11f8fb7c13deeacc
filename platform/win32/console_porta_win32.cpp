// Whether a port name leads to the program's own console.
#include <cstring>

#include "platform/plataforma.hpp"

namespace plat {

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
  if (std::strncmp(nome, "\\\\.\\", 4) == 0) nome += 4;
  return igual_sem_caixa(nome, "CON") || igual_sem_caixa(nome, "CONIN$") || igual_sem_caixa(nome, "CONOUT$");
}

}  // namespace plat
