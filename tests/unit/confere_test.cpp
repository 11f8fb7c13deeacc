#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "programming/upload.hpp"
#include "tests/unit/apoio.hpp"

namespace {

// A record with its count and checksum right, and its line end.
std::string registro(int tipo, unsigned endereco, const std::string& dados, const char* fim = "\r\n") {
  std::string bytes = std::string{static_cast<char>(dados.size()), static_cast<char>(endereco >> 8),
                                  static_cast<char>(endereco), static_cast<char>(tipo)} +
                      dados;
  std::string r = ":";
  unsigned soma = 0;
  char texto[3];
  for (unsigned char c : bytes + std::string(1, '\0')) {
    std::snprintf(texto, sizeof texto, "%02X", r.size() == 1 + 2 * bytes.size() ? (0x100 - soma) & 0xFF : c);
    r += texto;
    soma += c;
  }
  return r + fim;
}

std::string dados(unsigned endereco, int n) { return registro(0, endereco, std::string(n, 'Z')); }
const std::string fim = ":00000001FF\r\n";
const std::string zero04 = registro(4, 0, std::string(2, '\0'));
const std::string inicio05 = registro(5, 0, std::string("\0\0\1\0", 4));

}  // namespace

TEST(Confere, EachReasonBoundaryAndWhatItLearnt) {
  struct Caso {
    std::string conteudo;
    int status;
    std::string relato;  // after "xagterm: PATH: "
    int linhas = 0, omitidos = 0;
    unsigned blocos = 0;
  };
  const std::string sem_fim = "fim do arquivo sem registro 01 (0 linhas enviadas)\n";
  const std::string nao_registro = "linha 1: nao e um registro Intel HEX\n";
  const std::string alem = ": dados alem de FFFF, fora dos 64 KiB da placa\n";
  const Caso casos[] = {
      {dados(0, 16) + fim, 0, "", 2, 0, 0x01},  // CR LF
      {registro(0, 0x30, "\2\3\x7A", "\n") + ":00000001FF\n", 0, "", 2, 0, 0x01},
      {fim + "lixo\n", 0, "", 1, 0, 0},  // nothing after the end record is looked at
      {"", 1, sem_fim},
      {dados(0, 1), 1, sem_fim},
      {dados(0, 1) + ":00000001FF", -1, "linha 2: falta o fim de linha\n"},
      {dados(0, 1) + ":00000001FF\r", -1, "linha 2: falta o fim de linha\n"},
      {"ola\r\n" + fim, -1, nao_registro},
      {":00000001F\r\n", -1, nao_registro},
      {":000000001FF\r\n", -1, nao_registro},
      {":0000G001FF\r\n", -1, nao_registro},
      {":01000000AABB00\r\n", -1, "linha 1: contagem 01, mas a linha traz 2 bytes de dados\n"},
      {":0100000001FF\r\n", -1, "linha 1: soma de verificacao FF, esperada FE\n"},
      {":0100000001FD\r\n", -1, "linha 1: soma de verificacao FD, esperada FE\n"},
      {zero04 + registro(2, 0, std::string(2, '\0')) + fim, 0, "", 3, 2, 0},
      {inicio05 + registro(3, 0, std::string("\0\0\1\0", 4)) + zero04 + fim, 0, "", 4, 3, 0},
      {registro(4, 0, std::string("\0\1", 2)) + fim, -1, "linha 1: registro tipo 04 de valor 0001" + alem},
      {registro(2, 0, std::string("\1\0", 2)) + fim, -1, "linha 1: registro tipo 02 de valor 0100" + alem},
      {registro(0x84, 0, "") + fim, -1,
       "linha 1: registro tipo 84 e um comando da placa, nao vai num arquivo (use --erase, --clear-status ou "
       "--status)\n"},
      {registro(6, 0, "") + fim, -1,
       "linha 1: registro tipo 06 nao aceito pela placa, so 00 e 01 (gere o arquivo com: srec_cat ENTRADA "
       "-intel -o SAIDA.hex -intel -address-length=2 -disable=exec_start_address)\n"},
      {std::string(600, ':') + "\r\n" + fim, -1, nao_registro},
      {std::string(600, ':') + "\n" + fim, -1, nao_registro},
      {std::string(601, ':') + "\r\n" + fim, -1, "linha 1: longa demais (mais de 600 caracteres)\n"},
      {dados(0, 1) + std::string(":00\0\n", 5), -1, "linha 2: byte 0x00\n"},
      // The erase blocks the data touch, at each boundary and past FFFF.
      {dados(0, 0) + fim, 0, "", 2, 0, 0x00},
      {dados(0x1FFF, 1) + fim, 0, "", 2, 0, 0x01},
      {dados(0x1FFF, 2) + fim, 0, "", 2, 0, 0x03},
      {dados(0x2000, 1) + fim, 0, "", 2, 0, 0x02},
      {dados(0x3FFF, 1) + fim, 0, "", 2, 0, 0x02},
      {dados(0x3FFF, 2) + fim, 0, "", 2, 0, 0x06},
      {dados(0x4000, 1) + fim, 0, "", 2, 0, 0x04},
      {dados(0x7FFF, 1) + fim, 0, "", 2, 0, 0x04},
      {dados(0x7FFF, 2) + fim, 0, "", 2, 0, 0x0C},
      {dados(0x8000, 1) + fim, 0, "", 2, 0, 0x08},
      {dados(0xBFFF, 1) + fim, 0, "", 2, 0, 0x08},
      {dados(0xBFFF, 2) + fim, 0, "", 2, 0, 0x18},
      {dados(0xC000, 1) + fim, 0, "", 2, 0, 0x10},
      {dados(0xFFFF, 1) + fim, 0, "", 2, 0, 0x10},
      {dados(0xFFFF, 2) + fim, 0, "", 2, 0, 0x11},
      {dados(0xFF10, 255) + fim, 0, "", 2, 0, 0x11},
      {dados(0x1F10, 255) + fim, 0, "", 2, 0, 0x03},
      {dados(0x2000, 1) + dados(0xC000, 1) + fim, 0, "", 3, 0, 0x12},
  };
  for (const auto& caso : casos) {
    ArquivoTemporario f("p.hex", caso.conteudo);
    std::FILE* arquivo = std::fopen(f.caminho().c_str(), "rb");
    Captura erros(stderr);
    Conferencia c;
    EXPECT_EQ(confere_hex(arquivo, f.caminho().c_str(), c), caso.status) << caso.conteudo;
    EXPECT_EQ(std::ftell(arquivo), 0);  // rewound for the upload
    std::fclose(arquivo);
    EXPECT_EQ(erros.texto(), caso.relato.empty() ? "" : "xagterm: " + f.caminho() + ": " + caso.relato);
    if (caso.status != 0) continue;  // what a refused file taught is never used
    EXPECT_EQ(c.linhas, caso.linhas) << caso.conteudo;
    EXPECT_EQ(c.omitidos, caso.omitidos) << caso.conteudo;
    EXPECT_EQ(c.blocos, caso.blocos) << caso.conteudo;
  }
}
