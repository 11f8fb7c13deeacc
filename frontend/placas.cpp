#include "frontend/placas.hpp"

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/plataforma.hpp"
#include "programming/progresso.hpp"
#include "saida/saida.hpp"

namespace {

constexpr int sai_porta = 1;     // a child that could not be started
constexpr int sai_recusado = 2;  // the ports or arguments refused

constexpr int tamanho_linha = 2048;  // a line held back until its end (a report is at most 1024)
constexpr int outros_maximo = 64;    // other arguments passed to each child
constexpr const char prefixo[] = "xagterm: ";
constexpr std::size_t tamanho_prefixo = sizeof prefixo - 1;

// A line of a child's stream being gathered.
struct Linha {
  char texto[tamanho_linha];
  int n;
  bool fim;  // the stream has ended
};

struct Placa {
  const char* porta;
  int filho;  // -1: not started
  Linha saida;
  Linha erro;
  int status;  // -1 while the child runs
  int enviadas;
  int total;  // 0 while the child has not said
};

Placa placas[plat::filhos_maximo];
int quantas = 0;

// Standard output: the board whose line is unfinished on it (-1: none).
int dona_da_linha = -1;

// The progress line for all, on standard error.
bool com_progresso = false;
constexpr std::int64_t intervalo_us = 100000;  // redrawn 10 times a second at most
constexpr int colunas = 79;
std::int64_t desenhado_em = 0;
int largura = 0;  // characters of the line on screen (0: none)

// --- the progress line ------------------------------------------------------

// Straight to standard error, as the single upload's progress line: a line
// redrawn is no report, and has no place in the --log copy.
void progresso_geral_escreve(const char* texto) { std::fputs(texto, stderr); }

void progresso_geral_apaga() {
  if (largura == 0) return;
  char texto[colunas + 4];
  int n = 0;
  texto[n++] = '\r';
  while (n < largura && n < colunas + 1) texto[n++] = ' ';
  texto[n++] = '\r';
  texto[n] = '\0';
  largura = 0;
  progresso_geral_escreve(texto);
}

// "3 placas: 12/34 34/34 -": each board's lines sent of its total ("-"
// until it has said), as many as fit on a line.
void progresso_geral_desenha() {
  std::int64_t agora = plat::agora_us();
  if (!com_progresso || agora - desenhado_em < intervalo_us) return;
  desenhado_em = agora;
  char texto[colunas + 4];
  int n = std::snprintf(texto, sizeof texto, "\r%d placas:", quantas);
  for (int i = 0; i < quantas; ++i) {
    char parte[32];
    const Placa& p = placas[i];
    if (p.total > 0) {
      std::snprintf(parte, sizeof parte, " %d/%d", p.enviadas, p.total);
    } else {
      std::snprintf(parte, sizeof parte, " -");
    }
    int k = static_cast<int>(std::strlen(parte));
    if (n + k > colunas - 4) {
      std::memcpy(texto + n, " ...", 4);
      n += 4;
      break;
    }
    std::memcpy(texto + n, parte, static_cast<std::size_t>(k));
    n += k;
  }
  int escrita = n;
  while (n < largura && n < colunas + 1) texto[n++] = ' ';  // over a longer line before it
  texto[n] = '\0';
  largura = escrita;
  progresso_geral_escreve(texto);
}

// --- what the children show -------------------------------------------------

// Standard output: whole lines of one board. Another board's unfinished line
// (it ended without a line end) is closed first.
void mostra_da_placa(int i, const char* texto, int n) {
  if (n <= 0) return;
  if (plat::saida_terminal()) progresso_geral_apaga();  // on the same screen
  if (dona_da_linha >= 0 && dona_da_linha != i) mostra_byte('\n');
  mostra_bytes(reinterpret_cast<const unsigned char*>(texto), static_cast<std::size_t>(n));
  dona_da_linha = texto[n - 1] == '\n' ? -1 : i;
}

// A line on standard error, on a console line of its own, as relata does.
void erro_da_placa(const char* texto) {
  progresso_geral_apaga();
  if (dona_da_linha >= 0 && plat::saida_terminal()) {
    erro("\n");
    em_inicio_de_linha();
    dona_da_linha = -1;
  }
  erro(texto);
}

// "L/T" after the mark: the child's count (anything else is ignored).
void le_contagem(Placa& p, const char* texto) {
  char* fim = nullptr;
  long enviadas = std::strtol(texto + 1, &fim, 10);
  if (fim == texto + 1 || *fim != '/') return;
  const char* depois = fim + 1;
  long total = std::strtol(depois, &fim, 10);
  if (fim == depois || total <= 0 || total > 1000000000L || enviadas < 0 || enviadas > total) return;
  p.enviadas = static_cast<int>(enviadas);
  p.total = static_cast<int>(total);
}

// One line of a child's standard error (NUL-terminated, with its line end
// when it had one): a count is taken; a report gets the port after
// "xagterm: "; anything else goes as it stands.
void linha_de_erro(Placa& p, const char* texto, int n) {
  if (texto[0] == marca_contagem) {
    le_contagem(p, texto);
    return;
  }
  static char linha[tamanho_linha + 300];
  const char* fim = n > 0 && texto[n - 1] == '\n' ? "" : "\n";  // a cut line still ends
  if (std::strncmp(texto, prefixo, tamanho_prefixo) != 0) {
    std::snprintf(linha, sizeof linha, "%s%s", texto, fim);
  } else {
    std::snprintf(linha, sizeof linha, "%s%.256s: %s%s", prefixo, p.porta, texto + tamanho_prefixo, fim);
  }
  erro_da_placa(linha);
}

// Hands on the whole lines gathered (all of it once the buffer is full or
// the stream has ended) and keeps the unfinished rest.
void entrega(int i, Linha& l, bool de_saida) {
  int inicio = 0;
  for (int k = 0; k < l.n; ++k) {
    // Full: a read always has room for 2 bytes (a held CR and one more).
    bool cheia = inicio == 0 && k == l.n - 1 && l.n >= tamanho_linha - 2;
    bool ultima = k == l.n - 1 && l.fim;
    if (l.texto[k] != '\n' && !cheia && !ultima) continue;
    if (de_saida) {
      mostra_da_placa(i, l.texto + inicio, k + 1 - inicio);
    } else {
      char guarda = l.texto[k + 1];
      l.texto[k + 1] = '\0';
      linha_de_erro(placas[i], l.texto + inicio, k + 1 - inicio);
      l.texto[k + 1] = guarda;
    }
    inicio = k + 1;
  }
  std::memmove(l.texto, l.texto + inicio, static_cast<std::size_t>(l.n - inicio));
  l.n -= inicio;
}

// Takes what is waiting on one stream of a child, a few reads at most, so
// that one child never holds up the others.
void le_canal(int i, int canal, Linha& l) {
  for (int vez = 0; vez < 8 && !l.fim; ++vez) {
    int r = plat::filho_le(placas[i].filho, canal, l.texto + l.n, tamanho_linha - 1 - l.n);
    if (r < 0) l.fim = true;
    if (r > 0) l.n += r;
    entrega(i, l, canal == plat::canal_saida);
    if (r <= 0) break;
  }
}

bool correndo(const Placa& p) { return p.filho >= 0 && p.status < 0; }

void le_placa(int i) {
  Placa& p = placas[i];
  if (!correndo(p)) return;
  le_canal(i, plat::canal_saida, p.saida);
  le_canal(i, plat::canal_erro, p.erro);
  if (p.saida.fim && p.erro.fim) p.status = plat::filho_espera(p.filho);
}

bool alguma_correndo() {
  for (int i = 0; i < quantas; ++i) {
    if (correndo(placas[i])) return true;
  }
  return false;
}

// --- before and after ---------------------------------------------------------

// A Windows device path (\\.\COM3): its name ignores case there, so com3
// is the same port. No POSIX path starts so.
bool dispositivo_windows(const char* caminho) { return std::strncmp(caminho, "\\\\.\\", 4) == 0; }

bool mesmo_texto_sem_caixa(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) {
      return false;
    }
  }
  return *a == *b;
}

// Two names of the same port: the same text, or the same device path.
bool mesma_porta(const char* a, const char* b) {
  if (std::strcmp(a, b) == 0) return true;
  char ca[512];
  char cb[512];
  if (!plat::porta_caminho(a, ca, sizeof ca) || !plat::porta_caminho(b, cb, sizeof cb)) return false;
  if (dispositivo_windows(ca) && dispositivo_windows(cb)) return mesmo_texto_sem_caixa(ca, cb);
  return std::strcmp(ca, cb) == 0 || plat::mesmo_arquivo(ca, cb);
}

bool confere_lote(const Lote& lote) {
  if (lote.quantas > plat::filhos_maximo) {
    relata("%d portas; no maximo %d de uma vez", lote.quantas, plat::filhos_maximo);
    return false;
  }
  if (lote.n_outros > outros_maximo) {
    relata("argumentos demais para varias placas (no maximo %d alem das portas)", outros_maximo);
    return false;
  }
  for (int i = 0; i < lote.quantas; ++i) {
    for (int j = 0; j < i; ++j) {
      if (!mesma_porta(lote.portas[j], lote.portas[i])) continue;
      relata("%s: porta repetida", lote.portas[i]);
      return false;
    }
  }
  return true;
}

// argv of the child for one port: the program, the port, the others, and
// the count option when the parent shows progress.
void inicia_placa(const Lote& lote, int i) {
  const char* argv[outros_maximo + 4];
  int n = 0;
  argv[n++] = lote.programa != nullptr ? lote.programa : "xagterm";
  argv[n++] = lote.portas[i];
  for (int k = 0; k < lote.n_outros; ++k) argv[n++] = lote.outros[k];
  if (lote.progresso) argv[n++] = opcao_contagem;
  argv[n] = nullptr;
  Placa& p = placas[i];
  p = Placa{};
  p.porta = lote.portas[i];
  p.filho = plat::filho_inicia(lote.programa, argv);
  p.status = -1;
  if (p.filho < 0) {
    relata("%s: nao iniciou: %s", p.porta, std::strerror(errno));
    p.status = sai_porta;
  }
}

// "2 de 3 placas gravadas; falhou: ttyUSB1 (status 3)", on a line of its own.
int resume() {
  static char texto[plat::filhos_maximo * 300 + 128];
  int gravadas = 0;
  int falhas = 0;
  int pior = 0;
  for (int i = 0; i < quantas; ++i) {
    if (placas[i].status == 0) ++gravadas;
    if (placas[i].status != 0) ++falhas;
    if (placas[i].status > pior) pior = placas[i].status;
  }
  std::size_t n = static_cast<std::size_t>(
      std::snprintf(texto, sizeof texto, "%s%d de %d placas gravadas", prefixo, gravadas, quantas));
  if (falhas > 0)
    n += static_cast<std::size_t>(
        std::snprintf(texto + n, sizeof texto - n, "; %s", falhas == 1 ? "falhou:" : "falharam:"));
  const char* separa = " ";
  for (int i = 0; i < quantas; ++i) {
    if (placas[i].status == 0) continue;
    n += static_cast<std::size_t>(std::snprintf(texto + n, sizeof texto - n, "%s%.256s (status %d)", separa,
                                                placas[i].porta, placas[i].status));
    separa = ", ";
  }
  std::snprintf(texto + n, sizeof texto - n, "\n");
  erro_da_placa(texto);
  return pior;
}

}  // namespace

int grava_placas(const Lote& lote) {
  if (!confere_lote(lote)) return sai_recusado;
  quantas = lote.quantas;
  com_progresso = lote.progresso;
  dona_da_linha = -1;
  largura = 0;
  desenhado_em = plat::agora_us() - intervalo_us;
  // A child's output that standard output does not take at once is dropped
  // and counted, as a single upload's: the parent waiting for a reader would
  // hold up every child's reports behind it.
  saida_sem_esperar();
  plat::filhos_vigia(true);
  for (int i = 0; i < quantas; ++i) inicia_placa(lote, i);
  while (alguma_correndo()) {
    // With a progress line, woken now and then to redraw it.
    plat::filhos_aguarda(com_progresso ? static_cast<int>(intervalo_us / 1000) : -1);
    for (int i = 0; i < quantas; ++i) le_placa(i);
    progresso_geral_desenha();
  }
  progresso_geral_apaga();
  int status = resume();
  relata_descartados();
  plat::filhos_vigia(false);
  return status;
}
