// Network ports on Windows: not yet. A network address opens nothing, and
// says why.
#include "platform/comum/endereco.hpp"
#include "platform/plataforma.hpp"

namespace plat {

// --- added by rede ---

std::int64_t porta_ida_e_volta_us(Porta) { return 0; }

const char* porta_razao(const char* nome) {
  return endereco::e_url(nome) ? "portas de rede ainda nao suportadas no Windows" : nullptr;
}

int porta_taxa_do_servidor(Porta) { return 0; }

}  // namespace plat
