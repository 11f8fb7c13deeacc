#include "frontend/argumentos.hpp"

#include <cstdlib>
#include <cstring>

#include "saida/saida.hpp"

namespace {

constexpr int baud_padrao = 9600;
constexpr int baud_minimo = 300;
constexpr int baud_maximo = 115200;

// What one argument turned out to be.
enum Tipo { ignorado, taxa, taxa_fora, porta, arquivo, opcao, opcao_com_valor };

// The decimal value as atoi reads it (white space, a sign, digits), but a
// value too large for an int stays out of range instead of wrapping into it.
int numero(const char* texto) {
  long v = std::strtol(texto, nullptr, 10);
  if (v > baud_maximo) return baud_maximo + 1;
  if (v < 0) return -1;
  return static_cast<int>(v);
}

bool digito(char c) { return c >= '0' && c <= '9'; }

// COMn or comn (n starting with a digit), the same after the Windows device
// prefix \\.\, or a device path.
bool e_porta(const char* a) {
  if (std::strncmp(a, "\\\\.\\", 4) == 0) a += 4;
  bool com = std::strncmp(a, "COM", 3) == 0 || std::strncmp(a, "com", 3) == 0;
  return (com && digito(a[3])) || std::strncmp(a, "/dev/", 5) == 0;
}

bool e_arquivo_hex(const char* a) {
  const char* ext = extencao(a);
  return std::strcmp(ext, ".ihx") == 0 || std::strcmp(ext, ".hex") == 0;
}

bool igual(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

// The options: they take the whole argument, and --log the next one too.
bool e_opcao(const char* a, Argumentos& r) {
  if (igual(a, "--help") || igual(a, "-h")) {
    r.ajuda = true;
  } else if (igual(a, "--version")) {
    r.versao = true;
  } else if (igual(a, "--list")) {
    r.lista = true;
  } else if (igual(a, "--batch")) {
    r.lote = true;
  } else if (igual(a, "--no-reconnect")) {
    r.reconecta = false;
  } else if (igual(a, "--fast")) {
    r.rapido = true;
  } else {
    return false;
  }
  return true;
}

int valor_hex(char c) {
  if (digito(c)) return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// --answer TEXT: exactly three characters once \r, \n and \xHH are read.
void le_resposta(const char* texto, Argumentos& r) {
  r.julga_resposta = true;
  r.erro_resposta = nullptr;
  if (texto == nullptr) {
    r.erro_resposta = "falta o TEXTO";
    return;
  }
  int n = 0;
  for (const char* p = texto; *p != '\0'; ++n) {
    int c = static_cast<unsigned char>(*p++);
    if (c == '\\') {
      c = *p == 'r' ? '\r' : *p == 'n' ? '\n' : -1;
      if (*p == 'x' && valor_hex(p[1]) >= 0 && valor_hex(p[2]) >= 0) {
        c = valor_hex(p[1]) * 16 + valor_hex(p[2]);
        p += 2;
      }
      if (c < 0) {
        r.erro_resposta = "escape desconhecido (valem \\r, \\n e \\xHH)";
        return;
      }
      ++p;
    }
    if (n < 3) r.resposta[n] = static_cast<unsigned char>(c);
  }
  if (n != 3) r.erro_resposta = "o TEXTO deve dar 3 caracteres";
}

// Takes argv[i] into r; returns what it was.
Tipo le_um(int argc, char** argv, int i, Argumentos& r) {
  const char* a = argv[i];
  if (igual(a, "--log")) {
    r.falta_registo = i + 1 >= argc;
    if (!r.falta_registo) r.registo = argv[i + 1];
    return opcao_com_valor;
  }
  if (igual(a, "--answer")) {
    le_resposta(i + 1 < argc ? argv[i + 1] : nullptr, r);
    return opcao_com_valor;
  }
  if (e_opcao(a, r)) return opcao;
  Tipo tipo = ignorado;
  const char* sinal = std::strchr(a, '=');
  if (sinal != nullptr && a[0] == 'b') {
    r.baud = numero(sinal + 1);
    tipo = taxa;
  }
  if (r.baud < baud_minimo || r.baud > baud_maximo) {
    r.baud = baud_padrao;
    if (tipo == taxa) tipo = taxa_fora;
  }
  if (e_porta(a)) {
    r.porta = a;
    return porta;
  }
  if (e_arquivo_hex(a)) {
    r.arquivo = a;
    return tipo == taxa_fora ? taxa_fora : arquivo;
  }
  return tipo;
}

}  // namespace

const char* extencao(const char* texto) {
  const char* ponto = std::strrchr(texto, '.');
  return ponto != nullptr ? ponto : texto;
}

Argumentos le_argumentos(int argc, char** argv) {
  Argumentos r;
  for (int i = 1; i < argc; ++i) {
    if (le_um(argc, argv, i, r) == opcao_com_valor) ++i;
  }
  return r;
}

void avisa_argumentos(int argc, char** argv) {
  Argumentos r;
  for (int i = 1; i < argc; ++i) {
    Tipo tipo = le_um(argc, argv, i, r);
    if (tipo == opcao_com_valor) {
      ++i;
    } else if (tipo == ignorado) {
      relata("argumento ignorado: %s", argv[i]);
    } else if (tipo == taxa_fora) {
      relata("%s: taxa fora de %d..%d, usando %d", argv[i], baud_minimo, baud_maximo, baud_padrao);
    }
  }
}
