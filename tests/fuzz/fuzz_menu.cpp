// The programming menu (comando) and its number entry (lenum) over fuzzed
// keys and a fuzzed device. Input: one byte choosing what runs (even:
// comando, odd: lenum alone), the keys, then "\xFF\xFE" and the device's
// script (linha_fuzz.hpp). H, which ends the process, is typed as G.
//
// Checked: lenum returns what its rule gives for the keys; comando returns
// 0 or -1 as the chosen action and its entries say, sends 1 to 7 `f`s and,
// after an `f` came back, only the records of the chosen action, each of
// them whole or cut short, in order; no byte of a record goes out before
// the one ahead of it could have been echoed.
#include <cstdint>
#include <string>
#include <vector>

#include "programming/menu.hpp"
#include "programming/registros.hpp"
#include "tests/fake/fake.hpp"
#include "tests/fuzz/linha_fuzz.hpp"

namespace {

int maiuscula(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// The entry's rule: hex digits up to a key that is not one, valid only when
// that key is Enter and a digit came first; only the low 32 bits are kept.
std::int32_t numero(std::string_view& teclas) {
  std::uint32_t valor = 0;
  bool digito = false;
  for (;;) {
    if (teclas.empty()) return -1;
    int c = maiuscula(static_cast<unsigned char>(teclas.front()));
    teclas.remove_prefix(1);
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (v < 0) return (digito && (c == '\r' || c == '\n')) ? static_cast<std::int32_t>(valor) : -1;
    valor = valor * 16 + static_cast<std::uint32_t>(v);
    digito = true;
  }
}

// The records an action sends, and what comando returns for it.
std::vector<std::string> registros_de(std::string_view teclas, int& resultado) {
  resultado = 0;
  int acao = teclas.empty() ? -1 : maiuscula(static_cast<unsigned char>(teclas.front()));
  if (!teclas.empty()) teclas.remove_prefix(1);
  char buf[tamanho_registro];
  switch (acao) {
    case 'R': return {registro_le_status, registro_le_boot};
    case 'S':
      return {registro_zera_status[0], registro_zera_status[1], registro_zera_status[2],
              registro_zera_status[3]};
    case 'D': {
      std::int32_t inicio = numero(teclas);
      std::int32_t quantos = inicio < 0 ? -1 : numero(teclas);
      if (quantos < 0) break;
      std::uint32_t fim = static_cast<std::uint32_t>(inicio) + static_cast<std::uint32_t>(quantos) - 1;
      registro_mostra(buf, inicio, static_cast<std::int32_t>(fim));
      return {buf};
    }
    case 'E': {
      auto codigo = static_cast<std::int32_t>(static_cast<std::uint32_t>(numero(teclas)) << 4);
      for (std::int32_t b : bloco) {
        if (b == codigo) {
          registro_apaga(buf, codigo);
          return {buf};
        }
      }
      break;
    }
    default: break;
  }
  resultado = -1;
  return {};
}

void confere_comando(std::string_view teclas, int resultado) {
  const std::string& enviados = fake::enviados();
  std::size_t fs = enviados.find_first_not_of('f');
  if (fs == std::string::npos) fs = enviados.size();
  fuzz::exige(fs >= 1 && fs <= 7);
  std::string_view resto = std::string_view(enviados).substr(fs);
  if (resto.empty() && resultado == -1) return;  // the handshake failed, or nothing to send

  int esperado = 0;
  std::vector<std::string> registros = registros_de(teclas, esperado);
  fuzz::exige(resultado == esperado);
  // Every record's first byte goes out; a missing echo cuts that record short.
  for (const std::string& r : registros) {
    std::size_t fim = resto.find(':', 1);
    std::string_view parte = resto.substr(0, fim);
    fuzz::exige(!parte.empty() && r.compare(0, parte.size(), parte) == 0);
    resto.remove_prefix(parte.size());
  }
  fuzz::exige(resto.empty());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* dados, std::size_t n) {
  if (n == 0) return 0;
  bool so_lenum = (dados[0] & 1) != 0;
  std::string_view teclas_dadas, roteiro;
  fuzz::divide(std::string_view(reinterpret_cast<const char*>(dados + 1), n - 1), teclas_dadas, roteiro);
  std::string teclas(teclas_dadas);
  for (char& c : teclas) {
    if (c == 'H' || c == 'h') c = 'G';
  }

  fake::reinicia();
  fake::teclas(teclas);
  fuzz::Dispositivo dispositivo(roteiro, false);
  dispositivo.conversa_antes();
  std::size_t registros = 0;
  fake::dispositivo([&](unsigned char c) {
    std::size_t j = fake::enviados().size() - 1;  // c is already in it
    // Each byte before this one took an echo, but the last of a record cut short.
    fuzz::exige(dispositivo.chegados() + registros >= j);
    if (c == ':') ++registros;
    dispositivo.recebe(c);
  });

  try {
    if (so_lenum) {
      std::string_view resto(teclas);
      fuzz::exige(lenum() == numero(resto));
      fuzz::exige(fake::enviados().empty());
    } else {
      confere_comando(teclas, comando());
    }
  } catch (const fake::FimDoRoteiro&) {
  }
  return 0;
}
