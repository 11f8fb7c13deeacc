// Scripted children for the unit tests, on the fake platform's clock.
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/plataforma.hpp"
#include "tests/fake/fake.hpp"

namespace fake {

namespace {

struct Roteiro {
  std::vector<Pedaco> pedacos;
  Micros fim = 0;
  int status = 0;
};

struct Filho {
  Roteiro r;
  std::size_t entregue[2] = {};  // bytes of each stream handed over so far
  bool acabou[2] = {};           // the end of each stream was reported
};

struct Estado {
  std::vector<Roteiro> roteiros;
  std::vector<Filho> filhos;
  std::vector<std::vector<std::string>> argv;
  Micros interrompe_em = -1;
  int esperados = 0;
};

Estado f;

bool interrompido_em(Micros t) { return f.interrompe_em >= 0 && t >= f.interrompe_em; }

Micros fim_de(const Filho& x) {
  if (f.interrompe_em >= 0) return std::min(x.r.fim, f.interrompe_em + 1000);
  return x.r.fim;
}

int status_de(const Filho& x) { return fim_de(x) < x.r.fim ? 130 : x.r.status; }

// Bytes of the stream written by `ate`, and the earliest time of one not yet.
std::string escrito(const Filho& x, int canal, Micros ate, Micros& proximo) {
  std::string s;
  proximo = -1;
  for (const Pedaco& p : x.r.pedacos) {
    if (p.canal != canal || p.quando > fim_de(x)) continue;
    if (p.quando <= ate) {
      s += p.bytes;
    } else if (proximo < 0 || p.quando < proximo) {
      proximo = p.quando;
    }
  }
  return s;
}

// The earliest time something happens on a stream not yet ended (-1: none).
Micros proximo_evento(const Filho& x, int canal) {
  if (x.acabou[canal]) return -1;
  Micros depois = -1;
  std::string s = escrito(x, canal, agora(), depois);
  if (s.size() > x.entregue[canal]) return agora();
  Micros fim = std::max(fim_de(x), agora());
  return depois >= 0 ? std::min(depois, fim) : fim;
}

}  // namespace

void filhos_reinicia() { f = Estado{}; }

void filho(std::vector<Pedaco> pedacos, Micros fim, int status) {
  f.roteiros.push_back(Roteiro{std::move(pedacos), fim, status});
}

const std::vector<std::vector<std::string>>& filhos_argv() { return f.argv; }
void interrompe_filhos(Micros quando) { f.interrompe_em = quando; }
int filhos_esperados() { return f.esperados; }

}  // namespace fake

namespace plat {

using fake::f;

int filho_inicia(const char*, const char* const* argv) {
  std::vector<std::string> a;
  for (int i = 0; argv[i] != nullptr; ++i) a.emplace_back(argv[i]);
  f.argv.push_back(a);
  if (f.filhos.size() >= f.roteiros.size()) {
    errno = ENOENT;
    return -1;
  }
  f.filhos.push_back(fake::Filho{f.roteiros[f.filhos.size()], {}, {}});
  return static_cast<int>(f.filhos.size() - 1);
}

int filho_le(int filho, int canal, char* buf, int n) {
  fake::Filho& x = f.filhos.at(static_cast<std::size_t>(filho));
  if (x.acabou[canal]) return -1;
  fake::Micros depois = -1;
  std::string s = fake::escrito(x, canal, fake::agora(), depois);
  std::size_t resta = s.size() - x.entregue[canal];
  if (resta == 0) {
    if (fake::agora() < fake::fim_de(x)) return 0;
    x.acabou[canal] = true;
    return -1;
  }
  std::size_t k = std::min(resta, static_cast<std::size_t>(n));
  std::memcpy(buf, s.data() + x.entregue[canal], k);
  x.entregue[canal] += k;
  return static_cast<int>(k);
}

bool filhos_aguarda(int ms) {
  fake::Micros proximo = -1;
  for (const fake::Filho& x : f.filhos) {
    for (int canal = 0; canal < 2; ++canal) {
      fake::Micros t = fake::proximo_evento(x, canal);
      if (t >= 0 && (proximo < 0 || t < proximo)) proximo = t;
    }
  }
  fake::Micros limite = ms < 0 ? -1 : fake::agora() + static_cast<fake::Micros>(ms) * 1000;
  if (proximo < 0 && limite < 0) throw fake::FimDoRoteiro{};
  if (proximo < 0 || (limite >= 0 && proximo > limite)) {
    dorme_ate_us(limite);
    return false;
  }
  dorme_ate_us(proximo);
  return true;
}

int filho_espera(int filho) {
  const fake::Filho& x = f.filhos.at(static_cast<std::size_t>(filho));
  dorme_ate_us(fake::fim_de(x));
  ++f.esperados;
  return fake::status_de(x);
}

void filhos_vigia(bool liga) {
  if (!liga && filhos_interrompido()) {
    f.interrompe_em = -1;
    throw fake::Interrompido{};
  }
}

bool filhos_interrompido() { return fake::interrompido_em(fake::agora()); }

}  // namespace plat
