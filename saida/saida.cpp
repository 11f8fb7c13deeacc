#include "saida/saida.hpp"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/plataforma.hpp"

namespace {

constexpr int nenhum = -1;

int eco_adiado = nenhum;
bool inicio_de_linha = true;  // the last byte shown on standard output was a line end
std::FILE* registo = nullptr;

void no_registo(const void* buf, std::size_t n) {
  if (registo != nullptr && n > 0) std::fwrite(buf, 1, n, registo);
}

// Writes to standard output; a reader that has gone away (a closed pipe)
// ends the program as Ctrl-X does.
void escreve(const void* buf, std::size_t n) {
  if (n == 0) return;
  if (std::fwrite(buf, 1, n, stdout) < n && errno == EPIPE) std::exit(0);
  no_registo(buf, n);
  inicio_de_linha = static_cast<const char*>(buf)[n - 1] == '\n';
}

void escreve_erro(const char* texto) {
  std::size_t n = std::strlen(texto);
  std::fwrite(texto, 1, n, stderr);
  no_registo(texto, n);
}

bool tem_acento(const char* texto) {
  for (const char* p = texto; *p != '\0'; ++p) {
    if (static_cast<unsigned char>(*p) >= 0x80) return true;
  }
  return false;
}

// ISO 8859-1 to UTF-8, a piece at a time through a small buffer.
void escreve_utf8(const char* texto) {
  unsigned char buf[256];
  std::size_t n = 0;
  for (const char* p = texto; *p != '\0'; ++p) {
    auto c = static_cast<unsigned char>(*p);
    if (n + 2 > sizeof buf) {
      escreve(buf, n);
      n = 0;
    }
    if (c < 0x80) {
      buf[n++] = c;
    } else {
      buf[n++] = static_cast<unsigned char>(0xC0 | (c >> 6));
      buf[n++] = static_cast<unsigned char>(0x80 | (c & 0x3F));
    }
  }
  escreve(buf, n);
}

}  // namespace

void mostra_adiado() {
  if (eco_adiado == nenhum) return;
  unsigned char c = static_cast<unsigned char>(eco_adiado);
  eco_adiado = nenhum;
  escreve(&c, 1);
}

void adia_eco(int c) {
  mostra_adiado();
  eco_adiado = c & 0xFF;
}

void mostra(const char* texto) {
  mostra_adiado();
  if (!tem_acento(texto)) {
    escreve(texto, std::strlen(texto));
  } else if (plat::saida_utf8()) {
    escreve_utf8(texto);
  } else {
    std::size_t n = std::strlen(texto);
    if (plat::saida_console(texto, n)) {
      no_registo(texto, n);
      inicio_de_linha = texto[n - 1] == '\n';
    } else {
      escreve(texto, n);
    }
  }
}

void mostra_f(const char* formato, ...) {
  char texto[512];
  std::va_list args;
  va_start(args, formato);
  std::vsnprintf(texto, sizeof texto, formato, args);
  va_end(args);
  mostra(texto);
}

void mostra_bytes(const unsigned char* buf, std::size_t n) {
  mostra_adiado();
  escreve(buf, n);
}

void mostra_byte(int c) {
  unsigned char b = static_cast<unsigned char>(c);
  mostra_bytes(&b, 1);
}

void em_inicio_de_linha() { inicio_de_linha = true; }

void relata(const char* formato, ...) {
  mostra_adiado();
  if (!inicio_de_linha && plat::saida_terminal()) {
    escreve_erro("\n");
    inicio_de_linha = true;
  }
  char texto[512] = "xagterm: ";
  std::size_t prefixo = std::strlen(texto);
  std::va_list args;
  va_start(args, formato);
  std::vsnprintf(texto + prefixo, sizeof texto - prefixo - 1, formato, args);
  va_end(args);
  std::size_t fim = std::strlen(texto);  // room for the line end was kept
  texto[fim] = '\n';
  texto[fim + 1] = '\0';
  escreve_erro(texto);
}

void erro(const char* texto) {
  mostra_adiado();
  escreve_erro(texto);
}

void erro_de(const char* nome, const char* razao) {
  mostra_adiado();
  char texto[512];
  if (nome[0] == '\0') {
    std::snprintf(texto, sizeof texto, "%s\n", razao);
  } else {
    std::snprintf(texto, sizeof texto, "%s: %s\n", nome, razao);
  }
  escreve_erro(texto);
}

void erro_sistema(const char* nome, int codigo) { erro_de(nome, std::strerror(codigo)); }

bool registo_abre(const char* caminho) {
  registo = std::fopen(caminho, "ab");
  if (registo == nullptr) return false;
  std::setvbuf(registo, nullptr, _IONBF, 0);  // each write reaches the file at once
  return true;
}
