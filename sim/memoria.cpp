#include "sim/memoria.hpp"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "sim/registo.hpp"

namespace xagsim {

namespace {

constexpr std::size_t bytes_por_registo = 16;

void junta_registo(std::string& s, std::uint16_t endereco, const std::vector<std::uint8_t>& dados) {
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

bool Memoria::escreve(std::uint16_t endereco, std::span<const std::uint8_t> dados) {
  bool confere = true;
  for (auto b : dados) {
    bytes_[endereco] &= b;
    escritos_[endereco] = true;
    confere = confere && bytes_[endereco] == b;
    ++endereco;  // wraps past FFFF
  }
  return confere;
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

bool carrega_intel_hex(Memoria& m, const std::string& texto, std::string& erro) {
  std::size_t inicio = 0;
  for (int numero = 1; inicio < texto.size(); ++numero) {
    std::size_t fim = texto.find('\n', inicio);
    if (fim == std::string::npos) fim = texto.size();
    std::string_view linha(texto.data() + inicio, fim - inicio);
    if (!linha.empty() && linha.back() == '\r') linha.remove_suffix(1);
    inicio = fim + 1;
    Leitura l = le_registo(linha);
    if (l.veredicto != Veredicto::bom || l.registo.tipo > 0x01) {
      erro = "line " + std::to_string(numero) + ": not a data or end record";
      return false;
    }
    if (l.registo.tipo == 0x01) return true;
    m.escreve(l.registo.endereco, l.registo.dados);
  }
  erro = "no end record";
  return false;
}

bool le_imagem(Memoria& m, const std::string& caminho, std::string& erro) {
  std::FILE* f = std::fopen(caminho.c_str(), "rbe");
  if (!f) {
    erro = std::strerror(errno);
    return false;
  }
  std::string texto;
  char buf[4096];
  for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) texto.append(buf, n);
  bool lido = !std::ferror(f);
  std::fclose(f);
  if (!lido) {
    erro = "read error";
    return false;
  }
  return carrega_intel_hex(m, texto, erro);
}

bool grava_imagem(const Memoria& m, const std::string& caminho) {
  std::FILE* f = std::fopen(caminho.c_str(), "we");
  if (!f) return false;
  std::string texto = imagem_intel_hex(m);
  bool ok = std::fwrite(texto.data(), 1, texto.size(), f) == texto.size();
  return std::fclose(f) == 0 && ok;
}

}  // namespace xagsim
