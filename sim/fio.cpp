#include "sim/fio.hpp"

#include <algorithm>
#include <chrono>

namespace xagsim {

namespace {

// Gone bytes are dropped from the front once they are this many.
constexpr std::size_t compacta_apos = 4096;

}  // namespace

Relogio::duration tempo_de_byte(long baud) {
  if (baud <= 0) return Relogio::duration::zero();
  using Ns = std::chrono::nanoseconds;
  auto ns = (static_cast<long long>(bits_por_byte) * 1'000'000'000LL + baud / 2) / baud;
  return std::chrono::duration_cast<Relogio::duration>(Ns{ns});
}

void Fio::junta(std::string_view bytes, Instante pronto, long baud) {
  auto t = tempo_de_byte(baud);
  for (char c : bytes) {
    fim_ultimo_ = std::max(fim_ultimo_, pronto) + t;
    bytes_ += c;
    quando_.push_back(fim_ultimo_ + latencia_);
  }
}

std::optional<Instante> Fio::proximo() const {
  if (quando_.empty()) return std::nullopt;
  return quando_.front();
}

std::string_view Fio::chegados(Instante agora) const {
  auto fim = std::find_if(quando_.begin(), quando_.end(), [agora](Instante q) { return q > agora; });
  auto n = static_cast<std::size_t>(fim - quando_.begin());
  return std::string_view(bytes_).substr(inicio_, n);
}

void Fio::tira(std::size_t n) {
  n = std::min(n, quando_.size());
  quando_.erase(quando_.begin(), quando_.begin() + static_cast<long>(n));
  inicio_ += n;
  if (quando_.empty()) {
    bytes_.clear();
    inicio_ = 0;
  } else if (inicio_ >= compacta_apos) {
    bytes_.erase(0, inicio_);
    inicio_ = 0;
  }
}

}  // namespace xagsim
