#include "frontend/argumentos.hpp"

#include <cstdlib>
#include <cstring>

namespace {

constexpr int baud_padrao = 9600;
constexpr int baud_minimo = 300;
constexpr int baud_maximo = 115200;

bool digito(char c) { return c >= '0' && c <= '9'; }

// COMn or comn (n starting with a digit), or a device path.
bool e_porta(const char* a) {
  bool com = std::strncmp(a, "COM", 3) == 0 || std::strncmp(a, "com", 3) == 0;
  return (com && digito(a[3])) || std::strncmp(a, "/dev/", 5) == 0;
}

bool e_arquivo_hex(const char* a) {
  const char* ext = extencao(a);
  return std::strcmp(ext, ".ihx") == 0 || std::strcmp(ext, ".hex") == 0;
}

}  // namespace

const char* extencao(const char* texto) {
  const char* ponto = std::strrchr(texto, '.');
  return ponto != nullptr ? ponto : texto;
}

Argumentos le_argumentos(int argc, char** argv) {
  Argumentos r;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    const char* igual = std::strchr(a, '=');
    if (igual != nullptr && a[0] == 'b') r.baud = std::atoi(igual + 1);
    if (r.baud < baud_minimo || r.baud > baud_maximo) r.baud = baud_padrao;
    if (e_porta(a)) {
      r.porta = a;
    } else if (e_arquivo_hex(a)) {
      r.arquivo = a;
    }
  }
  return r;
}
