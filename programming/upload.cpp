#include "programming/upload.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "saida/saida.hpp"
#include "platform/plataforma.hpp"
#include "serial/troca.hpp"

ModoEnvio modo_envio;

namespace {

constexpr int polls_por_resposta = 500;
constexpr int caracteres_de_resposta = 3;
// The longest Intel HEX record (255 data bytes) is 521 characters; with its
// line end and room to spare a line may hold 600, and the NUL.
constexpr int tamanho_linha = 601;

enum Status { nao_abriu = -1, fim_enviado = 0, sem_fim = 1, sem_eco = 2, segue = 3 };

enum Leitura { lida, fim_do_arquivo, longa_demais, falhou };

// Characters 7 and 8 (the ':' is 0) hold the record type; "01" ends the file.
bool registro_de_fim(const char* linha) {
  return std::strlen(linha) > 8 && linha[7] == '0' && linha[8] == '1';
}

// Opens the hex file; says why it cannot, on standard error.
std::FILE* abre_hex(const char* path) {
  bool nao_comum = false;
  std::FILE* f = plat::arquivo_abre(path, nao_comum);
  if (f == nullptr && nao_comum) {
    erro_de(path, "nao e um arquivo comum");
  } else if (f == nullptr) {
    erro_sistema(path, errno);
  }
  return f;
}

// Reads the next whole line with its line end. A line that meets the end of
// the file (the last one, with no line end) is not taken.
Leitura le_linha_hex(std::FILE* f, char* linha) {
  linha[tamanho_linha - 1] = '\1';  // becomes NUL only when the buffer fills
  bool leu = std::fgets(linha, tamanho_linha, f) != nullptr;
  if (std::feof(f)) return fim_do_arquivo;
  if (!leu) return falhou;
  bool cheia = linha[tamanho_linha - 1] == '\0' && linha[tamanho_linha - 2] != '\n';
  if (!cheia) return lida;
  // 600 characters and no line end yet: too long, unless the file ends here.
  int c = std::fgetc(f);
  if (c != EOF) return longa_demais;
  return std::feof(f) ? fim_do_arquivo : falhou;
}

// Waits for the device's answer to a line and shows it.
bool mostra_resposta() {
  for (int i = 0; i < caracteres_de_resposta; ++i) {
    int c = espera(polls_por_resposta);
    if (c < 0) return false;
    mostra_byte(c);
  }
  return true;
}

// Sends one line and takes its answer. Returns segue when the upload goes
// on, else its result, said on standard error.
int envia_registro(const char* path, const char* linha, int numero) {
  int caractere = envia_texto(linha);
  if (caractere > 0) {
    relata("%s: linha %d, caractere %d sem eco", path, numero, caractere);
    return sem_eco;
  }
  if (!mostra_resposta()) {
    relata("%s: linha %d sem resposta", path, numero);
    return sem_eco;
  }
  if (registro_de_fim(linha)) {
    relata("%s: %d linhas enviadas", path, numero);
    return fim_enviado;
  }
  return segue;
}

// Line by line until the answered end record, or the first failure.
int envia_linhas(std::FILE* f, const char* path) {
  char linha[tamanho_linha];
  for (int numero = 1;; ++numero) {
    switch (le_linha_hex(f, linha)) {
      case fim_do_arquivo:
        relata("%s: fim do arquivo sem registro 01 (%d linhas enviadas)", path, numero - 1);
        return sem_fim;
      case falhou:  // a read error before the end: never send the last line again
        erro_sistema(path, errno);
        return nao_abriu;
      case longa_demais:
        relata("%s: linha %d longa demais", path, numero);
        return nao_abriu;
      case lida:
        break;
    }
    // What the device said before the upload is shown, not taken as echoes.
    if (numero == 1) mostra_pendentes();
    int status = envia_registro(path, linha, numero);
    if (status != segue) return status;
  }
}

// A name ends at its first byte that is 0x20 or less taken as signed 8 bits:
// a space, a control character, the line end, or any byte from 0x80 up.
void corta_nome(char* nome) {
  while (static_cast<signed char>(*nome) > 0x20) ++nome;
  *nome = '\0';
}

}  // namespace

int envia_hex(const char* path) {
  std::FILE* f = abre_hex(path);
  if (f == nullptr) return nao_abriu;
  int status = envia_linhas(f, path);
  std::fclose(f);
  return status;
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
