#include "platform/comum/guardados.hpp"

#include <cstring>

namespace guardados {

int tira(unsigned char* guardados, int& quantos, unsigned char* buf, int n) {
  int k = n < quantos ? n : quantos;
  std::memcpy(buf, guardados, static_cast<std::size_t>(k));
  std::memmove(guardados, guardados + k, static_cast<std::size_t>(quantos - k));
  quantos -= k;
  return k;
}

int razao(const unsigned char* guardados, int quantos, char* razao, int tamanho) {
  int n = 0;
  for (int i = 0; i < quantos && n < tamanho - 1; ++i) {
    unsigned char c = guardados[i];
    if (c == '\r' || c == '\n') c = ' ';
    if (c < ' ' || c > '~') continue;
    if (c == ' ' && (n == 0 || razao[n - 1] == ' ')) continue;
    razao[n++] = static_cast<char>(c);
  }
  while (n > 0 && razao[n - 1] == ' ') --n;
  razao[n] = '\0';
  return n;
}

}  // namespace guardados
