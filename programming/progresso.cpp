#include "programming/progresso.hpp"

#include <cstdint>
#include <cstdio>

#include "platform/plataforma.hpp"

namespace {

constexpr std::int64_t intervalo_us = 100000;  // 10 times a second at most
constexpr std::int64_t us_por_segundo = 1000000;

int total = 0;
std::int64_t inicio = 0;
std::int64_t mostrado_em = 0;
int largura = 0;      // characters of the line on screen (0: none)
bool ao_pai = false;  // counts to the parent instead of a line

// Straight to standard error: a line being redrawn is no report, and has no
// place in the --log copy.
void escreve(const char* texto) { std::fputs(texto, stderr); }

// "\x1F12/34\n": a line of its own, which the parent takes whole.
void conta(int enviadas) {
  char texto[32];
  std::snprintf(texto, sizeof texto, "%c%d/%d\n", marca_contagem, enviadas, total);
  escreve(texto);
}

}  // namespace

void progresso_ao_pai(bool sim) { ao_pai = sim; }

void progresso_inicia(int linhas) {
  total = plat::erro_terminal() || ao_pai ? linhas : 0;
  largura = 0;
  inicio = plat::agora_us();
  mostrado_em = inicio - intervalo_us;
}

void progresso_linha(int enviadas) {
  std::int64_t agora = plat::agora_us();
  bool ultima = ao_pai && enviadas == total;
  if (total <= 0 || (agora - mostrado_em < intervalo_us && !ultima)) return;
  mostrado_em = agora;
  if (ao_pai) {
    conta(enviadas);
    return;
  }
  long segundos = static_cast<long>((agora - inicio) / us_por_segundo);
  char texto[96];
  int n = std::snprintf(texto, sizeof texto, "\r%d de %d linhas, %d%%, %ld:%02ld", enviadas, total,
                        static_cast<int>(100LL * enviadas / total), segundos / 60, segundos % 60);
  // Spaces over what is left of a longer line before it.
  while (n < largura && n < static_cast<int>(sizeof texto) - 2) texto[n++] = ' ';
  // With the upload's echoes on the same screen, they start over the line.
  if (plat::saida_terminal()) texto[n++] = '\r';
  texto[n] = '\0';
  largura = n;
  escreve(texto);
}

void progresso_apaga() {
  if (largura == 0) return;
  char texto[96];
  int n = 0;
  texto[n++] = '\r';
  while (n < largura && n < static_cast<int>(sizeof texto) - 2) texto[n++] = ' ';
  texto[n++] = '\r';
  texto[n] = '\0';
  largura = 0;
  escreve(texto);
}
