#include "serial/troca.hpp"

#include <cstdint>

#include "saida/saida.hpp"
#include "platform/plataforma.hpp"
#include "serial/porta.hpp"

namespace {

constexpr std::int64_t pausa_por_poll_us = 1000;
constexpr int polls_pelo_eco = 50;
constexpr int pausa_da_resposta_ms = 10;
constexpr int passadas_da_resposta = 10;
constexpr int bytes_por_leitura = 20;
// Up to a pty's or a UART driver's buffer at a time.
constexpr int bytes_disponiveis_por_leitura = 4096;

// Up to n + 1 polls: each a 1 ms pause, counted from `desde` for the first
// one and from the end of the last read after that, then a read bounded by
// the port's 1 ms time-out.
int espera_desde(std::int64_t desde, int n) {
  for (int poll = 0; poll <= n; ++poll) {
    plat::dorme_ate_us(desde + pausa_por_poll_us);
    unsigned char c = 0;
    if (plat::porta_le(hcom, &c, 1) == 1) return c;
    desde = plat::agora_us();
  }
  return -1;
}

}  // namespace

int espera(int n) {
  mostra_adiado();
  return espera_desde(plat::agora_us(), n);
}

int escreve_ser(int c) {
  unsigned char byte = static_cast<unsigned char>(c);
  // The pause is counted from the write itself, so the write's own cost
  // falls inside it.
  std::int64_t enviado = plat::agora_us();
  bool foi = plat::porta_escreve(hcom, &byte, 1) == 1;
  // The previous echo is shown while this byte is on its way: the console
  // write overlaps the pause instead of lengthening the exchange.
  mostra_adiado();
  if (!foi) return -1;  // the line took nothing for seconds: no echo can come
  int r = espera_desde(enviado, polls_pelo_eco);
  if (r > 0) adia_eco(r);
  return r;
}

int envia_texto(const char* texto) {
  for (int i = 0; texto[i] != '\0'; ++i) {
    if (escreve_ser(static_cast<unsigned char>(texto[i])) < 0) return i + 1;
  }
  return 0;
}

int programa(const char* texto) { return envia_texto(texto) == 0 ? 0 : -1; }

int mostra_disponivel() {
  unsigned char buf[bytes_disponiveis_por_leitura];
  int lidos = plat::porta_le_disponivel(hcom, buf, bytes_disponiveis_por_leitura);
  if (lidos > 0) mostra_bytes(buf, static_cast<std::size_t>(lidos));
  return lidos;
}

void mostra_pendentes() {
  while (mostra_disponivel() == bytes_disponiveis_por_leitura) {
  }
}

void esperares() {
  mostra_adiado();
  unsigned char buf[bytes_por_leitura];
  for (int passada = 0; passada < passadas_da_resposta; ++passada) {
    int lidos = 0;
    do {
      plat::dorme_ms(pausa_da_resposta_ms);
      lidos = plat::porta_le(hcom, buf, bytes_por_leitura);
      mostra_bytes(buf, static_cast<std::size_t>(lidos));
    } while (lidos == bytes_por_leitura);
  }
}
