#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "programming/upload.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

// A record with its count and checksum right.
std::string registro(int tipo, unsigned endereco, const std::string& dados) {
  char texto[16];
  unsigned soma = static_cast<unsigned>(dados.size()) + (endereco >> 8) + (endereco & 0xFF) + tipo;
  std::snprintf(texto, sizeof texto, ":%02X%04X%02X", static_cast<unsigned>(dados.size()), endereco, tipo);
  std::string r = texto;
  for (unsigned char c : dados) {
    std::snprintf(texto, sizeof texto, "%02X", c);
    r += texto;
    soma += c;
  }
  std::snprintf(texto, sizeof texto, "%02X", (0x100 - (soma & 0xFF)) & 0xFF);
  return r + texto;
}

std::string dados_em(unsigned endereco, int n) { return registro(0, endereco, std::string(n, '\x5A')) + "\r\n"; }

const std::string fim = ":00000001FF\r\n";

struct Resultado {
  int status;
  std::string relato;  // after "xagterm: PATH: "
  Conferencia c;
};

Resultado confere(const std::string& conteudo) {
  ArquivoTemporario f("p.hex", conteudo);
  std::FILE* arquivo = std::fopen(f.caminho().c_str(), "rb");
  Captura erros(stderr);
  Resultado r{};
  r.status = confere_hex(arquivo, f.caminho().c_str(), r.c);
  EXPECT_EQ(std::ftell(arquivo), 0);  // rewound for the upload
  std::fclose(arquivo);
  r.relato = erros.texto();
  std::string inicio = "xagterm: " + f.caminho() + ": ";
  if (r.relato.compare(0, inicio.size(), inicio) == 0) r.relato.erase(0, inicio.size());
  return r;
}

}  // namespace

TEST(Confere, EachReasonAndBoundary) {
  struct Caso {
    std::string conteudo;
    int status;
    std::string relato;
    int linhas;
  };
  const std::string tipo04_hint = "registro tipo 06 nao aceito pela placa, so 00 e 01 (gere o arquivo com: "
                                  "srec_cat ENTRADA -intel -o SAIDA.hex -intel -address-length=2 "
                                  "-disable=exec_start_address)\n";
  const Caso casos[] = {
      {dados_em(0, 16) + fim, 0, "", 2},
      {":0300300002337A1E\n:00000001FF\n", 0, "", 2},  // LF alone
      {fim + "lixo\n", 0, "", 1},                       // nothing after the end record is looked at
      {"", 1, "fim do arquivo sem registro 01 (0 linhas enviadas)\n", 0},
      {dados_em(0, 1), 1, "fim do arquivo sem registro 01 (0 linhas enviadas)\n", 0},
      {dados_em(0, 1) + ":00000001FF", -1, "linha 2: falta o fim de linha\n", 0},
      {dados_em(0, 1) + ":00000001FF\r", -1, "linha 2: falta o fim de linha\n", 0},
      {"ola\r\n" + fim, -1, "linha 1: nao e um registro Intel HEX\n", 0},
      {":00000001F\r\n", -1, "linha 1: nao e um registro Intel HEX\n", 0},    // odd digit count
      {":000000001FF\r\n", -1, "linha 1: nao e um registro Intel HEX\n", 0},
      {":0000G001FF\r\n", -1, "linha 1: nao e um registro Intel HEX\n", 0},
      {":01000000AABB00\r\n", -1, "linha 1: contagem 01, mas a linha traz 2 bytes de dados\n", 0},
      {":0100000001FF\r\n", -1, "linha 1: soma de verificacao FF, esperada FE\n", 0},
      {":0100000001FD\r\n", -1, "linha 1: soma de verificacao FD, esperada FE\n", 0},
      {registro(4, 0, std::string("\0\0", 2)) + "\r\n" + registro(2, 0, std::string("\0\0", 2)) + "\r\n" + fim, 0, "", 3},
      {registro(3, 0, "\0\0\1\0") + "\n" + registro(5, 0, "\0\0\1\0") + "\n" + fim, 0, "", 3},
      {registro(4, 0, std::string("\0\1", 2)) + "\r\n" + fim, -1,
       "linha 1: registro tipo 04 de valor 0001: dados alem de FFFF, fora dos 64 KiB da placa\n", 0},
      {registro(2, 0, std::string("\1\0", 2)) + "\r\n" + fim, -1,
       "linha 1: registro tipo 02 de valor 0100: dados alem de FFFF, fora dos 64 KiB da placa\n", 0},
      {registro(0x84, 0, "") + "\r\n" + fim, -1,
       "linha 1: registro tipo 84 e um comando da placa, nao vai num arquivo "
       "(use --erase, --clear-status ou --status)\n", 0},
      {registro(6, 0, "") + "\r\n" + fim, -1, "linha 1: " + tipo04_hint, 0},
      {std::string(600, ':') + "\r\n" + fim, -1, "linha 1: nao e um registro Intel HEX\n", 0},
      {std::string(600, ':') + "\n" + fim, -1, "linha 1: nao e um registro Intel HEX\n", 0},
      {std::string(601, ':') + "\r\n" + fim, -1, "linha 1: longa demais (mais de 600 caracteres)\n", 0},
      {dados_em(0, 1) + std::string(":00\0", 4) + "\n", -1, "linha 2: byte 0x00\n", 0},
  };
  for (const auto& caso : casos) {
    const std::string& esperado = caso.relato;
    Resultado r = confere(caso.conteudo);
    EXPECT_EQ(r.status, caso.status) << caso.conteudo;
    EXPECT_EQ(r.relato, esperado) << caso.conteudo;
    EXPECT_EQ(r.c.linhas, caso.linhas) << caso.conteudo;
  }
}

TEST(Confere, AddressRecordsLeftOutAreCounted) {
  std::string zero = registro(4, 0, std::string("\0\0", 2)) + "\r\n";
  EXPECT_EQ(confere(zero + dados_em(0, 1) + fim).c.omitidos, 1);
  EXPECT_EQ(confere(zero + zero + registro(5, 0, "\0\0\1\0") + "\r\n" + fim).c.omitidos, 3);
  EXPECT_EQ(confere(dados_em(0, 1) + fim).c.omitidos, 0);
}

TEST(Confere, EraseBlocksTouchedByDataRecords) {
  struct Caso {
    unsigned endereco;
    int n;
    unsigned blocos;
  };
  const Caso casos[] = {
      {0x0000, 0, 0x00},  {0x0000, 1, 0x01},  {0x1FFF, 1, 0x01}, {0x1FFF, 2, 0x03}, {0x2000, 1, 0x02},
      {0x3FFF, 1, 0x02},  {0x3FFF, 2, 0x06},  {0x4000, 1, 0x04}, {0x7FFF, 1, 0x04}, {0x7FFF, 2, 0x0C},
      {0x8000, 1, 0x08},  {0xBFFF, 1, 0x08},  {0xBFFF, 2, 0x18}, {0xC000, 1, 0x10}, {0xFFFF, 1, 0x10},
      {0xFFFF, 2, 0x11},  {0xFF10, 255, 0x11}, {0x1F10, 255, 0x03},
  };
  for (const auto& caso : casos) {
    EXPECT_EQ(confere(dados_em(caso.endereco, caso.n) + fim).c.blocos, caso.blocos)
        << std::hex << caso.endereco << " " << caso.n;
  }
  EXPECT_EQ(confere(dados_em(0x2000, 1) + dados_em(0xC000, 1) + fim).c.blocos, 0x12u);
}

class EnvioConferido : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reinicia();
    modo_envio = ModoEnvio{};
    modo_envio.confere_arquivo = true;
    fake::dispositivo_eco(10, ".\r\n");
  }
  void TearDown() override { modo_envio = ModoEnvio{}; }
};

TEST_F(EnvioConferido, AddressRecordsAreNotSentAndTheOutcomeCountsThem) {
  std::string zero = registro(4, 0, std::string("\0\0", 2)) + "\r\n";
  std::string inicio = registro(5, 0, "\0\0\1\0") + "\r\n";
  ArquivoTemporario f("p.hex", zero + dados_em(0, 2) + inicio + fim);
  Captura saida(stdout);
  Captura erros(stderr);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), dados_em(0, 2) + fim);
  EXPECT_EQ(erros.texto(), "xagterm: " + f.caminho() + ": 2 linhas enviadas, 2 registros de endereco omitidos\n");
  ArquivoTemporario g("q.hex", zero + fim);
  Captura mais(stderr);
  EXPECT_EQ(envia_hex(g.caminho().c_str()), 0);
  EXPECT_EQ(mais.texto(), "xagterm: " + g.caminho() + ": 1 linhas enviadas, 1 registro de endereco omitido\n");
}

TEST_F(EnvioConferido, TheFileSentIsTheFileChecked) {
  ArquivoTemporario f("p.hex", dados_em(0, 1) + fim);
  ArquivoHex h;
  ASSERT_EQ(abre_hex_conferido(f.caminho().c_str(), h), 0);
  EXPECT_EQ(h.conferencia.linhas, 2);
  // Replaced under the same name after the check: the open file still goes.
  std::string novo = f.caminho() + ".novo";
  std::ofstream(novo, std::ios::binary) << registro(4, 0, std::string("\0\1", 2)) + "\r\n:0100000001FF\r\n" + fim;
  std::filesystem::rename(novo, f.caminho());
  Captura saida(stdout);
  Captura erros(stderr);
  EXPECT_EQ(envia_hex_aberto(f.caminho().c_str(), h), 0);
  EXPECT_EQ(fake::enviados(), dados_em(0, 1) + fim);
}

TEST_F(EnvioConferido, TheLogIsNeverSent) {
  ArquivoTemporario f("sessao.hex", fim);
  modo_envio.registo = f.caminho().c_str();
  Captura erros(stderr);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), -1);
  EXPECT_EQ(erros.texto(), "xagterm: " + f.caminho() + ": e o arquivo de --log, nao um arquivo hex\n");
  EXPECT_EQ(fake::enviados(), "");
}
