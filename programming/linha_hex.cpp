#include "programming/linha_hex.hpp"

#include <cerrno>

#include "platform/plataforma.hpp"
#include "saida/saida.hpp"

std::FILE* abre_hex(const char* path) {
  bool nao_comum = false;
  std::FILE* f = plat::arquivo_abre(path, nao_comum);
  if (f == nullptr && nao_comum) {
    erro_de(path, "nao e um arquivo comum");
  } else if (f == nullptr) {
    erro_sistema(path, errno);
  }
  return f;
}

Leitura le_linha_hex(std::FILE* f, char* linha, int& n) {
  n = 0;
  for (;;) {
    int c = std::getc(f);
    if (c == EOF && std::ferror(f)) return falhou;
    if (c == EOF) return n == 0 ? fim_do_arquivo : falta_fim_de_linha;
    if (c == '\0') return com_nul;
    if (c == '\n') break;
    // 601 kept: the 601st may still be the CR of a CR LF.
    if (n == maximo_da_linha + 1) return longa_demais;
    linha[n++] = static_cast<char>(c);
  }
  if (n == maximo_da_linha + 1 && linha[n - 1] != '\r') return longa_demais;
  linha[n++] = '\n';
  linha[n] = '\0';
  return lida;
}

void relata_leitura(const char* path, int numero, Leitura leitura) {
  if (leitura == longa_demais) {
    relata("%s: linha %d: longa demais (mais de %d caracteres)", path, numero, maximo_da_linha);
  } else if (leitura == com_nul) {
    relata("%s: linha %d: byte 0x00", path, numero);
  } else if (leitura == falta_fim_de_linha) {
    relata("%s: linha %d: falta o fim de linha", path, numero);
  } else {
    erro_sistema(path, errno);
  }
}
