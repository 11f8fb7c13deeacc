// One direction of the line at a real line's pace: each byte takes its 10
// bit times (start bit, 8 data bits, stop bit) at the line's rate after the
// byte before it, then the adapter's latency, before it reaches the other
// end. Times are absolute, so nothing drifts however late the caller looks.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

#include "sim/saida.hpp"

namespace xagsim {

inline constexpr std::size_t bits_por_byte = 10;

// How long one byte takes on a line at baud; zero for no rate (baud <= 0).
Relogio::duration tempo_de_byte(long baud);

class Fio {
 public:
  explicit Fio(Ms latencia) : latencia_(latencia) {}

  // Bytes that were ready to go from pronto on, on a line set to baud.
  void junta(std::string_view bytes, Instante pronto, long baud);

  bool vazio() const { return quando_.empty(); }
  std::size_t tamanho() const { return quando_.size(); }

  // When the next byte reaches the other end; nullopt when none is on its way.
  std::optional<Instante> proximo() const;

  // When the line has sent all it was given (the latency aside): a UART
  // takes its next byte then.
  Instante livre() const { return fim_ultimo_; }

  // The next byte on its way; only while there is one.
  char primeiro() const { return bytes_[inicio_]; }

  // The bytes that have reached the other end by agora, in order (a prefix
  // of what is on its way). Valid until the next change.
  std::string_view chegados(Instante agora) const;

  // The first n bytes were taken at the other end.
  void tira(std::size_t n);

 private:
  Ms latencia_;
  std::string bytes_;  // from inicio_ on: on their way
  std::size_t inicio_ = 0;
  std::deque<Instante> quando_;  // when each of them arrives
  Instante fim_ultimo_{};        // when the last byte left the line
};

}  // namespace xagsim
