#include "serial/troca.hpp"

#include <cstdio>

#include "serial/porta.hpp"

namespace {

constexpr int pausa_por_poll_ms = 1;
constexpr int polls_pelo_eco = 50;
constexpr int pausa_da_resposta_ms = 10;
constexpr int passadas_da_resposta = 10;
constexpr int bytes_por_leitura = 20;

}  // namespace

int espera(int n) {
  for (int poll = 0; poll <= n; ++poll) {
    plat::dorme_ms(pausa_por_poll_ms);
    unsigned char c = 0;
    if (plat::porta_le(hcom, &c, 1) == 1) return c;
  }
  return -1;
}

int escreve_ser(int c) {
  unsigned char byte = static_cast<unsigned char>(c);
  plat::porta_escreve(hcom, &byte, 1);
  int r = espera(polls_pelo_eco);
  if (r > 0) std::putchar(r);
  return r;
}

int programa(const char* texto) {
  for (const char* p = texto; *p != '\0'; ++p) {
    if (escreve_ser(static_cast<unsigned char>(*p)) < 0) return -1;
  }
  return 0;
}

void esperares() {
  unsigned char buf[bytes_por_leitura];
  for (int passada = 0; passada < passadas_da_resposta; ++passada) {
    int lidos = 0;
    do {
      plat::dorme_ms(pausa_da_resposta_ms);
      lidos = plat::porta_le(hcom, buf, bytes_por_leitura);
      std::fwrite(buf, 1, static_cast<size_t>(lidos), stdout);
    } while (lidos == bytes_por_leitura);
  }
}
