// The order of port names in the list of ports, on both sides of the
// platform layer.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace plat {

// The first n characters of a and b compared, letters without regard to
// their case when sem_caixa (Windows's names: com3 is COM3).
inline int compara_letras(const char* a, const char* b, std::size_t n, bool sem_caixa) {
  for (std::size_t i = 0; i < n; ++i) {
    int x = static_cast<unsigned char>(a[i]);
    int y = static_cast<unsigned char>(b[i]);
    if (sem_caixa && x >= 'A' && x <= 'Z') x += 'a' - 'A';  // as _stricmp: to lower case
    if (sem_caixa && y >= 'A' && y <= 'Z') y += 'a' - 'A';
    if (x != y || x == 0) return x - y;
  }
  return 0;
}

// ttyS2 before ttyS10, COM2 before COM10: by the letters before the first
// digit, then by the number, then as they are written.
inline int compara_nomes_de_porta(const char* x, const char* y, bool sem_caixa) {
  std::size_t lx = std::strcspn(x, "0123456789");
  std::size_t ly = std::strcspn(y, "0123456789");
  if (lx != ly || compara_letras(x, y, lx, sem_caixa) != 0) {
    return compara_letras(x, y, static_cast<std::size_t>(-1), sem_caixa);
  }
  long nx = std::strtol(x + lx, nullptr, 10);
  long ny = std::strtol(y + ly, nullptr, 10);
  if (nx != ny) return nx < ny ? -1 : 1;
  return std::strcmp(x, y);
}

}  // namespace plat
