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

namespace {

constexpr int prazo_do_eco_ms = 50;
constexpr std::int64_t us_por_ms = 1000;

// Blocks until a byte is waiting or `prazo` has come. False when the time ran
// out, the line is gone or the wait was interrupted.
bool aguarda_byte(std::int64_t prazo) {
  for (;;) {
    if (plat::interrompido()) return false;
    std::int64_t falta = prazo - plat::agora_us();
    if (falta <= 0) return false;
    int ms = static_cast<int>((falta + us_por_ms - 1) / us_por_ms);
    unsigned ev = plat::aguarda(hcom, plat::ev_linha, ms);
    if ((ev & plat::ev_perdida) != 0) return false;
    if ((ev & plat::ev_linha) != 0) return true;
  }
}

// Shows echoes as escreve_ser does: every byte but 0x00.
void mostra_ecos(const unsigned char* buf, int n) {
  int inicio = 0;
  for (int i = 0; i <= n; ++i) {
    if (i < n && buf[i] != 0) continue;
    if (i > inicio) mostra_bytes(buf + inicio, static_cast<std::size_t>(i - inicio));
    inicio = i + 1;
  }
}

// The first of the n echoes that differs from its byte, or n.
int primeiro_diferente(const unsigned char* ecos, const char* texto, int n) {
  for (int i = 0; i < n; ++i) {
    if (ecos[i] != static_cast<unsigned char>(texto[i])) return i;
  }
  return n;
}

}  // namespace

int espera_ms(int ms) {
  mostra_adiado();
  std::int64_t prazo = plat::agora_us() + ms * us_por_ms;
  unsigned char c = 0;
  for (;;) {
    if (plat::porta_le_disponivel(hcom, &c, 1) == 1) return c;
    if (!aguarda_byte(prazo)) return -1;
  }
}

int envia_linha_inteira(const char* texto, int n, bool confere, int& eco) {
  mostra_adiado();
  eco = -1;
  int escritos = plat::porta_escreve(hcom, reinterpret_cast<const unsigned char*>(texto), n);
  std::int64_t prazo = plat::agora_us() + prazo_do_eco_ms * us_por_ms;
  unsigned char ecos[bytes_disponiveis_por_leitura];
  int vindos = 0;
  while (vindos < escritos) {
    int lidos = plat::porta_le_disponivel(hcom, ecos, escritos - vindos);
    if (lidos <= 0) {
      if (!aguarda_byte(prazo)) return vindos + 1;
      continue;
    }
    int certos = confere ? primeiro_diferente(ecos, texto + vindos, lidos) : lidos;
    mostra_ecos(ecos, certos < lidos ? certos + 1 : lidos);
    if (certos < lidos) {
      eco = ecos[certos];
      return vindos + certos + 1;
    }
    vindos += lidos;
    prazo = plat::agora_us() + prazo_do_eco_ms * us_por_ms;
  }
  return escritos < n ? escritos + 1 : 0;
}
