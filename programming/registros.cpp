#include "programming/registros.hpp"

#include <cstdio>

namespace {

// 0x7A is the two's complement of 02 + 00 + 00 + 83 + 01.
constexpr std::uint32_t soma_fixa_apaga = 0x7A;
// 05 + 00 + 00 + 84 and the trailing data byte 00.
constexpr std::uint32_t soma_fixa_mostra = 0x89;

unsigned short baixo16(std::uint32_t v) { return static_cast<unsigned short>(v & 0xFFFF); }

}  // namespace

int digito_hex(int c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

void registro_apaga(char* buf, std::int32_t codigo) {
  std::uint32_t bb = static_cast<std::uint32_t>(codigo);
  std::uint32_t cc = (soma_fixa_apaga - bb) & 0xFF;
  std::snprintf(buf, tamanho_registro, ":0200008301%02hX%02hX\n", baixo16(bb), baixo16(cc));
}

void registro_mostra(char* buf, std::int32_t inicio, std::int32_t fim) {
  // In 32 bits, wrapping; only the low 16 bits of S and E are printed and
  // only their low 16 bits reach the sum modulo 256.
  std::uint32_t s = static_cast<std::uint32_t>(inicio);
  std::uint32_t e = static_cast<std::uint32_t>(fim);
  std::uint32_t cc = (0u - (s >> 8) - s - (e >> 8) - e - soma_fixa_mostra) & 0xFF;
  std::snprintf(buf, tamanho_registro, ":05000084%04hX%04hX00%02hX\n", baixo16(s), baixo16(e), baixo16(cc));
}
