#include "programming/upload.hpp"

#include <cstdio>
#include <cstring>

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
    std::putchar(c);
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
  std::FILE* f = std::fopen(path, "rb");
  if (f == nullptr) {
    std::perror(path);
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
      std::perror(path);
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
  std::fputs("Envia arquivo hex.\nNome do arquivo=", stdout);
  plat::console_linha();
  std::clearerr(stdin);  // an end of input typed at an earlier prompt is over
  if (std::fgets(buf, static_cast<int>(tamanho), stdin) == nullptr) buf[0] = '\0';
  plat::console_teclas();
  corta_nome(buf);
  return envia_hex(buf);
}
