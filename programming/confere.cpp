#include "programming/confere.hpp"

#include <cstdio>

#include "programming/linha_hex.hpp"
#include "saida/saida.hpp"

namespace {

constexpr int nao_vale = -1;
constexpr int sem_fim = 1;
constexpr int tipo_dados = 0x00;
constexpr int tipo_fim = 0x01;
constexpr int menor_registro = 11;  // ":LLAAAATTCC"
constexpr int tamanho_razao = 200;

int digito_hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The i-th byte written after the ':' (two hex digits), or -1.
int byte_em(const char* texto, int i) {
  int alto = digito_hex(texto[1 + 2 * i]);
  int baixo = digito_hex(texto[2 + 2 * i]);
  return alto < 0 || baixo < 0 ? -1 : alto * 16 + baixo;
}

// The record's length without its line end.
int sem_fim_de_linha(const char* linha, int n) {
  --n;  // the LF
  if (n > 0 && linha[n - 1] == '\r') --n;
  return n;
}

// Why the board would not take this line (nullptr: it would), written into
// razao. The record's type goes into tipo.
const char* razao_do_registro(const char* linha, int n, char* razao, int& tipo) {
  static const char nao_registro[] = "nao e um registro Intel HEX";
  int m = sem_fim_de_linha(linha, n);
  if (m < menor_registro || linha[0] != ':' || m % 2 == 0) return nao_registro;
  int bytes = (m - 1) / 2;
  int soma = 0;
  int ultimo = 0;
  for (int i = 0; i < bytes; ++i) {
    ultimo = byte_em(linha, i);
    if (ultimo < 0) return nao_registro;
    soma += ultimo;
  }
  int contagem = byte_em(linha, 0);
  if (contagem + 5 != bytes) {
    std::snprintf(razao, tamanho_razao, "contagem %02X, mas a linha traz %d bytes de dados", contagem, bytes - 5);
    return razao;
  }
  if ((soma & 0xFF) != 0) {
    std::snprintf(razao, tamanho_razao, "soma de verificacao %02X, esperada %02X", ultimo,
                  (0x100 - ((soma - ultimo) & 0xFF)) & 0xFF);
    return razao;
  }
  tipo = byte_em(linha, 3);
  if (tipo != tipo_dados && tipo != tipo_fim) {
    std::snprintf(razao, tamanho_razao,
                  "registro tipo %02X nao aceito pela placa, so 00 e 01 (gere o arquivo com: "
                  "srec_cat ENTRADA -intel -o SAIDA.hex -intel -address-length=2 "
                  "-disable=exec_start_address)",
                  tipo);
    return razao;
  }
  return nullptr;
}

}  // namespace

int confere_hex(const char* path, int& linhas) {
  linhas = 0;
  std::FILE* f = abre_hex(path);
  if (f == nullptr) return nao_vale;
  char linha[tamanho_linha_hex];
  char razao[tamanho_razao];
  int status = nao_vale;
  for (int numero = 1;; ++numero) {
    int n = 0;
    Leitura leitura = le_linha_hex(f, linha, n);
    if (leitura == fim_do_arquivo) {
      relata("%s: fim do arquivo sem registro 01 (0 linhas enviadas)", path);
      status = sem_fim;
      break;
    }
    if (leitura != lida) {
      relata_leitura(path, numero, leitura);
      break;
    }
    int tipo = -1;
    if (const char* r = razao_do_registro(linha, n, razao, tipo)) {
      relata("%s: linha %d: %s", path, numero, r);
      break;
    }
    if (tipo == tipo_fim) {
      linhas = numero;
      status = 0;
      break;
    }
  }
  std::fclose(f);
  return status;
}
