#include "sim/dispositivo.hpp"

#include <array>
#include <utility>

namespace xagsim {

namespace {

const std::string bom = ".\r\n";
const std::string checksum_mau = "C\r\n";
const std::string rejeitado = "R\r\n";
const std::string verificacao_falhou = "V\r\n";

// Longer than any record; a longer line is kept only this far.
constexpr std::size_t linha_maxima = 600;

constexpr std::size_t bytes_por_linha_listada = 16;

using Dados = std::vector<std::uint8_t>;

// The records that clear the status byte, in the order they must come.
const std::array<Dados, 4> sequencia_limpeza = {Dados{0x04}, Dados{0x06, 0x01, 0xC0}, Dados{0x06, 0x01, 0xF0},
                                                Dados{0x06, 0x01, 0xF8}};

struct Bloco {
  std::uint8_t codigo;
  std::uint16_t inicio, fim;
};
constexpr std::array<Bloco, 5> blocos = {{{0x00, 0x0000, 0x1FFF},
                                          {0x20, 0x2000, 0x3FFF},
                                          {0x40, 0x4000, 0x7FFF},
                                          {0x80, 0x8000, 0xBFFF},
                                          {0xC0, 0xC000, 0xFFFF}}};

}  // namespace

Dispositivo::Dispositivo(std::uint8_t estado, std::uint8_t vetor_arranque, bool no_checksum)
    : estado_(estado), vetor_(vetor_arranque), no_checksum_(no_checksum) {}

std::string Dispositivo::recebe(std::uint8_t byte) {
  if (respondida_) {
    if (byte == '\r') return {};
    linha_.clear();
    respondida_ = false;
    if (byte == '\n') return {};  // the end of the line already answered
  }
  if (byte == '\n') {
    std::string resposta = atende(linha_sem_cr());
    linha_.clear();
    return resposta;
  }
  if (byte == ':') linha_.clear();  // a record starts here, whatever came before
  if (linha_.size() < linha_maxima) linha_ += static_cast<char>(byte);
  if (no_checksum_ && byte != '\r' && comando_completo()) {
    respondida_ = true;
    return atende(linha_);
  }
  return {};
}

// The line holds a whole record, by its count, of a command's type.
bool Dispositivo::comando_completo() const {
  auto previsto = tamanho_previsto(linha_);
  if (!previsto || linha_.size() != *previsto) return false;
  std::string_view tipo = std::string_view(linha_).substr(7, 2);
  return tipo == "83" || tipo == "84" || tipo == "85";
}

bool Dispositivo::espera_silencio() const {
  if (respondida_) return false;
  auto linha = linha_sem_cr();
  auto previsto = tamanho_previsto(linha);
  return previsto && linha.size() == *previsto;
}

std::string Dispositivo::silencio() {
  if (!espera_silencio()) return {};
  respondida_ = true;
  return atende(linha_sem_cr());
}

std::string_view Dispositivo::linha_sem_cr() const {
  std::string_view linha = linha_;
  if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
  return linha;
}

std::string Dispositivo::atende(std::string_view linha) {
  // Any line but the next record of the sequence breaks it.
  int passo = std::exchange(passo_limpeza_, 0);
  apagou_ = false;
  Leitura l = le_registo(linha);
  if (l.veredicto == Veredicto::malformado) return rejeitado;
  if (l.veredicto == Veredicto::checksum_errado) return checksum_mau;
  return executa(l.registo, passo);
}

std::string Dispositivo::executa(const Registo& r, int passo) {
  switch (r.tipo) {
    case 0x00: return memoria_.escreve(r.endereco, r.dados) ? bom : verificacao_falhou;
    case 0x01: return bom;
    case 0x83: return comando_83(r, passo);
    case 0x84: return lista(r);
    case 0x85: return mostra_byte(r);
    default: return rejeitado;
  }
}

// Erasing a block, and the sequence that clears the status byte.
std::string Dispositivo::comando_83(const Registo& r, int passo) {
  if (r.endereco != 0) return rejeitado;

  if (r.dados.size() == 2 && r.dados[0] == 0x01) {
    for (const auto& b : blocos) {
      if (b.codigo == r.dados[1]) {
        memoria_.apaga(b.inicio, b.fim);
        apagou_ = true;
        return bom;
      }
    }
    return rejeitado;
  }

  if (r.dados == sequencia_limpeza[0]) {
    passo_limpeza_ = 1;
    return bom;
  }
  for (std::size_t i = 1; i < sequencia_limpeza.size(); ++i) {
    if (r.dados != sequencia_limpeza[i]) continue;
    if (passo != static_cast<int>(i)) return bom;  // out of order: no effect
    if (i + 1 == sequencia_limpeza.size())
      estado_ = 0x00;
    else
      passo_limpeza_ = passo + 1;
    return bom;
  }
  return rejeitado;
}

// "AAAA: XX XX ..\r\n" from SSSS to EEEE inclusive, 16 bytes to a line,
// wrapping past FFFF when EEEE is below SSSS.
std::string Dispositivo::lista(const Registo& r) const {
  if (r.endereco != 0 || r.dados.size() != 5 || r.dados[4] != 0x00) return rejeitado;
  auto inicio = static_cast<std::uint16_t>(r.dados[0] << 8 | r.dados[1]);
  auto fim = static_cast<std::uint16_t>(r.dados[2] << 8 | r.dados[3]);
  std::size_t total = static_cast<std::uint16_t>(fim - inicio) + std::size_t{1};

  std::string s;
  for (std::size_t feitos = 0; feitos < total;) {
    auto a = static_cast<std::uint16_t>(inicio + feitos);
    junta_hex(s, a, 4);
    s += ':';
    for (std::size_t i = 0; i < bytes_por_linha_listada && feitos < total; ++i, ++feitos) {
      s += ' ';
      junta_hex(s, memoria_.le(static_cast<std::uint16_t>(a + i)), 2);
    }
    s += "\r\n";
  }
  return s;
}

// The status byte (07 01) or the boot vector (07 02) in two hex digits.
std::string Dispositivo::mostra_byte(const Registo& r) const {
  if (r.endereco != 0 || r.dados.size() != 2 || r.dados[0] != 0x07) return rejeitado;
  std::string s;
  if (r.dados[1] == 0x01)
    junta_hex(s, estado_, 2);
  else if (r.dados[1] == 0x02)
    junta_hex(s, vetor_, 2);
  else
    return rejeitado;
  return s + "\r\n";
}

}  // namespace xagsim
