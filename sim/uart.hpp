// The device's UART runs at one rate, 8N1. Bytes sent to it in any other way
// arrive as something else.
#pragma once

#include <cstdint>
#include <optional>

namespace xagsim {

// How the program at the other end has set the line.
struct Formato {
  long baud = 0;  // bits per second
  bool oito_bits = true;
  bool paridade = false;
  bool dois_stop = false;
};

// Whether a UART at baud, 8N1, reads what is sent in formato correctly.
bool formato_casa(const Formato& formato, long baud);

// What a byte sent at the wrong rate turns into: fixed for each byte, never
// 0x00 and never the byte itself.
std::uint8_t byte_deturpado(std::uint8_t byte);

}  // namespace xagsim
