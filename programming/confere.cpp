#include "programming/confere.hpp"

#include <cstdio>

#include "programming/registros.hpp"

namespace {

constexpr int tipo_dados = 0x00;
constexpr int tipo_fim = 0x01;
constexpr int tipo_segmento = 0x02;  // extended segment address
constexpr int tipo_inicio_segmento = 0x03;
constexpr int tipo_linear = 0x04;  // extended linear address
constexpr int tipo_inicio_linear = 0x05;
constexpr int menor_registro = 11;  // ":LLAAAATTCC"
constexpr unsigned ultimo_endereco = 0xFFFF;

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

// The erase block that holds an address: the last whose first page is not
// above the address's.
int bloco_de(unsigned endereco) {
  int i = blocos - 1;
  while (i > 0 && static_cast<unsigned>(bloco[i]) > endereco >> 8) --i;
  return i;
}

unsigned blocos_entre(unsigned de, unsigned ate) {
  unsigned mascara = 0;
  for (int i = bloco_de(de); i <= bloco_de(ate); ++i) mascara |= 1u << i;
  return mascara;
}

// The blocks n bytes from `endereco` touch; past FFFF they wrap to 0000.
unsigned blocos_tocados(unsigned endereco, int n) {
  if (n == 0) return 0;
  unsigned ultimo = endereco + static_cast<unsigned>(n) - 1;
  if (ultimo <= ultimo_endereco) return blocos_entre(endereco, ultimo);
  return blocos_entre(endereco, ultimo_endereco) | blocos_entre(0, ultimo - ultimo_endereco - 1);
}

// Why a record of a type other than 00 and 01 is not sent, or nullptr when
// it is only left out.
const char* razao_do_tipo(const char* linha, int tipo, int contagem, char* razao) {
  if ((tipo == tipo_segmento || tipo == tipo_linear) && contagem == 2) {
    if (byte_em(linha, 4) == 0 && byte_em(linha, 5) == 0) return nullptr;
    std::snprintf(razao, tamanho_razao,
                  "registro tipo %02X de valor %.4s: dados alem de FFFF, fora dos 64 KiB da placa", tipo,
                  linha + 9);
    return razao;
  }
  if (tipo == tipo_inicio_segmento || tipo == tipo_inicio_linear) return nullptr;
  if (tipo == 0x83 || tipo == 0x84 || tipo == 0x85) {
    std::snprintf(razao, tamanho_razao,
                  "registro tipo %02X e um comando da placa, nao vai num arquivo "
                  "(use --erase, --clear-status ou --status)",
                  tipo);
    return razao;
  }
  std::snprintf(razao, tamanho_razao,
                "registro tipo %02X nao aceito pela placa, so 00 e 01 (gere o arquivo com: "
                "srec_cat ENTRADA -intel -o SAIDA.hex -intel -address-length=2 "
                "-disable=exec_start_address)",
                tipo);
  return razao;
}

// Why the line is no record at all, or its count or checksum is wrong
// (nullptr: it is a record).
const char* razao_do_formato(const char* linha, int n, char* razao) {
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
    std::snprintf(razao, tamanho_razao, "contagem %02X, mas a linha traz %d bytes de dados", contagem,
                  bytes - 5);
    return razao;
  }
  if ((soma & 0xFF) != 0) {
    std::snprintf(razao, tamanho_razao, "soma de verificacao %02X, esperada %02X", ultimo,
                  (0x100 - ((soma - ultimo) & 0xFF)) & 0xFF);
    return razao;
  }
  return nullptr;
}

}  // namespace

Julgamento julga_registro(const char* linha, int n, char* razao, Conferencia& c) {
  if (const char* r = razao_do_formato(linha, n, razao)) {
    if (r != razao) std::snprintf(razao, tamanho_razao, "%s", r);
    return registro_recusado;
  }
  int contagem = byte_em(linha, 0);
  int tipo = byte_em(linha, 3);
  if (tipo == tipo_dados) {
    unsigned endereco = static_cast<unsigned>(byte_em(linha, 1) * 256 + byte_em(linha, 2));
    c.blocos |= blocos_tocados(endereco, contagem);
    return registro_envia;
  }
  if (tipo == tipo_fim) return registro_fim;
  if (razao_do_tipo(linha, tipo, contagem, razao) != nullptr) return registro_recusado;
  ++c.omitidos;
  return registro_omite;
}
