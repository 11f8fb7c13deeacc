#include "frontend/argumentos.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/plataforma.hpp"
#include "saida/saida.hpp"

namespace {

constexpr int baud_padrao = 9600;
constexpr int baud_minimo = 300;
constexpr int baud_maximo = 115200;

// What one argument turned out to be.
enum Tipo { ignorado, taxa, taxa_fora, porta, arquivo, opcao, opcao_com_valor, desconhecida };

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
  if (a[0] == '-') return desconhecida;
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
  if (tipo == ignorado && plat::porta_nomeia_dispositivo(a)) {  // ttyUSB0, ~/placa -> /dev/pts/3
    r.porta = a;
    return porta;
  }
  return tipo;
}

// Another program's habit, and what says the same here: the hint, then
// the option's value or `exemplo` when it has none.
struct Dica {
  const char* opcao;
  const char* dica;
  const char* exemplo;  // nullptr: the hint takes no value
};

constexpr Dica dicas[] = {
    {"-b", "use b=", "TAXA"},
    {"--baud", "use b=", "TAXA"},
    {"-s", "use b=", "TAXA"},
    {"--speed", "use b=", "TAXA"},
    {"--baudrate", "use b=", "TAXA"},
    {"-p", "de a porta sem opcao: xagterm ", "PORTA"},
    {"--port", "de a porta sem opcao: xagterm ", "PORTA"},
    {"-D", "de a porta sem opcao: xagterm ", "PORTA"},
    {"--device", "de a porta sem opcao: xagterm ", "PORTA"},
    {"-l", "use --log ARQUIVO", nullptr},
};

const char* const opcoes[] = {"--help", "--version", "--list", "--batch", "--no-reconnect",
                              "--log", "--fast", "--answer"};

// The edit distance of two short texts, counted up to 3.
int distancia(const char* a, const char* b) {
  constexpr int maximo = 32;
  int na = static_cast<int>(std::strlen(a));
  int nb = static_cast<int>(std::strlen(b));
  if (na >= maximo || nb >= maximo) return 3;
  int linha[maximo + 1];
  for (int j = 0; j <= nb; ++j) linha[j] = j;
  for (int i = 1; i <= na; ++i) {
    int diagonal = linha[0];
    linha[0] = i;
    for (int j = 1; j <= nb; ++j) {
      int acima = linha[j];
      int troca = diagonal + (a[i - 1] == b[j - 1] ? 0 : 1);
      linha[j] = std::min(std::min(acima + 1, linha[j - 1] + 1), troca);
      diagonal = acima;
    }
  }
  return std::min(linha[nb], 3);
}

// "-b 115200", "-b115200", "--baud=115200": the option and its value.
const Dica* dica_de(const char* a, const char*& valor) {
  for (const Dica& d : dicas) {
    std::size_t n = std::strlen(d.opcao);
    if (std::strncmp(a, d.opcao, n) != 0) continue;
    if (a[n] == '\0') return &d;
    if (a[n] == '=' || (d.opcao[1] != '-' && n == 2)) {
      valor = a + n + (a[n] == '=' ? 1 : 0);
      return &d;
    }
  }
  return nullptr;
}

// An argument that starts with '-' and is no option: refused, with a hint
// when it is another program's habit or a slip of the keys. True when the
// next argument was the option's value ("-b 115200"), taken with it.
bool relata_desconhecida(int argc, char** argv, int i) {
  const char* a = argv[i];
  const char* seguinte = i + 1 < argc ? argv[i + 1] : nullptr;
  const char* valor = seguinte;
  if (const Dica* d = dica_de(a, valor)) {
    bool com_valor = d->exemplo != nullptr && valor != nullptr && valor[0] != '\0' && valor[0] != '-';
    const char* exemplo = d->exemplo == nullptr ? "" : (com_valor ? valor : d->exemplo);
    relata("opcao desconhecida: %s; %s%s", a, d->dica, exemplo);
    return com_valor && valor == seguinte;
  }
  const char* parecida = nullptr;
  int menor = 3;  // a slip of one or two keys
  for (const char* o : opcoes) {
    int d = distancia(a, o);
    if (d < menor) {
      menor = d;
      parecida = o;
    }
  }
  if (parecida != nullptr) {
    relata("opcao desconhecida: %s; quis dizer %s?", a, parecida);
    return false;
  }
  relata("opcao desconhecida: %s; veja xagterm --help", a);
  return false;
}

// A port or hex file named after another one: reported.
bool outro(const char*& antes, const char* agora, const char* o_que) {
  if (antes == nullptr || std::strcmp(antes, agora) == 0) {
    antes = agora;
    return false;
  }
  relata("%s: %s e %s", o_que, antes, agora);
  antes = agora;
  return true;
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

bool confere_argumentos(int argc, char** argv) {
  const bool lote = le_argumentos(argc, argv).lote;
  Argumentos r;
  bool recusou = false;
  const char* porta_antes = nullptr;
  const char* arquivo_antes = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* porta_era = r.porta;
    const char* arquivo_era = r.arquivo;
    Tipo tipo = le_um(argc, argv, i, r);
    if (tipo == opcao_com_valor) {
      ++i;
    } else if (tipo == desconhecida) {
      if (relata_desconhecida(argc, argv, i)) ++i;
      recusou = true;
    } else if (tipo == ignorado) {
      relata("argumento ignorado: %s", argv[i]);
      recusou = recusou || lote;
    } else if (tipo == taxa_fora) {
      relata("%s: taxa fora de %d..%d, usando %d", argv[i], baud_minimo, baud_maximo, baud_padrao);
      recusou = recusou || lote;
    }
    if (lote && r.porta != porta_era && outro(porta_antes, r.porta, "mais de uma porta")) recusou = true;
    if (lote && r.arquivo != arquivo_era && outro(arquivo_antes, r.arquivo, "mais de um arquivo hex")) {
      recusou = true;
    }
  }
  if (recusou) relata("uso: xagterm [%s] [b=TAXA] [ARQUIVO.hex] [opcoes]; veja xagterm --help", plat::ajuda_uso_porta());
  return !recusou;
}
