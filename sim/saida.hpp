// What the device has still to send, in order, each byte no earlier than its
// time: echoes wait out the echo delay, answer characters each wait the answer
// delay after the byte before them.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace xagsim {

using Relogio = std::chrono::steady_clock;
using Instante = Relogio::time_point;
using Ms = std::chrono::milliseconds;

class Saida {
 public:
  // Queues bytes to go out from cedo on; with antes_de_cada, each of them
  // also waits that long after the byte sent before it.
  void junta(std::string bytes, Instante cedo, Ms antes_de_cada = Ms{0});

  bool vazia() const { return fila_.empty(); }

  // When the next byte may go out; nullopt when there is none.
  std::optional<Instante> proximo() const;

  // The bytes that may go out at agora, in order (a prefix of what is left;
  // empty when the next byte is not due). Valid until the next call.
  std::string_view prontos(Instante agora) const;

  // The first n bytes of prontos() went out at agora.
  void enviados(std::size_t n, Instante agora);

 private:
  struct Pedaco {
    std::string bytes;
    std::size_t feitos = 0;
    Instante cedo;
    Ms antes_de_cada;
  };
  std::deque<Pedaco> fila_;
  Instante ultimo_envio_{};
};

}  // namespace xagsim
