#include "serial/troca.hpp"

#include <cstdint>
#include <cstring>

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
// A reply has ended once the line has been quiet this many character times.
constexpr int caracteres_de_silencio = 3;
// The most of a board's answer met while a record's echo is awaited.
constexpr int resposta_maxima = 64;

int resposta_vista = 0;       // answer bytes met in this record
bool retem_resposta = false;  // held for mostra_resposta, or shown as they come
unsigned char resposta[resposta_maxima];
int resposta_retida = 0;

// One character on the line, start and stop bits included.
std::int64_t tempo_de_caractere_us() { return 10'000'000 / taxa_da_linha; }

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

// The echo of c, from a board that may answer before it: a byte that differs
// is its answer (up to resposta_maxima of them) and the echo is awaited
// again, the budget counted afresh from that byte.
int espera_eco_de(unsigned char c, std::int64_t desde) {
  for (;;) {
    int r = espera_desde(desde, polls_pelo_eco);
    if (r < 0 || r == c || resposta_vista == resposta_maxima) return r;
    ++resposta_vista;
    if (retem_resposta) {
      resposta[resposta_retida++] = static_cast<unsigned char>(r);
    } else {
      mostra_byte(r);
    }
    desde = plat::agora_us();
  }
}

// Sends one byte and takes its echo, as escreve_ser says; with `separa`, as
// programa_registro says.
int envia_com_eco(int c, bool separa) {
  unsigned char byte = static_cast<unsigned char>(c);
  // The pause is counted from the write itself, so the write's own cost
  // falls inside it.
  std::int64_t enviado = plat::agora_us();
  bool foi = plat::porta_escreve(hcom, &byte, 1) == 1;
  // The previous echo is shown while this byte is on its way: the console
  // write overlaps the pause instead of lengthening the exchange.
  mostra_adiado();
  if (!foi) return -1;  // the line took nothing for seconds: no echo can come
  int r = separa ? espera_eco_de(byte, enviado) : espera_desde(enviado, polls_pelo_eco);
  if (r > 0) adia_eco(r);
  return r;
}

}  // namespace

int espera(int n) {
  mostra_adiado();
  return espera_desde(plat::agora_us(), n);
}

int escreve_ser(int c) { return envia_com_eco(c, false); }

int programa(const char* texto) {
  for (int i = 0; texto[i] != '\0'; ++i) {
    if (escreve_ser(static_cast<unsigned char>(texto[i])) < 0) return -1;
  }
  return 0;
}

int programa_registro(const char* registro, bool retem) {
  resposta_vista = 0;
  resposta_retida = 0;
  retem_resposta = retem;
  for (int i = 0; registro[i] != '\0'; ++i) {
    if (envia_com_eco(static_cast<unsigned char>(registro[i]), true) < 0) return -1;
  }
  return 0;
}

void mostra_resposta() {
  mostra_bytes(resposta, static_cast<std::size_t>(resposta_retida));
  resposta_retida = 0;
}

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

bool mostra_ate(int fim) {
  mostra_adiado();
  unsigned char buf[bytes_disponiveis_por_leitura];
  std::int64_t desde = plat::agora_us();
  for (int poll = 0; poll <= polls_pelo_eco; ++poll) {
    int lidos = plat::porta_le_disponivel(hcom, buf, bytes_disponiveis_por_leitura);
    if (lidos <= 0) {
      plat::dorme_ate_us(desde + pausa_por_poll_us);
      lidos = plat::porta_le(hcom, buf, 1);
      desde = plat::agora_us();
    }
    if (lidos <= 0) continue;
    mostra_bytes(buf, static_cast<std::size_t>(lidos));
    if (std::memchr(buf, fim, static_cast<std::size_t>(lidos)) != nullptr) return true;
  }
  return false;
}

void esperares() {
  mostra_adiado();
  unsigned char buf[bytes_por_leitura];
  std::int64_t ultimo = plat::agora_us();  // when the line last brought bytes
  for (int passada = 0; passada < passadas_da_resposta; ++passada) {
    int lidos = 0;
    do {
      plat::dorme_ms(pausa_da_resposta_ms);
      lidos = plat::porta_le(hcom, buf, bytes_por_leitura);
      mostra_bytes(buf, static_cast<std::size_t>(lidos));
      if (lidos > 0) ultimo = plat::agora_us();
    } while (lidos == bytes_por_leitura);
  }
  // On a slow line the reply is still coming: it has ended once the line has
  // been quiet for a few character times (at 9600 and above the passes
  // already were).
  const std::int64_t silencio_us = caracteres_de_silencio * tempo_de_caractere_us();
  for (std::int64_t falta; (falta = ultimo + silencio_us - plat::agora_us()) > 0;) {
    if ((plat::aguarda(hcom, plat::ev_linha, plat::em_ms(falta)) & plat::ev_linha) == 0) return;
    int lidos = plat::porta_le(hcom, buf, bytes_por_leitura);
    mostra_bytes(buf, static_cast<std::size_t>(lidos));
    if (lidos > 0) ultimo = plat::agora_us();
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
    unsigned ev = plat::aguarda(hcom, plat::ev_linha, plat::em_ms(falta));
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
