// xagsim's record reader over any text. Checked: a good record has exactly
// 11 + 2 * LL characters, LL data bytes and the checksum that the writer
// side computes, and written back in upper case it is the text it was read
// from; the expected length agrees with the reader; nothing reads past the
// text (ASan).
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/registo.hpp"
#include "tests/fuzz/linha_fuzz.hpp"

namespace {

std::string maiusculas(std::string_view s) {
  std::string r(s);
  for (char& c : r) {
    if (c >= 'a' && c <= 'f') c = static_cast<char>(c - 'a' + 'A');
  }
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t n) {
  // A copy of exactly n bytes, so ASan sees a read one past the text.
  std::string copia(reinterpret_cast<const char*>(dados), n);
  std::string_view texto(copia);
  auto previsto = xagsim::tamanho_previsto(texto);
  xagsim::Leitura l = xagsim::le_registo(texto);
  if (l.veredicto == xagsim::Veredicto::malformado) return 0;

  fuzz::exige(previsto.has_value() && *previsto == texto.size());
  if (l.veredicto != xagsim::Veredicto::bom) return 0;
  const xagsim::Registo& r = l.registo;
  fuzz::exige(texto.size() == 11 + 2 * r.dados.size());
  std::string escrito = ":";
  xagsim::junta_hex(escrito, static_cast<unsigned>(r.dados.size()), 2);
  xagsim::junta_hex(escrito, r.endereco, 4);
  xagsim::junta_hex(escrito, r.tipo, 2);
  for (auto b : r.dados) xagsim::junta_hex(escrito, b, 2);
  xagsim::junta_hex(escrito, xagsim::checksum(r.tipo, r.endereco, r.dados), 2);
  fuzz::exige(escrito == maiusculas(texto));
  return 0;
}
