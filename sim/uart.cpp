#include "sim/uart.hpp"

namespace xagsim {

bool formato_casa(const Formato& formato, long baud) {
  return formato.baud == baud && formato.oito_bits && !formato.paridade && !formato.dois_stop;
}

std::uint8_t byte_deturpado(std::uint8_t byte) {
  // Start bit and data bits sampled at the wrong instants: take it as the
  // bits shuffled and half of them flipped.
  auto b = static_cast<std::uint8_t>((byte << 3 | byte >> 5) ^ 0xA5);
  if (b == 0x00 || b == byte) b = static_cast<std::uint8_t>(b ^ 0x81);
  return b;
}

}  // namespace xagsim
