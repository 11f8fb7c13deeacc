#include "sim/saida.hpp"

#include <algorithm>
#include <utility>

namespace xagsim {

void Saida::junta(std::string bytes, Instante cedo, Ms antes_de_cada) {
  if (bytes.empty()) return;
  fila_.push_back(Pedaco{std::move(bytes), 0, cedo, antes_de_cada});
}

std::optional<Instante> Saida::proximo() const {
  if (fila_.empty()) return std::nullopt;
  const Pedaco& p = fila_.front();
  if (p.antes_de_cada == Ms{0}) return p.cedo;
  return std::max(p.cedo, ultimo_envio_) + p.antes_de_cada;
}

std::string_view Saida::prontos(Instante agora) const {
  auto quando = proximo();
  if (!quando || *quando > agora) return {};
  const Pedaco& p = fila_.front();
  std::string_view resto(p.bytes);
  resto.remove_prefix(p.feitos);
  if (p.antes_de_cada != Ms{0}) return resto.substr(0, 1);
  return resto;
}

void Saida::enviados(std::size_t n, Instante agora) {
  while (n > 0 && !fila_.empty()) {
    Pedaco& p = fila_.front();
    std::size_t daqui = std::min(n, p.bytes.size() - p.feitos);
    p.feitos += daqui;
    n -= daqui;
    if (p.feitos == p.bytes.size()) fila_.pop_front();
  }
  ultimo_envio_ = agora;
}

}  // namespace xagsim
