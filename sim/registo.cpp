#include "sim/registo.hpp"

namespace xagsim {

namespace {

int valor_hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The byte written by the two hex digits at texto[i], or -1.
int byte_em(std::string_view texto, std::size_t i) {
  if (i + 1 >= texto.size()) return -1;
  int alto = valor_hex(texto[i]);
  int baixo = valor_hex(texto[i + 1]);
  if (alto < 0 || baixo < 0) return -1;
  return alto * 16 + baixo;
}

constexpr std::size_t tamanho_minimo = 11;  // ':' LL AAAA TT CC

}  // namespace

std::optional<std::size_t> tamanho_previsto(std::string_view texto) {
  if (texto.empty() || texto[0] != ':') return std::nullopt;
  int ll = byte_em(texto, 1);
  if (ll < 0) return std::nullopt;
  return tamanho_minimo + 2 * static_cast<std::size_t>(ll);
}

Leitura le_registo(std::string_view texto) {
  Leitura l;
  auto previsto = tamanho_previsto(texto);
  if (!previsto || texto.size() != *previsto) return l;

  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 1; i < texto.size(); i += 2) {
    int b = byte_em(texto, i);
    if (b < 0) return l;
    bytes.push_back(static_cast<std::uint8_t>(b));
  }

  unsigned soma = 0;
  for (auto b : bytes) soma += b;
  if ((soma & 0xFFu) != 0) {
    l.veredicto = Veredicto::checksum_errado;
    return l;
  }

  l.veredicto = Veredicto::bom;
  l.registo.endereco = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
  l.registo.tipo = bytes[3];
  l.registo.dados.assign(bytes.begin() + 4, bytes.end() - 1);
  return l;
}

std::uint8_t checksum(std::uint8_t tipo, std::uint16_t endereco, const std::vector<std::uint8_t>& dados) {
  unsigned soma = static_cast<unsigned>(dados.size()) + (endereco >> 8) + (endereco & 0xFFu) + tipo;
  for (auto b : dados) soma += b;
  return static_cast<std::uint8_t>(-soma & 0xFFu);
}

void junta_hex(std::string& s, unsigned valor, int digitos) {
  static constexpr char hex[] = "0123456789ABCDEF";
  for (int d = digitos - 1; d >= 0; --d) s += hex[(valor >> (4 * d)) & 0xFu];
}

}  // namespace xagsim
