// One Intel HEX record as the programming firmware reads it: ':' LL AAAA TT
// DD.. CC in hex digits of either case.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace xagsim {

struct Registo {
  std::uint8_t tipo = 0;
  std::uint16_t endereco = 0;
  std::vector<std::uint8_t> dados;
};

enum class Veredicto { bom, checksum_errado, malformado };

struct Leitura {
  Veredicto veredicto = Veredicto::malformado;
  Registo registo;  // filled only when the record is good
};

// Reads one whole record (no line end). Anything but exactly 11 + 2*LL
// characters of ':' and hex digits is malformed; a well-formed record whose
// bytes do not add up to zero (mod 256) has a wrong checksum.
Leitura le_registo(std::string_view texto);

// How many characters the record starting in texto will have, counting the
// ':', once its LL is known; nullopt while the text is not ':' and two hex
// digits so far.
std::optional<std::size_t> tamanho_previsto(std::string_view texto);

// The checksum byte that makes a record with these fields add up to zero.
std::uint8_t checksum(std::uint8_t tipo, std::uint16_t endereco, const std::vector<std::uint8_t>& dados);

// Appends valor as `digitos` upper-case hex digits.
void junta_hex(std::string& s, unsigned valor, int digitos);

}  // namespace xagsim
