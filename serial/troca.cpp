#include "serial/troca.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/plataforma.hpp"
#include "saida/saida.hpp"
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

// The most of the reply drain, for a board that never stops talking.
constexpr std::int64_t dreno_maximo_us = 2'000'000;
constexpr int ctrl_x = 0x18;  // leave

int resposta_vista = 0;                 // answer bytes met in this record or line end
int resposta_limite = resposta_maxima;  // and how many of them may be
bool retem_resposta = false;            // held for mostra_resposta, or shown as they come
unsigned char resposta[resposta_maxima];
int resposta_retida = 0;
int tecla_guardada = -1;  // a key typed during a reply drain, for the terminal

// One character on the line, start and stop bits included.
std::int64_t tempo_de_caractere_us() { return 10'000'000 / taxa_da_linha; }

// What a port adds to each echo's and answer's way there and back beyond the
// line's own character times: a network port's round trip, as the socket
// knows it now; nothing on a local line. Every wait for the board grows by
// it once.
std::int64_t atraso_da_porta_us() { return plat::porta_ida_e_volta_us(hcom); }

// True once the n + 1 polls of a budget are over (`poll` counts from 0) and
// the port's round trip has been waited out after them; `fim` keeps, between
// calls, when that wait ends.
bool polls_acabaram(int poll, int n, std::int64_t& fim) {
  if (poll < n) return false;
  std::int64_t agora = plat::agora_us();
  if (poll == n) fim = agora + atraso_da_porta_us();
  return agora >= fim;
}

// Up to n + 1 polls: each a 1 ms pause, counted from `desde` for the first
// one and from the end of the last read after that, then a read bounded by
// the port's 1 ms time-out.
int espera_desde(std::int64_t desde, int n) {
  std::int64_t fim = 0;
  for (int poll = 0; !polls_acabaram(poll - 1, n, fim); ++poll) {
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
    if (r < 0 || r == c || resposta_vista == resposta_limite) return r;
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
  resposta_limite = resposta_maxima;
  retem_resposta = retem;
  for (int i = 0; registro[i] != '\0'; ++i) {
    if (envia_com_eco(static_cast<unsigned char>(registro[i]), true) < 0) return -1;
  }
  return 0;
}

int resposta_guardada(const unsigned char*& bytes) {
  bytes = resposta;
  return resposta_retida;
}

void espera_resposta_antecipada(int maximo) {
  resposta_vista = 0;
  resposta_retida = 0;
  resposta_limite = maximo < resposta_maxima ? maximo : resposta_maxima;
  retem_resposta = true;
}

int escreve_fim_de_linha(int c) { return envia_com_eco(c, true); }

int toma_resposta(unsigned char* buf) {
  int n = resposta_retida;
  std::memcpy(buf, resposta, static_cast<std::size_t>(n));
  resposta_retida = 0;
  return n;
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
  std::int64_t fim_das_polls = 0;
  for (int poll = 0; !polls_acabaram(poll - 1, polls_pelo_eco, fim_das_polls); ++poll) {
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

namespace {

// A key typed while the reply is drained is kept for the terminal, and the
// keyboard left alone after it; Ctrl-X also ends the drain: false then.
bool olha_teclado() {
  if (tecla_guardada >= 0 || !plat::tecla_pronta()) return true;
  tecla_guardada = plat::tecla_le();
  return tecla_guardada != ctrl_x;
}

}  // namespace

bool esperares() {
  mostra_adiado();
  unsigned char buf[bytes_por_leitura];
  const std::int64_t fim = plat::agora_us() + dreno_maximo_us;
  std::int64_t ultimo = plat::agora_us();  // when the line last brought bytes
  for (int passada = 0; passada < passadas_da_resposta; ++passada) {
    int lidos = 0;
    do {
      plat::dorme_ms(pausa_da_resposta_ms);
      if (!olha_teclado()) return false;
      lidos = plat::porta_le(hcom, buf, bytes_por_leitura);
      mostra_bytes(buf, static_cast<std::size_t>(lidos));
      if (lidos > 0) ultimo = plat::agora_us();
      if (plat::agora_us() >= fim) return true;
    } while (lidos == bytes_por_leitura);
  }
  // On a slow line the reply is still coming: it has ended once the line has
  // been quiet for a few character times (at 9600 and above the passes
  // already were).
  const std::int64_t silencio_us = caracteres_de_silencio * tempo_de_caractere_us() + atraso_da_porta_us();
  for (std::int64_t falta; (falta = std::min(ultimo + silencio_us, fim) - plat::agora_us()) > 0;) {
    unsigned eventos = plat::ev_linha | (tecla_guardada < 0 ? plat::ev_tecla : 0U);
    unsigned achou = plat::aguarda(hcom, eventos, plat::em_ms(falta));
    if ((achou & plat::ev_tecla) != 0 && !olha_teclado()) return false;
    if ((achou & (plat::ev_linha | plat::ev_tecla)) == 0) return true;
    int lidos = plat::porta_le_disponivel(hcom, buf, bytes_por_leitura);
    mostra_bytes(buf, static_cast<std::size_t>(lidos));
    if (lidos > 0) ultimo = plat::agora_us();
  }
  return true;
}

int toma_tecla_guardada() {
  int tecla = tecla_guardada;
  tecla_guardada = -1;
  return tecla;
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

// The first echo of a whole line comes once its byte has crossed the line
// twice (there and back); each next one a character time after the one
// before. Both on top of the 50 ms an echo may take.
std::int64_t prazo_do_primeiro_eco_us() {
  return prazo_do_eco_ms * us_por_ms + 2 * tempo_de_caractere_us() + atraso_da_porta_us();
}
std::int64_t prazo_do_eco_seguinte_us() {
  return prazo_do_eco_ms * us_por_ms + tempo_de_caractere_us() + atraso_da_porta_us();
}

// Holds a byte of an answer that came before its line's last echoes; false
// once the answer is whole.
bool guarda_resposta(unsigned char c) {
  if (!retem_resposta || resposta_vista >= resposta_limite) return false;
  ++resposta_vista;
  resposta[resposta_retida++] = c;
  return true;
}

}  // namespace

int espera_ms(int ms) {
  mostra_adiado();
  std::int64_t prazo = plat::agora_us() + ms * us_por_ms + atraso_da_porta_us();
  unsigned char c = 0;
  for (;;) {
    if (plat::porta_le_disponivel(hcom, &c, 1) == 1) return c;
    if (!aguarda_byte(prazo)) return -1;
  }
}

int envia_linha_inteira(const char* texto, int n, int registro, bool confere, int& eco) {
  mostra_adiado();
  eco = -1;
  int escritos = plat::porta_escreve(hcom, reinterpret_cast<const unsigned char*>(texto), n);
  std::int64_t prazo = plat::agora_us() + prazo_do_primeiro_eco_us();
  unsigned char lidos_buf[bytes_disponiveis_por_leitura];
  unsigned char ecos[bytes_disponiveis_por_leitura];  // what is shown of them
  int vindos = 0;
  while (vindos < escritos) {
    // Never more than the echoes still due: what follows them is the answer.
    int lidos = plat::porta_le_disponivel(hcom, lidos_buf, escritos - vindos);
    if (lidos <= 0) {
      if (!aguarda_byte(prazo)) return vindos + 1;
      continue;
    }
    int mostrar = 0;
    for (int i = 0; i < lidos; ++i) {
      unsigned char c = lidos_buf[i];
      bool certo = !confere || c == static_cast<unsigned char>(texto[vindos]);
      if (!certo && vindos >= registro && guarda_resposta(c)) continue;
      if (c != 0) ecos[mostrar++] = c;  // shown as escreve_ser shows them
      if (!certo) {
        mostra_bytes(ecos, static_cast<std::size_t>(mostrar));
        eco = c;
        return vindos + 1;
      }
      ++vindos;
    }
    mostra_bytes(ecos, static_cast<std::size_t>(mostrar));
    prazo = plat::agora_us() + prazo_do_eco_seguinte_us();
  }
  return escritos < n ? escritos + 1 : 0;
}
