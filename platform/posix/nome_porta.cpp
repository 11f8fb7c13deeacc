#include "platform/posix/nome_porta.hpp"

#include <cstdio>
#include <cstring>

namespace plat {

namespace {

bool numero_com(const char* digitos, int& n) {
  if (*digitos == '\0') return false;
  n = 0;
  for (const char* d = digitos; *d != '\0'; ++d) {
    if (*d < '0' || *d > '9') return false;
    n = n * 10 + (*d - '0');
    if (n > 256) return false;
  }
  return n >= 1;
}

}  // namespace

bool caminho_da_porta(const char* nome, char* buf, std::size_t tamanho) {
  if (std::strncmp(nome, "/dev/", 5) == 0) {
    if (std::strlen(nome) >= tamanho) return false;
    std::memcpy(buf, nome, std::strlen(nome) + 1);
    return true;
  }
  if (std::strncmp(nome, "\\\\.\\", 4) == 0) nome += 4;  // \\.\COMn, as Windows writes it
  int n = 0;
  bool com = std::strncmp(nome, "COM", 3) == 0 || std::strncmp(nome, "com", 3) == 0;
  if (!com || !numero_com(nome + 3, n)) return false;
  int escrito = std::snprintf(buf, tamanho, "/dev/ttyS%d", n - 1);
  return escrito > 0 && static_cast<std::size_t>(escrito) < tamanho;
}

}  // namespace plat
