// The chip's 64 KiB of program memory, flash: a write can only clear bits,
// so each byte stored is the new one ANDed with what the cell held (FF once
// erased). It remembers which bytes data records have written since they
// were last erased.
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

  // Stores dados from endereco on, wrapping past FFFF to 0000, as flash
  // does: each byte ANDed with the old one. False when what the cells now
  // hold differs from dados (a cell written before without an erase).
  bool escreve(std::uint16_t endereco, std::span<const std::uint8_t> dados);

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

// Stores the data records of an Intel HEX text (LF or CR LF line ends) up
// to its end record, as a board that was programmed with it. False, with the
// line number and what is wrong in erro, at a line that is no good record of
// type 00 or 01 or when the end record is missing.
bool carrega_intel_hex(Memoria& m, const std::string& texto, std::string& erro);

// Reads the file at caminho into m as carrega_intel_hex does. False, with
// erro said, when it cannot be read or is no image.
bool le_imagem(Memoria& m, const std::string& caminho, std::string& erro);

// Writes imagem_intel_hex(m) to the file at caminho. False on failure.
bool grava_imagem(const Memoria& m, const std::string& caminho);

}  // namespace xagsim
