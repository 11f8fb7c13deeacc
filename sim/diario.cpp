#include "sim/diario.hpp"

namespace xagsim {

Diario::~Diario() { fecha(); }

bool Diario::abre(const std::string& caminho) {
  f_ = std::fopen(caminho.c_str(), "ae");
  // A line at a time, so that a test can follow the line as it goes.
  if (f_) std::setvbuf(f_, nullptr, _IOLBF, 0);
  return f_ != nullptr;
}

void Diario::rx(std::uint8_t byte) { linha("rx", byte); }

void Diario::tx(std::string_view bytes) {
  for (char c : bytes) linha("tx", static_cast<std::uint8_t>(c));
}

void Diario::marca(const std::string& que) {
  if (f_) std::fprintf(f_, "# %s\n", que.c_str());
}

void Diario::fecha() {
  if (f_) std::fclose(f_);
  f_ = nullptr;
}

void Diario::linha(const char* sentido, std::uint8_t byte) {
  if (f_) std::fprintf(f_, "%s %02X\n", sentido, byte);
}

}  // namespace xagsim
