#include "sim/memoria.hpp"

#include <cstdio>

#include "sim/registo.hpp"

namespace xagsim {

namespace {

constexpr std::size_t bytes_por_registo = 16;

void junta_registo(std::string& s, std::uint16_t endereco,
                   const std::vector<std::uint8_t>& dados) {
  s += ':';
  junta_hex(s, static_cast<unsigned>(dados.size()), 2);
  junta_hex(s, endereco, 4);
  junta_hex(s, 0x00, 2);
  for (auto b : dados) junta_hex(s, b, 2);
  junta_hex(s, checksum(0x00, endereco, dados), 2);
  s += '\n';
}

}  // namespace

Memoria::Memoria() : bytes_(tamanho, apagado), escritos_(tamanho, false) {}

void Memoria::escreve(std::uint16_t endereco,
                      std::span<const std::uint8_t> dados) {
  for (auto b : dados) {
    bytes_[endereco] = b;
    escritos_[endereco] = true;
    ++endereco;  // wraps past FFFF
  }
}

void Memoria::apaga(std::uint16_t inicio, std::uint16_t fim) {
  for (std::size_t a = inicio; a <= fim; ++a) {
    bytes_[a] = apagado;
    escritos_[a] = false;
  }
}

std::string imagem_intel_hex(const Memoria& m) {
  std::string s;
  std::size_t a = 0;
  while (a < Memoria::tamanho) {
    if (!m.escrito(static_cast<std::uint16_t>(a))) {
      ++a;
      continue;
    }
    auto inicio = static_cast<std::uint16_t>(a);
    std::vector<std::uint8_t> dados;
    while (a < Memoria::tamanho && dados.size() < bytes_por_registo &&
           m.escrito(static_cast<std::uint16_t>(a))) {
      dados.push_back(m.le(static_cast<std::uint16_t>(a)));
      ++a;
    }
    junta_registo(s, inicio, dados);
  }
  s += ":00000001FF\n";
  return s;
}

bool grava_imagem(const Memoria& m, const std::string& caminho) {
  std::FILE* f = std::fopen(caminho.c_str(), "we");
  if (!f) return false;
  std::string texto = imagem_intel_hex(m);
  bool ok = std::fwrite(texto.data(), 1, texto.size(), f) == texto.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace xagsim
