#include "programming/ciclo.hpp"

#include <cstdio>
#include <cstring>

#include "platform/plataforma.hpp"
#include "programming/menu.hpp"
#include "programming/registros.hpp"
#include "programming/upload.hpp"
#include "saida/saida.hpp"
#include "serial/porta.hpp"
#include "serial/troca.hpp"

namespace {

// Erasing flash takes the board a while before it says anything.
constexpr int prazo_do_apagamento_ms = 5000;
// Each answer character after the first, and every answer of a record that
// writes nothing big, as a data line's answer.
constexpr int prazo_da_resposta_ms = 500;
constexpr int caracteres_de_resposta = 3;
// The status and boot vector answers: two hex digits and a line end, kept
// to this much of whatever else a board says.
constexpr int resposta_de_linha_maxima = 16;
// A listing has ended once the line has been quiet this long, or three
// character times on a slow line.
constexpr std::int64_t silencio_da_listagem_us = 100'000;
constexpr std::int64_t caracteres_de_silencio = 3;
constexpr std::int64_t bits_por_caractere = 10;
constexpr std::int64_t us_por_s = 1'000'000;
constexpr std::int32_t fim_da_memoria = 0x10000;

// The blocks as the erase prompt names them, in the order of `bloco`.
const char* const nome_do_bloco[blocos] = {"0", "2", "4", "8", "C"};
const char* const faixa_do_bloco[blocos] = {"0000.1FFF", "2000.3FFF", "4000.7FFF", "8000.BFFF", "C000.FFFF"};

int maiuscula(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

int valor_hex(int c) {
  c = maiuscula(c);
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A hex number at p, advancing past it; values above `teto` are kept at
// teto + 1, so no number of digits overflows. -1 when there is no digit.
std::int32_t le_hex(const char*& p, std::int32_t teto) {
  if (valor_hex(*p) < 0) return -1;
  std::int32_t valor = 0;
  for (int d; (d = valor_hex(*p)) >= 0; ++p) {
    valor = valor * 16 + d;
    if (valor > teto) valor = teto + 1;
  }
  return valor;
}

// One block number of the list: its index in `bloco`, or -1.
int le_bloco(const char*& p) {
  std::int32_t numero = le_hex(p, 0xF);
  for (int i = 0; i < blocos && numero >= 0; ++i) {
    if (bloco[i] == numero * 16) return i;
  }
  return -1;
}

// A decimal number of the sequence at p, advancing past it; -1 when there
// is no digit or it is above teto.
int le_decimal(const char*& p, int teto) {
  if (*p < '0' || *p > '9') return -1;
  int valor = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    valor = valor * 10 + (*p - '0');
    if (valor > teto) return -1;
  }
  return valor;
}

// One step of the sequence at p, advancing past it. False when it is none.
bool le_passo(const char*& p, PassoDasLinhas& passo) {
  passo.acao = static_cast<char>(maiuscula(*p));
  if (passo.acao != 'D' && passo.acao != 'R' && passo.acao != 'W') return false;
  ++p;
  if (passo.acao == 'W') {
    passo.valor = le_decimal(p, espera_maxima_ms);
    return passo.valor >= 0;
  }
  if (*p != '0' && *p != '1') return false;
  passo.valor = *p++ - '0';
  return true;
}

// The answer held while the record's echoes came (a board that answers at
// its checksum), up to `maximo` bytes, copied into `bytes`. Returns how many.
int toma_guardada(unsigned char* bytes, int maximo) {
  const unsigned char* guardada = nullptr;
  int n = resposta_guardada(guardada);
  if (n < 0) n = 0;
  if (n > maximo) n = maximo;
  if (n > 0) std::memcpy(bytes, guardada, static_cast<std::size_t>(n));
  return n;
}

// A record's three answer characters, shown as they come: what was held
// while its echoes came, then the rest, the first within primeiro_ms and
// each next within 500 ms. Returns how many came.
int recebe_resposta(unsigned char* resposta, int primeiro_ms) {
  int n = toma_guardada(resposta, caracteres_de_resposta);
  mostra_resposta();
  for (; n < caracteres_de_resposta; ++n) {
    int c = espera_ms(n == 0 ? primeiro_ms : prazo_da_resposta_ms);
    if (c < 0) break;
    mostra_byte(c);
    resposta[n] = static_cast<unsigned char>(c);
  }
  return n;
}

// Sends a command record and judges its answer. True when it was taken;
// otherwise says why, naming the record as `qual` says.
bool envia_e_julga(const char* registro, int primeiro_ms, const Ciclo& c, const char* qual) {
  if (programa_registro(registro, true) != 0) {
    mostra_resposta();
    relata("%s: registro sem eco", qual);
    return false;
  }
  unsigned char resposta[caracteres_de_resposta];
  int n = recebe_resposta(resposta, primeiro_ms);
  if (n < caracteres_de_resposta) {
    relata("%s: sem resposta", qual);
    return false;
  }
  if (c.julga_resposta && std::memcmp(resposta, c.resposta, caracteres_de_resposta) != 0) {
    char veio[16];
    char esperada[16];
    escreve_visivel(resposta, caracteres_de_resposta, veio);
    escreve_visivel(c.resposta, caracteres_de_resposta, esperada);
    relata("%s: resposta \"%s\", esperada \"%s\"", qual, veio, esperada);
    return false;
  }
  return true;
}

// One answer line (status byte, boot vector): what was held while the
// record's echoes came, then bytes each within 500 ms up to the line feed.
// Stored without its line end. False when the line feed did not come.
bool recebe_linha(char* texto, int tamanho) {
  unsigned char bytes[resposta_de_linha_maxima];
  int n = toma_guardada(bytes, resposta_de_linha_maxima);
  while (n == 0 || bytes[n - 1] != '\n') {
    if (n == resposta_de_linha_maxima) return false;
    int c = espera_ms(prazo_da_resposta_ms);
    if (c < 0) return false;
    bytes[n++] = static_cast<unsigned char>(c);
  }
  --n;
  if (n > 0 && bytes[n - 1] == '\r') --n;
  if (n >= tamanho) n = tamanho - 1;
  std::memcpy(texto, bytes, static_cast<std::size_t>(n));
  texto[n] = '\0';
  return true;
}

// What --status and --dump print goes to standard output even under --quiet,
// which silences only the banner and the echoes.
void mostra_mesmo_calado(const char* texto) {
  bool calada = saida_calada();
  cala_saida(false);
  mostra(texto);
  cala_saida(calada);
}

// Two hex digits, as the board answers a byte: its value, or -1.
int byte_do_texto(const char* texto) {
  if (std::strlen(texto) != 2 || valor_hex(texto[0]) < 0 || valor_hex(texto[1]) < 0) return -1;
  return valor_hex(texto[0]) * 16 + valor_hex(texto[1]);
}

// Sends a record that reads a byte, shows "rotulo" and its answer on a line
// of its own. Returns the byte, or -1 (reported) when no proper one came.
int le_byte(const char* registro, const char* rotulo, const char* nome) {
  char texto[resposta_de_linha_maxima + 1] = "";
  bool eco = programa_registro(registro, true) == 0;
  bool veio = eco && recebe_linha(texto, sizeof texto);
  if (!eco) relata("%s: registro sem eco", nome);
  if (eco && !veio) relata("%s: sem resposta", nome);
  if (!veio) return -1;
  // Under --quiet no echo was shown for a line end to close.
  if (saida_calada() && rotulo[0] == '\n') ++rotulo;
  mostra_mesmo_calado(rotulo);
  mostra_mesmo_calado(texto);
  mostra_mesmo_calado("\n");
  int valor = byte_do_texto(texto);
  if (valor < 0) relata("%s: resposta \"%s\"", nome, texto);
  return valor;
}

// The quiet that ends a listing: 100 ms, or three character times when
// that is longer.
std::int64_t silencio_us() {
  std::int64_t caracteres = caracteres_de_silencio * bits_por_caractere * us_por_s / taxa_da_linha;
  // Over a network port the listing comes a round trip later.
  return (caracteres > silencio_da_listagem_us ? caracteres : silencio_da_listagem_us) +
         plat::porta_ida_e_volta_us(hcom);
}

// Copies what comes from the line to standard output until it has been
// quiet for silencio_us().
void copia_ate_silencio() {
  unsigned char buf[256];
  const std::int64_t silencio = silencio_us();
  std::int64_t ultimo = plat::agora_us();
  for (std::int64_t falta; (falta = ultimo + silencio - plat::agora_us()) > 0;) {
    int lidos = plat::porta_le_disponivel(hcom, buf, sizeof buf);
    if (lidos > 0) {
      mostra_bytes(buf, static_cast<std::size_t>(lidos));
      ultimo = plat::agora_us();
      continue;
    }
    int ms = plat::em_ms(falta);
    unsigned ev = plat::aguarda(hcom, plat::ev_linha, ms);
    if ((ev & plat::ev_perdida) != 0) return;
  }
}

}  // namespace

int le_lista_de_blocos(const char* texto) {
  if (std::strcmp(texto, "all") == 0) return todos_os_blocos;
  unsigned mascara = 0;
  for (const char* p = texto;;) {
    int i = le_bloco(p);
    if (i < 0) return -1;
    mascara |= 1u << i;
    if (*p == '\0') return static_cast<int>(mascara);
    if (*p++ != ',') return -1;
  }
}

bool le_sequencia_das_linhas(const char* texto, SequenciaDasLinhas& sequencia) {
  sequencia.quantos = 0;
  for (const char* p = texto;;) {
    if (sequencia.quantos == passos_maximos) return false;
    if (!le_passo(p, sequencia.passos[sequencia.quantos])) return false;
    ++sequencia.quantos;
    if (*p == '\0') return true;
    if (*p++ != ',') return false;
  }
}

bool le_faixa(const char* texto, std::int32_t& inicio, std::int32_t& quantos) {
  const char* p = texto;
  inicio = le_hex(p, fim_da_memoria);
  if (inicio < 0 || *p++ != ':') return false;
  quantos = le_hex(p, fim_da_memoria);
  return quantos >= 1 && *p == '\0' && inicio + quantos <= fim_da_memoria;
}

int reinicia_placa(const char* porta, const SequenciaDasLinhas& sequencia) {
  for (int i = 0; i < sequencia.quantos; ++i) {
    const PassoDasLinhas& passo = sequencia.passos[i];
    if (passo.acao == 'W') {
      plat::dorme_ms(passo.valor);
      continue;
    }
    int linha = passo.acao == 'D' ? plat::linha_dtr : plat::linha_rts;
    int erro = plat::porta_linha_modem(hcom, linha, passo.valor != 0);
    if (erro != 0) {
      relata("%s: sem linhas de controle (%s)", porta, std::strerror(erro));
      return ciclo_sem_linhas;
    }
  }
  return ciclo_feito;
}

int combina_taxa() {
  mostra_pendentes();  // what the board said before is not taken as an echo
  return detecta_baud() ? ciclo_feito : ciclo_placa;
}

int apaga_blocos(unsigned blocos_pedidos, const Ciclo& c) {
  for (int i = 0; i < blocos; ++i) {
    if ((blocos_pedidos & (1u << i)) == 0) continue;
    char registro[tamanho_registro];
    registro_apaga(registro, bloco[i]);
    char qual[32];
    std::snprintf(qual, sizeof qual, "bloco %s [%s]", nome_do_bloco[i], faixa_do_bloco[i]);
    mostra_pendentes();
    if (!envia_e_julga(registro, prazo_do_apagamento_ms, c, qual)) return ciclo_placa;
    relata("%s apagado", qual);
  }
  return ciclo_feito;
}

int zera_byte_de_status(const Ciclo& c) {
  mostra_pendentes();
  for (int i = 0; i < 4; ++i) {
    char qual[48];
    std::snprintf(qual, sizeof qual, "zerar o byte de status, registro %d", i + 1);
    if (!envia_e_julga(registro_zera_status[i], prazo_da_resposta_ms, c, qual)) return ciclo_placa;
  }
  return ciclo_feito;
}

int le_status_e_vetor(bool deve_ser_zero) {
  mostra_pendentes();
  int status = le_byte(registro_le_status, "Status=", "byte de status");
  if (status < 0) return ciclo_placa;
  // The boot vector's record has no line end, nor has its echo.
  int vetor = le_byte(registro_le_boot, "\nBoot vector=", "vetor de boot");
  if (vetor < 0) return ciclo_placa;
  relata("byte de status %02X, vetor de boot %02X", status, vetor);
  if (deve_ser_zero && status != 0) {
    relata("o byte de status ficou %02X", status);
    return ciclo_placa;
  }
  return ciclo_feito;
}

int mostra_memoria(std::int32_t inicio, std::int32_t quantos) {
  char registro[tamanho_registro];
  registro_mostra(registro, inicio, inicio + quantos - 1);
  mostra_pendentes();
  if (programa_registro(registro, false) != 0) {
    relata("mostrar dados: registro sem eco");
    return ciclo_placa;
  }
  bool calada = saida_calada();
  cala_saida(false);  // the listing is what --dump is for, --quiet or not
  copia_ate_silencio();
  cala_saida(calada);
  return ciclo_feito;
}

int corre_ciclo(const Ciclo& c) {
  plat::TemporizadorFino fino;  // the echo waits are paced by 1 ms pauses
  int status = ciclo_feito;
  if (c.reinicio != nullptr) status = reinicia_placa(c.porta, *c.reinicio);
  bool conversa = c.apaga != 0 || c.zera_status || c.le_status || c.mostra_faixa;
  if (status == ciclo_feito && conversa) status = combina_taxa();
  if (status == ciclo_feito && c.apaga != 0) status = apaga_blocos(c.apaga, c);
  if (status == ciclo_feito && c.arquivo != nullptr) {
    bool aberto = c.hex != nullptr && c.hex->f != nullptr;
    int enviado = aberto ? envia_hex_aberto(c.arquivo, *c.hex) : envia_hex(c.arquivo);
    if (enviado == 2) status = ciclo_placa;
    if (enviado == -1 || enviado == 1) status = ciclo_argumentos;
  }
  if (status == ciclo_feito && c.zera_status) status = zera_byte_de_status(c);
  if (status == ciclo_feito && c.le_status) status = le_status_e_vetor(c.zera_status);
  if (status == ciclo_feito && c.mostra_faixa) status = mostra_memoria(c.inicio, c.quantos);
  return status;
}
