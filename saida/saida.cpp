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
const char* nome_registo = "";
bool sem_esperar = false;       // --batch: standard output never holds the program up
unsigned long descartados = 0;  // bytes standard output did not take meanwhile
bool calada = false;            // --quiet: standard output goes nowhere

// A failed write stops the log, with one report; the session goes on.
void no_registo(const void* buf, std::size_t n) {
  if (registo == nullptr || n == 0) return;
  if (std::fwrite(buf, 1, n, registo) == n) return;
  int codigo = errno;
  std::fclose(registo);
  registo = nullptr;
  relata("%s: %s; o registro parou", nome_registo, std::strerror(codigo));
}

// Writes to standard output. In an interactive session a reader that has
// gone away (a closed pipe) ends the program as Ctrl-X does; with --batch
// what standard output does not take at once is dropped and counted.
void escreve(const void* buf, std::size_t n) {
  if (n == 0 || calada) return;
  if (sem_esperar) {
    descartados += n - plat::saida_escreve_sem_esperar(buf, n);
  } else if (std::fwrite(buf, 1, n, stdout) < n && errno == EPIPE) {
    std::exit(0);
  }
  inicio_de_linha = static_cast<const char*>(buf)[n - 1] == '\n';
  no_registo(buf, n);
}

void escreve_erro(const char* texto) {
  std::size_t n = std::strlen(texto);
  std::fwrite(texto, 1, n, stderr);
  no_registo(texto, n);
}

// --- texts of a bounded size, whatever the names in them ---------------------

// A name longer than this is shown as its start, "..." and its end.
constexpr std::size_t nome_maximo = 240;

// A text being built in a fixed buffer; `reserva` bytes at its end are kept
// for what must close it (a line end).
struct Texto {
  char* buf;
  std::size_t tamanho;
  std::size_t n;
  std::size_t reserva;
};

void poe(Texto& t, const char* s, std::size_t n) {
  std::size_t cabe = t.tamanho - t.reserva - 1 - t.n;
  if (n > cabe) n = cabe;
  std::memcpy(t.buf + t.n, s, n);
  t.n += n;
  t.buf[t.n] = '\0';
}

bool continuacao(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// The name whole, or "inicio...fim" without splitting a UTF-8 character.
void poe_nome(Texto& t, const char* nome, std::size_t n) {
  if (n <= nome_maximo) {
    poe(t, nome, n);
    return;
  }
  std::size_t inicio = (nome_maximo - 3) / 2;
  std::size_t fim = n - (nome_maximo - 3 - inicio);
  while (inicio > 0 && continuacao(nome[inicio])) --inicio;
  while (fim < n && continuacao(nome[fim])) ++fim;
  poe(t, nome, inicio);
  poe(t, "...", 3);
  poe(t, nome + fim, n - fim);
}

// printf's conversions one at a time: a %s goes in through poe_nome, the
// others through snprintf with their own flags, width and precision.
void formata(Texto& t, const char* formato, std::va_list args) {
  for (const char* p = formato; *p != '\0';) {
    if (*p != '%') {
      const char* q = std::strchr(p, '%');
      std::size_t n = q != nullptr ? static_cast<std::size_t>(q - p) : std::strlen(p);
      poe(t, p, n);
      p += n;
      continue;
    }
    char molde[16];
    std::size_t k = 0;
    molde[k++] = *p++;
    int precisao = -1;  // of a %s: at most this many characters
    while (*p != '\0' && std::strchr("-+ #0123456789.l*", *p) != nullptr && k < sizeof molde - 3) {
      if (p[0] == '.' && p[1] == '*') {
        precisao = va_arg(args, int);
        p += 2;
      } else if (p[0] == '.') {
        precisao = 0;
        for (const char* d = p + 1; *d >= '0' && *d <= '9'; ++d) precisao = precisao * 10 + (*d - '0');
        molde[k++] = *p++;
      } else if (*p == '*') {
        (void)va_arg(args, int);  // a width: names are never padded
        ++p;
      } else {
        molde[k++] = *p++;
      }
    }
    char conversao = *p;
    if (conversao == '\0') break;
    ++p;
    if (conversao == 's') {
      const char* nome = va_arg(args, const char*);
      std::size_t n = 0;
      while (nome[n] != '\0' && (precisao < 0 || n < static_cast<std::size_t>(precisao))) ++n;
      poe_nome(t, nome, n);
      continue;
    }
    // Integers are read as their own type and printed as long ("%ld").
    const bool longo = std::memchr(molde, 'l', k) != nullptr;
    const bool inteiro = std::strchr("diuxXo", conversao) != nullptr;
    if (inteiro && !longo) molde[k++] = 'l';
    molde[k++] = conversao;
    molde[k] = '\0';
    char parte[64] = "%";  // also what %% gives
    if (conversao == 'd' || conversao == 'i') {
      long v = longo ? va_arg(args, long) : va_arg(args, int);
      std::snprintf(parte, sizeof parte, molde, v);
    } else if (inteiro) {
      unsigned long v = longo ? va_arg(args, unsigned long) : va_arg(args, unsigned);
      std::snprintf(parte, sizeof parte, molde, v);
    } else if (conversao == 'c') {
      parte[0] = static_cast<char>(va_arg(args, int));
    } else if (conversao != '%') {
      std::snprintf(parte, sizeof parte, molde, va_arg(args, double));
    }
    poe(t, parte, std::strlen(parte));
  }
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
    if (!calada && plat::saida_console(texto, n)) {
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
  std::va_list args;
  va_start(args, formato);
  relata_v(formato, args);
  va_end(args);
}

void relata_v(const char* formato, std::va_list args) {
  mostra_adiado();
  if (!inicio_de_linha && plat::saida_terminal()) {
    escreve_erro("\n");
    inicio_de_linha = true;
  }
  char texto[1024] = "xagterm: ";
  Texto t{texto, sizeof texto, std::strlen(texto), 1};
  formata(t, formato, args);
  t.reserva = 0;
  poe(t, "\n", 1);  // room for it was kept
  escreve_erro(texto);
}

void erro(const char* texto) {
  mostra_adiado();
  escreve_erro(texto);
}

void erro_f(const char* formato, ...) {
  mostra_adiado();
  char texto[1024] = "";
  Texto t{texto, sizeof texto, 0, 0};
  std::va_list args;
  va_start(args, formato);
  formata(t, formato, args);
  va_end(args);
  escreve_erro(texto);
}

void erro_de(const char* nome, const char* razao) {
  if (nome[0] == '\0') {
    erro_f("%s\n", razao);
  } else {
    erro_f("%s: %s\n", nome, razao);
  }
}

void erro_sistema(const char* nome, int codigo) { erro_de(nome, std::strerror(codigo)); }

bool registo_abre(const char* caminho) {
  bool nao_comum = false;
  registo = plat::arquivo_acrescenta(caminho, nao_comum);
  if (registo == nullptr) {
    relata("%s: %s", caminho, nao_comum ? "nao e um arquivo comum" : std::strerror(errno));
    return false;
  }
  std::setvbuf(registo, nullptr, _IONBF, 0);  // each write reaches the file at once
  nome_registo = caminho;
  return true;
}

void saida_sem_esperar() { sem_esperar = true; }

void relata_descartados() {
  if (descartados > 0) relata("%lu bytes da saida padrao descartados", descartados);
}

void cala_saida(bool c) { calada = c; }
bool saida_calada() { return calada; }
