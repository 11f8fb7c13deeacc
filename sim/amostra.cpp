// xagamostra FILE: writes the small Intel HEX file that `make demo` uploads
// to the simulated board: a greeting and a table, 160 bytes from 0000.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "sim/memoria.hpp"

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fputs("usage: xagamostra FILE\n", stderr);
    return 2;
  }
  xagsim::Memoria m;
  const char saudacao[] = "Hello from xagterm! This came down the line one echoed character at a time.";
  m.escreve(0x0000, std::span(reinterpret_cast<const std::uint8_t*>(saudacao), std::strlen(saudacao)));
  std::uint8_t tabela[80];
  for (unsigned i = 0; i < sizeof tabela; ++i) tabela[i] = static_cast<std::uint8_t>(i * i);
  m.escreve(0x0050, tabela);
  if (!xagsim::grava_imagem(m, argv[1])) {
    std::perror(argv[1]);
    return 1;
  }
  return 0;
}
