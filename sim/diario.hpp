// The --log file: one line per byte received ("rx HH") or sent ("tx HH"),
// in the order it happens, and a line "# WHAT" for each thing the line
// itself does (unplugged, plugged in again).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace xagsim {

class Diario {
 public:
  Diario() = default;
  Diario(const Diario&) = delete;
  Diario& operator=(const Diario&) = delete;
  ~Diario();

  // Appends to the file at caminho. False when it cannot be opened.
  bool abre(const std::string& caminho);

  void rx(std::uint8_t byte);
  void tx(std::string_view bytes);
  void marca(const std::string& que);
  void fecha();

 private:
  void linha(const char* sentido, std::uint8_t byte);
  std::FILE* f_ = nullptr;
};

}  // namespace xagsim
