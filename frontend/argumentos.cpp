#include "frontend/argumentos.hpp"

#include <algorithm>
#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/placas.hpp"
#include "platform/plataforma.hpp"
#include "programming/registros.hpp"
#include "saida/saida.hpp"

namespace {

constexpr int baud_padrao = 9600;
constexpr int baud_minimo = 300;
constexpr int baud_maximo = 115200;

// What one argument turned out to be.
enum Tipo {
  ignorado,
  taxa,
  taxa_fora,
  taxa_mal_escrita,  // b=11520O: a letter after the digits
  numero_solto,      // 115200 with no b=
  porta,
  arquivo,
  opcao,
  opcao_com_valor,
  desconhecida
};

// The decimal value as atoi reads it (white space, a sign, digits), but a
// value too large for an int stays out of range instead of wrapping into it.
// `resto` is what follows the digits.
int numero(const char* texto, const char*& resto) {
  char* fim = nullptr;
  long v = std::strtol(texto, &fim, 10);
  resto = fim;
  if (v > baud_maximo) return baud_maximo + 1;
  if (v < 0) return -1;
  return static_cast<int>(v);
}

bool digito(char c) { return c >= '0' && c <= '9'; }

bool so_digitos(const char* a) {
  if (*a == '\0') return false;
  while (digito(*a)) ++a;
  return *a == '\0';
}

// COMn or comn (n starting with a digit), the same after the Windows device
// prefix \\.\: always the port, com1.hex too.
bool e_porta_com(const char* a) {
  if (plat::sob_prefixo_dispositivo(a)) a += sizeof plat::prefixo_dispositivo - 1;
  bool com = std::strncmp(a, "COM", 3) == 0 || std::strncmp(a, "com", 3) == 0;
  return com && digito(a[3]);
}

bool alfanumerico(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }

// ttyUSB0, ttyACM3, ttyS0: the bare name of a serial device, present or not.
bool nome_tty(const char* a) {
  if (std::strncmp(a, "tty", 3) != 0) return false;
  for (a += 3; *a != '\0'; ++a) {
    if (!alfanumerico(*a)) return false;
  }
  return true;
}

// NAME://...: a port over the network (rfc2217://HOST:PORT, tcp://HOST:PORT).
bool nome_de_rede(const char* a) {
  const char* sep = std::strstr(a, "://");
  if (sep == nullptr || sep == a) return false;
  for (const char* p = a; p < sep; ++p) {
    if (!alfanumerico(*p) && *p != '+' && *p != '-' && *p != '.') return false;
  }
  return true;
}

// What looks like a port is the port even when it is not there: its open
// then fails and says so, rather than another device being opened.
bool parece_porta(const char* a) {
  return std::strncmp(a, "/dev/", 5) == 0 || nome_tty(a) || nome_de_rede(a);
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
  } else if (igual(a, opcao_contagem)) {
    r.conta_ao_pai = true;
  } else {
    return false;
  }
  return true;
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
      if (*p == 'x' && digito_hex(p[1]) >= 0 && digito_hex(p[2]) >= 0) {
        c = digito_hex(p[1]) * 16 + digito_hex(p[2]);
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

// --log FILE: an option where FILE should be means FILE was forgotten (a
// file named --batch would be created and the session run).
bool le_registo(int argc, char** argv, int i, Argumentos& r) {
  const char* valor = i + 1 < argc ? argv[i + 1] : nullptr;
  r.falta_registo = valor == nullptr || valor[0] == '-';
  r.registo = r.falta_registo ? nullptr : valor;
  return !r.falta_registo;
}

bool le_do_ciclo(int argc, char** argv, int i, Argumentos& r, Tipo& tipo);

// Takes argv[i] into r; returns what it was.
Tipo le_um(int argc, char** argv, int i, Argumentos& r) {
  const char* a = argv[i];
  if (Tipo ciclo = opcao; le_do_ciclo(argc, argv, i, r, ciclo)) return ciclo;
  if (igual(a, "--log")) return le_registo(argc, argv, i, r) ? opcao_com_valor : opcao;
  if (igual(a, "--answer")) {
    le_resposta(i + 1 < argc ? argv[i + 1] : nullptr, r);
    r.qualquer_resposta = false;  // the later of the two counts
    return opcao_com_valor;
  }
  if (e_opcao(a, r)) return opcao;
  if (a[0] == '-') return desconhecida;
  Tipo tipo = ignorado;
  const char* sinal = std::strchr(a, '=');
  if (sinal != nullptr && a[0] == 'b') {
    const char* resto = nullptr;
    r.baud = numero(sinal + 1, resto);
    tipo = *resto == '\0' ? taxa : taxa_mal_escrita;
  }
  if (r.baud < baud_minimo || r.baud > baud_maximo) {
    r.baud = baud_padrao;
    if (tipo != ignorado) tipo = taxa_fora;
  }
  if (e_porta_com(a)) {
    r.porta = a;
    return porta;
  }
  if (e_arquivo_hex(a)) {  // b=9600.hex: the rate, and the file
    r.arquivo = a;
    return tipo == taxa_fora ? taxa_fora : arquivo;
  }
  if (tipo != ignorado) return tipo;
  if (parece_porta(a) || plat::porta_nomeia_dispositivo(a)) {  // ~/placa -> /dev/pts/3
    r.porta = a;
    return porta;
  }
  return so_digitos(a) ? numero_solto : ignorado;
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

const char* const opcoes[] = {"--help",         "--version", "--list",   "--batch",      "--no-reconnect",
                              "--log",          "--fast",    "--answer", "--any-answer", "--erase",
                              "--clear-status", "--status",  "--dump",   "--reset",      "--quiet"};

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

// Keeps one report of the given kind for relata_argumentos.
void anota(Argumentos& r, char tipo, const char* formato, ...) __attribute__((format(printf, 3, 4)));
void anota(Argumentos& r, char tipo, const char* formato, ...) {
  char* livre = r.relatos + r.tamanho_relatos;
  int sobra = static_cast<int>(sizeof r.relatos) - r.tamanho_relatos;
  char relato[512];
  std::va_list args;
  va_start(args, formato);
  int n = std::vsnprintf(relato, sizeof relato, formato, args);
  va_end(args);
  n = std::min(n, static_cast<int>(sizeof relato) - 1);
  if (r.relatos_cortados || n < 0 || n + 3 > sobra) {  // the kind, the text, the line end, the NUL
    r.relatos_cortados = true;                         // what follows is left out too, so the order holds
    r.recusa_cortada = r.recusa_cortada || tipo == 'r';
    return;
  }
  std::snprintf(livre, static_cast<std::size_t>(sobra), "%c%s\n", tipo, relato);
  r.tamanho_relatos += n + 2;
}

// An argument that starts with '-' and is no option: refused, with a hint
// when it is another program's habit or a slip of the keys. True when the
// next argument was the option's value ("-b 115200"), taken with it.
bool anota_desconhecida(int argc, char** argv, int i, Argumentos& r) {
  const char* a = argv[i];
  const char* seguinte = i + 1 < argc ? argv[i + 1] : nullptr;
  const char* valor = seguinte;
  if (const Dica* d = dica_de(a, valor)) {
    bool com_valor = d->exemplo != nullptr && valor != nullptr && valor[0] != '\0' && valor[0] != '-';
    const char* exemplo = d->exemplo == nullptr ? "" : (com_valor ? valor : d->exemplo);
    anota(r, 'r', "opcao desconhecida: %s; %s%s", a, d->dica, exemplo);
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
    anota(r, 'r', "opcao desconhecida: %s; quis dizer %s?", a, parecida);
    return false;
  }
  anota(r, 'r', "opcao desconhecida: %s; veja xagterm --help", a);
  return false;
}

// The value of an option that takes one: an option in its place means it
// was forgotten.
const char* valor_de(int argc, char** argv, int i) {
  const char* valor = i + 1 < argc ? argv[i + 1] : nullptr;
  return valor == nullptr || valor[0] == '-' ? nullptr : valor;
}

// --erase or --erase=LIST.
void le_apaga(const char* a, Argumentos& r) {
  r.apaga_do_arquivo = a[7] == '\0';
  r.apaga = 0;
  if (r.apaga_do_arquivo) return;
  int mascara = le_lista_de_blocos(a + 8);
  if (mascara < 0) {
    anota(r, 'r', "%s: lista de blocos invalida; use 0,2,4,8,C separados por virgula, ou all", a);
    return;
  }
  r.apaga = static_cast<unsigned>(mascara);
}

// --reset SEQ and --dump START:COUNT, their value read whole.
Tipo le_reinicio(const char* valor, Argumentos& r) {
  if (valor == nullptr) {
    anota(r, 'r', "--reset sem sequencia; uso: --reset D1,R1,W100,R0");
    return opcao;
  }
  r.reinicia = le_sequencia_das_linhas(valor, r.reinicio);
  if (!r.reinicia)
    anota(r, 'r', "--reset %s: sequencia invalida; passos D0 D1 R0 R1 W<ms> separados por virgula", valor);
  return opcao_com_valor;
}

Tipo le_faixa_pedida(const char* valor, Argumentos& r) {
  if (valor == nullptr) {
    anota(r, 'r', "--dump sem faixa; uso: --dump INICIO:QUANTOS (hex)");
    return opcao;
  }
  r.mostra_faixa = le_faixa(valor, r.inicio, r.quantos);
  if (!r.mostra_faixa)
    anota(r, 'r', "--dump %s: faixa invalida; INICIO:QUANTOS em hex, no maximo ate 10000", valor);
  return opcao_com_valor;
}

// The options of the flash cycle and of how strictly answers are judged.
// False when argv[i] is none of them; else `tipo` says what it was.
bool le_do_ciclo(int argc, char** argv, int i, Argumentos& r, Tipo& tipo) {
  const char* a = argv[i];
  if (igual(a, "--erase") || std::strncmp(a, "--erase=", 8) == 0) {
    le_apaga(a, r);
  } else if (igual(a, "--clear-status")) {
    r.zera_status = true;
  } else if (igual(a, "--status")) {
    r.le_status = true;
  } else if (igual(a, "--quiet")) {
    r.calado = true;
  } else if (igual(a, "--any-answer")) {
    r.qualquer_resposta = true;
    r.julga_resposta = false;
  } else if (igual(a, "--reset")) {
    tipo = le_reinicio(valor_de(argc, argv, i), r);
  } else if (igual(a, "--dump")) {
    tipo = le_faixa_pedida(valor_de(argc, argv, i), r);
  } else {
    return false;
  }
  return true;
}

// What the cycle's options need of the rest of the line.
void confere_ciclo(Argumentos& r) {
  if (r.apaga_do_arquivo && r.arquivo == nullptr) {
    anota(r, 'r', "--erase sem arquivo hex; use --erase=LISTA (0,2,4,8,C ou all)");
  }
  if (r.calado && !r.lote) anota(r, 'r', "--quiet so com --batch");
}

// A hex file named after another one: kept, said with --batch.
void outro(Argumentos& r, const char*& antes, const char* agora, const char* o_que) {
  if (antes != nullptr && std::strcmp(antes, agora) != 0) anota(r, 'l', "%s: %s e %s", o_que, antes, agora);
  antes = agora;
}

// Every port is kept: with --batch each is a board of its own. Those beyond
// the room are only counted.
void guarda_porta(Argumentos& r) {
  if (r.quantas_portas < plat::filhos_maximo) r.portas[r.quantas_portas] = r.porta;
  ++r.quantas_portas;
}

// Several ports, said once every argument is read: more than can run at
// once, and one --log that every board's child would write at the same time.
void anota_portas(Argumentos& r) {
  if (r.quantas_portas > plat::filhos_maximo) {
    anota(r, 'l', "%d portas; no maximo %d de uma vez", r.quantas_portas, plat::filhos_maximo);
  }
  if (r.quantas_portas > 1 && r.registo != nullptr) anota(r, 'l', "--log vale para uma porta so");
}

// What is to be said about argument i, of its kind.
void anota_tipo(Argumentos& r, const char* a, Tipo tipo, int baud) {
  if (tipo == ignorado) {
    anota(r, 'a', "argumento ignorado: %s", a);
  } else if (tipo == numero_solto) {
    anota(r, 'a', "argumento ignorado: %s; use b=%s", a, a);
  } else if (tipo == taxa_fora) {
    anota(r, 'a', "%s: taxa fora de %d..%d, usando %d", a, baud_minimo, baud_maximo, baud_padrao);
  } else if (tipo == taxa_mal_escrita) {
    anota(r, 'a', "%s: taxa mal escrita, usando %d", a, baud);
  }
}

}  // namespace

const char* extencao(const char* texto) {
  const char* ponto = std::strrchr(texto, '.');
  return ponto != nullptr ? ponto : texto;
}

Argumentos le_argumentos(int argc, char** argv) {
  Argumentos r;
  const char* arquivo_antes = nullptr;
  for (int i = 1; i < argc; ++i) {
    const char* porta_era = r.porta;
    const char* arquivo_era = r.arquivo;
    Tipo tipo = le_um(argc, argv, i, r);
    if (tipo == opcao_com_valor) {
      ++i;
    } else if (tipo == desconhecida) {
      if (anota_desconhecida(argc, argv, i, r)) ++i;
    } else {
      anota_tipo(r, argv[i], tipo, r.baud);
    }
    if (r.porta != porta_era) guarda_porta(r);
    if (r.arquivo != arquivo_era) outro(r, arquivo_antes, r.arquivo, "mais de um arquivo hex");
  }
  anota_portas(r);
  confere_ciclo(r);
  return r;
}

bool pede_ciclo(const Argumentos& a) {
  return a.apaga_do_arquivo || a.apaga != 0 || a.zera_status || a.le_status || a.mostra_faixa || a.reinicia;
}

bool julga_respostas(const Argumentos& a) {
  return a.julga_resposta || (!a.qualquer_resposta && (a.lote || a.rapido || pede_ciclo(a)));
}

bool argumentos_aceitos(const Argumentos& a) {
  for (const char* p = a.relatos; *p != '\0'; p = std::strchr(p, '\n') + 1) {
    if (*p == 'r' || a.lote) return false;
  }
  return !a.recusa_cortada && !(a.relatos_cortados && a.lote);
}

void relata_argumentos(const Argumentos& a) {
  for (const char* p = a.relatos; *p != '\0';) {
    const char* fim = std::strchr(p, '\n');
    if (*p != 'l' || a.lote) relata("%.*s", static_cast<int>(fim - p - 1), p + 1);
    p = fim + 1;
  }
  if (a.relatos_cortados) relata("outros argumentos nao relatados");
  if (!argumentos_aceitos(a)) {
    relata("uso: xagterm [%s] [b=TAXA] [ARQUIVO.hex] [opcoes]; veja xagterm --help", plat::ajuda_uso_porta());
  }
}
