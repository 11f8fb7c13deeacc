// What the fuzz targets share: the fuzzer's bytes cut into parts, and a
// device on the fake line that answers as a script of bytes tells it to,
// keeping the time each of its bytes arrives so a target can tell how many
// bytes the program can have read by any moment.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "tests/fake/fake.hpp"

namespace fuzz {

// A failed invariant: abort, so libFuzzer keeps the input as a crash.
inline void exige(bool ok) {
  if (!ok) std::abort();
}

// The bytes before the first "\xFF\xFE" and those after it (empty without one).
inline void divide(std::string_view dados, std::string_view& antes, std::string_view& depois) {
  std::size_t at = dados.find("\xFF\xFE");
  antes = dados.substr(0, at);
  depois = at == std::string_view::npos ? std::string_view{} : dados.substr(at + 2);
}

// The device, scripted one byte per byte the program writes:
//   bits 0-1: 0 echo it, 1 echo another byte, 2 say nothing, 3 echo it and one more byte
//   bits 2-3: after 20 us, 0.9 ms, 3 ms or 80 ms (past the echo wait)
// After a line feed, when it answers lines, the next script byte a gives
// a % 5 bytes of "OK\r\n>" after one of those delays. Once the script is
// spent it echoes at once and answers "OK\r", so any input reaches the end.
class Dispositivo {
 public:
  Dispositivo(std::string_view roteiro, bool responde_linhas)
      : roteiro_(roteiro), responde_linhas_(responde_linhas) {}

  // Bytes already on the line before the exchange starts: the first script
  // byte % 4 bytes of a board's prompt.
  void conversa_antes() {
    if (roteiro_.empty()) return;
    envia(std::string_view("XAG>").substr(0, proximo() % 4), 0);
  }

  // Called for every byte the program writes (fake::dispositivo).
  void recebe(unsigned char c) {
    int s = roteiro_.empty() ? 0 : proximo();
    fake::Micros atraso = atrasos[(s >> 2) & 3];
    char eco = static_cast<char>(c);
    switch (s & 3) {
      case 0: envia(std::string_view(&eco, 1), atraso); break;
      case 1: {
        char outro = static_cast<char>(c ^ (1 + (s >> 4)));
        envia(std::string_view(&outro, 1), atraso);
        break;
      }
      case 2: break;
      default: {
        char dois[2] = {eco, static_cast<char>('0' + (s >> 4))};
        envia(std::string_view(dois, 2), atraso);
        break;
      }
    }
    if (c == '\n' && responde_linhas_) {
      int a = roteiro_.empty() ? 3 : proximo();
      envia(std::string_view("OK\r\n>").substr(0, a % 5), atraso + atrasos[(a >> 3) & 3]);
    }
  }

  // How many of the device's bytes have arrived by now.
  std::size_t chegados() const {
    fake::Micros agora = fake::agora();
    return static_cast<std::size_t>(
        std::count_if(chegadas_.begin(), chegadas_.end(), [agora](fake::Micros t) { return t <= agora; }));
  }

 private:
  static constexpr fake::Micros atrasos[4] = {20, 900, 3000, 80000};

  int proximo() {
    int s = static_cast<unsigned char>(roteiro_.front());
    roteiro_.remove_prefix(1);
    return s;
  }

  void envia(std::string_view bytes, fake::Micros atraso) {
    fake::Micros quando = fake::agora() + atraso;
    fake::chega(bytes, quando);
    chegadas_.insert(chegadas_.end(), bytes.size(), quando);
  }

  std::string_view roteiro_;
  bool responde_linhas_;
  std::vector<fake::Micros> chegadas_;
};

}  // namespace fuzz
