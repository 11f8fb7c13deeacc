#include "programming/upload.hpp"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/plataforma.hpp"
#include "programming/linha_hex.hpp"
#include "programming/progresso.hpp"
#include "saida/saida.hpp"
#include "serial/porta.hpp"
#include "serial/troca.hpp"

ModoEnvio modo_envio;
int tecla_do_envio = -1;

namespace {

constexpr int polls_por_resposta = 500;
constexpr int prazo_da_resposta_ms = 500;
constexpr int caracteres_de_resposta = 3;

// The lines of an unjudged upload whose answer was not the one of a line
// taken, and the first of them.
struct Recusadas {
  int quantas = 0;
  int linha = 0;
  unsigned char resposta[3] = {};
};
Recusadas recusadas;

enum Status { nao_abriu = -1, fim_enviado = 0, sem_fim = 1, sem_eco = 2, segue = 3, interrompido = 4 };

// Characters 7 and 8 (the ':' is 0) hold the record type; "01" ends the file.
bool registro_de_fim(const char* linha) {
  return std::strlen(linha) > 8 && linha[7] == '0' && linha[8] == '1';
}

// The upload's outcome on standard error, in place of the progress line.
void desfecho(const char* formato, ...) __attribute__((format(printf, 1, 2)));
void desfecho(const char* formato, ...) {
  progresso_apaga();
  std::va_list args;
  va_start(args, formato);
  relata_v(formato, args);
  va_end(args);
}

// Where a line's end (its CR LF, or LF) begins: the record before it is whole
// once that many characters are in.
int inicio_do_fim(const char* linha, int n) {
  int fim = n;
  if (fim > 0 && linha[fim - 1] == '\n') --fim;
  if (fim > 0 && linha[fim - 1] == '\r') --fim;
  return fim;
}

// Lockstep: each character waits for its echo before the next one goes.
// When echoes are compared, what comes before the echoes of the line end may
// be the answer of a board that acts on the record once it is whole.
// Returns 0, or the character (from 1) whose echo was missing or wrong.
int envia_em_passo(const char* linha, int n, int& eco) {
  const int registro = modo_envio.confere_eco ? inicio_do_fim(linha, n) : n;
  for (int i = 0; i < n; ++i) {
    int c = static_cast<unsigned char>(linha[i]);
    eco = i < registro ? escreve_ser(c) : escreve_fim_de_linha(c);
    if (plat::interrompido()) return i + 1;
    if (eco < 0 || (modo_envio.confere_eco && eco != c)) return i + 1;
  }
  return 0;
}

// The device's three answer characters, each shown as it comes: first those
// it gave before the line end's echoes, after them.
bool recebe_resposta(unsigned char* resposta) {
  int i = toma_resposta(resposta);
  mostra_bytes(resposta, static_cast<std::size_t>(i));
  for (; i < caracteres_de_resposta; ++i) {
    int c = modo_envio.rapido ? espera_ms(prazo_da_resposta_ms) : espera(polls_por_resposta);
    if (c < 0) return false;
    mostra_byte(c);
    resposta[i] = static_cast<unsigned char>(c);
  }
  return true;
}

// The line has gone (an adapter pulled) rather than just gone quiet.
bool linha_perdida() { return (plat::aguarda(hcom, plat::ev_linha, 0) & plat::ev_perdida) != 0; }

// An unjudged line answered otherwise than a line taken is: counted, and
// the first kept for the outcome line.
void anota_recusada(const unsigned char* resposta, int numero) {
  bool diferente = std::memcmp(resposta, modo_envio.resposta, caracteres_de_resposta) != 0;
  if (modo_envio.julga_resposta || modo_envio.qualquer_resposta || !diferente) return;
  if (recusadas.quantas++ > 0) return;
  recusadas.linha = numero;
  std::memcpy(recusadas.resposta, resposta, caracteres_de_resposta);
}

// Sends one line and takes its answer. Returns segue when the upload goes
// on, else its result, said on standard error.
int envia_registro(const char* path, const char* linha, int n, int numero) {
  int eco = -1;
  espera_resposta_antecipada(caracteres_de_resposta);
  int caractere = modo_envio.rapido
                      ? envia_linha_inteira(linha, n, modo_envio.confere_eco ? inicio_do_fim(linha, n) : n,
                                            modo_envio.confere_eco, eco)
                      : envia_em_passo(linha, n, eco);
  if (plat::interrompido()) return interrompido;
  if (caractere > 0 && eco < 0 && linha_perdida()) {
    desfecho("linha perdida: %s", nome_da_porta);
    return sem_eco;
  }
  if (caractere > 0 && eco < 0) {
    desfecho("%s: linha %d, caractere %d sem eco", path, numero, caractere);
    return sem_eco;
  }
  if (caractere > 0) {
    desfecho("%s: linha %d, caractere %d: eco 0x%02X em vez de 0x%02X", path, numero, caractere, eco,
             static_cast<unsigned char>(linha[caractere - 1]));
    return sem_eco;
  }
  unsigned char resposta[caracteres_de_resposta];
  bool veio = recebe_resposta(resposta);
  if (!veio && plat::interrompido()) return interrompido;  // a whole answer: the line went
  if (!veio && linha_perdida()) {
    desfecho("linha perdida: %s", nome_da_porta);
    return sem_eco;
  }
  if (!veio) {
    desfecho("%s: linha %d sem resposta", path, numero);
    return sem_eco;
  }
  if (modo_envio.julga_resposta && std::memcmp(resposta, modo_envio.resposta, caracteres_de_resposta) != 0) {
    char veio_texto[16];
    char esperada[16];
    escreve_visivel(resposta, caracteres_de_resposta, veio_texto);
    escreve_visivel(modo_envio.resposta, caracteres_de_resposta, esperada);
    desfecho("%s: linha %d: resposta \"%s\", esperada \"%s\"", path, numero, veio_texto, esperada);
    return sem_eco;
  }
  anota_recusada(resposta, numero);
  progresso_linha(numero);
  if (registro_de_fim(linha)) return fim_enviado;  // the outcome line is the caller's
  return segue;
}

// The outcome of a whole upload: the lines sent, and the address records
// left out when there were any.
// The lines answered otherwise, as the outcome line ends: empty, or
// ", 1 recusada (linha 1: "R\r\n")".
void escreve_recusadas(char* texto, std::size_t tamanho) {
  texto[0] = '\0';
  if (recusadas.quantas == 0) return;
  char resposta[16];
  escreve_visivel(recusadas.resposta, caracteres_de_resposta, resposta);
  std::snprintf(texto, tamanho, ", %d %s (linha %d: \"%s\")", recusadas.quantas,
                recusadas.quantas == 1 ? "recusada" : "recusadas", recusadas.linha, resposta);
}

void desfecho_enviado(const char* path, int enviadas, int omitidos) {
  char recusa[64];
  escreve_recusadas(recusa, sizeof recusa);
  if (omitidos == 0) {
    desfecho("%s: %d linhas enviadas%s", path, enviadas, recusa);
  } else if (omitidos == 1) {
    desfecho("%s: %d linhas enviadas, 1 registro de endereco omitido%s", path, enviadas, recusa);
  } else {
    desfecho("%s: %d linhas enviadas, %d registros de endereco omitidos%s", path, enviadas, omitidos, recusa);
  }
}

// What the loop does with the next line.
enum Passo { passo_envia, passo_omite, passo_fim, passo_sem_fim, passo_recusado };

// Reads the next line and judges it when the file is checked; without the
// check only characters 7 and 8 are looked at. Why it cannot go is said.
Passo proxima_linha(std::FILE* f, const char* path, bool julga, int numero, char* linha, int& n, int enviadas,
                    Conferencia& c) {
  Leitura leitura = le_linha_hex(f, linha, n);
  if (leitura == fim_do_arquivo || (leitura == falta_fim_de_linha && !julga)) {
    desfecho("%s: fim do arquivo sem registro 01 (%d linhas enviadas)", path, enviadas);
    return passo_sem_fim;
  }
  if (leitura != lida) {  // a read error: never send the last line again
    progresso_apaga();
    relata_leitura(path, numero, leitura);
    return passo_recusado;
  }
  if (!julga) return registro_de_fim(linha) ? passo_fim : passo_envia;
  char razao[tamanho_razao];
  switch (julga_registro(linha, n, razao, c)) {
    case registro_envia: return passo_envia;
    case registro_omite: return passo_omite;
    case registro_fim: return passo_fim;
    case registro_recusado: break;
  }
  desfecho("%s: linha %d: %s", path, numero, razao);
  return passo_recusado;
}

// Line by line until the end record, or the first failure. Without
// `envia` nothing goes down the line: every line is checked, and what was
// learnt goes into c. With it, lines are checked again as they go when the
// file is checked (what was checked is what is sent).
int percorre(std::FILE* f, const char* path, bool envia, Conferencia& c) {
  const bool julga = !envia || modo_envio.confere_arquivo;
  char linha[tamanho_linha_hex];
  c = Conferencia{};
  recusadas = Recusadas{};
  int enviadas = 0;
  for (int numero = 1;; ++numero) {
    int n = 0;
    Passo passo = proxima_linha(f, path, julga, numero, linha, n, enviadas, c);
    if (passo == passo_recusado) return nao_abriu;
    if (passo == passo_sem_fim) return sem_fim;
    if (passo == passo_fim) c.linhas = numero;
    if (passo == passo_fim && !envia) return fim_enviado;
    if (passo == passo_omite || !envia) continue;
    // What the device said before the upload is shown, not taken as echoes:
    // the echo of the key that asked for it too, which a slow line or one
    // behind an adapter brings only now.
    if (enviadas == 0 && tecla_do_envio >= 0) mostra_ate(tecla_do_envio);
    if (enviadas == 0) mostra_pendentes();
    int status = plat::interrompido() ? interrompido : envia_registro(path, linha, n, numero);
    if (status == interrompido) {
      desfecho("%s: interrompido na linha %d (%d linhas enviadas)", path, numero, enviadas);
      return interrompido;
    }
    if (status != segue && status != fim_enviado) return status;
    ++enviadas;
    if (status == fim_enviado) {
      desfecho_enviado(path, enviadas, c.omitidos);
      return fim_enviado;
    }
  }
}

// A name ends at its first byte that is 0x20 or less taken as signed 8 bits:
// a space, a control character, the line end, or any byte from 0x80 up.
// What is cut off is said, unless it is only blanks.
void corta_nome(char* nome) {
  char* fim = nome;
  while (static_cast<signed char>(*fim) > 0x20) ++fim;
  const char* resto = fim;
  while (*resto == ' ' || *resto == '\t') ++resto;
  if (*resto == '\0') {
    *fim = '\0';
    return;
  }
  char digitado[256];  // the typed line holds at most 79 characters
  std::snprintf(digitado, sizeof digitado, "%s", nome);
  *fim = '\0';
  relata("nome cortado: \"%s\" -> \"%s\"", digitado, nome);
}

// The upload proper, the fine timer held and Ctrl-C noted meanwhile.
int envia_aberto(std::FILE* f, const char* path, int linhas) {
  plat::TemporizadorFino fino;
  plat::interrupcao_segura(true);
  progresso_inicia(modo_envio.progresso ? linhas : 0);
  Conferencia enviada;
  int status = percorre(f, path, true, enviada);
  std::fclose(f);
  if (status == interrompido) plat::termina_pela_interrupcao();
  plat::interrupcao_segura(false);
  return status;
}

}  // namespace

void escreve_visivel(const unsigned char* bytes, int n, char* texto) {
  for (int i = 0; i < n; ++i) {
    unsigned char c = bytes[i];
    if (c == '\r') {
      texto += std::sprintf(texto, "\\r");
    } else if (c == '\n') {
      texto += std::sprintf(texto, "\\n");
    } else if (c < 0x20 || c > 0x7E || c == '\\' || c == '"') {
      texto += std::sprintf(texto, "\\x%02X", c);
    } else {
      *texto++ = static_cast<char>(c);
    }
  }
  *texto = '\0';
}

int confere_hex(std::FILE* f, const char* path, Conferencia& c) {
  int status = percorre(f, path, false, c);
  std::rewind(f);
  return status;
}

int abre_hex_conferido(const char* path, ArquivoHex& h) {
  h = ArquivoHex{};
  if (modo_envio.registo != nullptr && plat::mesmo_arquivo(path, modo_envio.registo)) {
    relata("%s: e o arquivo de --log, nao um arquivo hex", path);
    return nao_abriu;
  }
  std::FILE* f = abre_hex(path);
  if (f == nullptr) return nao_abriu;
  if (modo_envio.confere_arquivo) {
    int conferido = confere_hex(f, path, h.conferencia);
    if (conferido != fim_enviado) {
      std::fclose(f);
      return conferido;
    }
  }
  h.f = f;
  return 0;
}

int envia_hex_aberto(const char* path, ArquivoHex& h) {
  std::FILE* f = h.f;
  h.f = nullptr;
  return envia_aberto(f, path, h.conferencia.linhas);
}

int envia_hex(const char* path) {
  ArquivoHex h;
  int aberto = abre_hex_conferido(path, h);
  if (aberto != 0) return aberto;
  return envia_hex_aberto(path, h);
}

int envia_hex_digitado(char* buf, std::size_t tamanho) {
  mostra("Envia arquivo hex.\nNome do arquivo=");
  int n = plat::le_linha(buf, static_cast<int>(tamanho));
  if (n >= 0) em_inicio_de_linha();  // the user's Enter ended the line
  if (n >= static_cast<int>(tamanho)) {
    relata("nome de arquivo longo demais (mais de %d caracteres)", static_cast<int>(tamanho) - 1);
    return nao_abriu;
  }
  if (n < 0) buf[0] = '\0';
  corta_nome(buf);
  return envia_hex(buf);
}
