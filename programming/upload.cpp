#include "programming/upload.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frontend/saida.hpp"
#include "platform/plataforma.hpp"
#include "serial/troca.hpp"

namespace {

constexpr int polls_por_resposta = 500;
constexpr int caracteres_de_resposta = 3;

enum Status { nao_abriu = -1, fim_enviado = 0, sem_fim = 1, sem_eco = 2 };

// Characters 7 and 8 (the ':' is 0) hold the record type; "01" ends the file.
bool registro_de_fim(const char* linha) {
  return std::strlen(linha) > 8 && linha[7] == '0' && linha[8] == '1';
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

// A name ends at its first byte that is 0x20 or less taken as signed 8 bits:
// a space, a control character, the line end, or any byte from 0x80 up.
void corta_nome(char* nome) {
  while (static_cast<signed char>(*nome) > 0x20) ++nome;
  *nome = '\0';
}

}  // namespace

int envia_hex(const char* path) {
  bool nao_comum = false;
  std::FILE* f = plat::arquivo_abre(path, nao_comum);
  if (f == nullptr && nao_comum) {
    char texto[300];
    std::snprintf(texto, sizeof texto, "%s: nao e um arquivo comum\n", path);
    erro(texto);
    return nao_abriu;
  }
  if (f == nullptr) {
    erro_sistema(path, errno);
    return nao_abriu;
  }
  char linha[80] = {};
  int status = fim_enviado;
  for (;;) {
    status = fim_enviado;
    bool leu = std::fgets(linha, sizeof linha, f) != nullptr;
    if (std::feof(f)) {
      status = sem_fim;
      break;
    }
    if (!leu) {  // a read error before the end: never send the last line again
      erro_sistema(path, errno);
      status = nao_abriu;
      break;
    }
    status = sem_eco;
    if (programa(linha) < 0 || !mostra_resposta()) break;
    status = fim_enviado;
    if (registro_de_fim(linha)) break;
  }
  std::fclose(f);
  return status;
}

int envia_hex_digitado(char* buf, std::size_t tamanho) {
  mostra("Envia arquivo hex.\nNome do arquivo=");
  int n = plat::le_linha(buf, static_cast<int>(tamanho));
  if (n >= static_cast<int>(tamanho)) {
    relata("nome de arquivo longo demais (mais de %d caracteres)", static_cast<int>(tamanho) - 1);
    return nao_abriu;
  }
  if (n < 0) buf[0] = '\0';
  corta_nome(buf);
  return envia_hex(buf);
}
