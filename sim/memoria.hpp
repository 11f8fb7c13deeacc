// The chip's 64 KiB of program memory, remembering which bytes data records
// have written since they were last erased.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace xagsim {

class Memoria {
 public:
  static constexpr std::size_t tamanho = 0x10000;
  static constexpr std::uint8_t apagado = 0xFF;

  Memoria();

  // Stores dados from endereco on, wrapping past FFFF to 0000.
  void escreve(std::uint16_t endereco, std::span<const std::uint8_t> dados);

  // Erases inicio..fim inclusive (inicio <= fim): FF and no longer written.
  void apaga(std::uint16_t inicio, std::uint16_t fim);

  std::uint8_t le(std::uint16_t endereco) const { return bytes_[endereco]; }
  bool escrito(std::uint16_t endereco) const { return escritos_[endereco]; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::vector<bool> escritos_;
};

// The written bytes as Intel HEX text: type-00 records of at most 16 bytes,
// each within one run of written bytes, upper-case, LF line ends, closed by
// the end-of-file record ":00000001FF".
std::string imagem_intel_hex(const Memoria& m);

// Writes imagem_intel_hex(m) to the file at caminho. False on failure.
bool grava_imagem(const Memoria& m, const std::string& caminho);

}  // namespace xagsim
