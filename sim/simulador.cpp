#include "sim/simulador.hpp"

#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <utility>

#include "sim/uart.hpp"

namespace xagsim {

namespace {

// Closing the master throws away what the line's reader has not taken yet,
// so after the last byte went out xagsim waits for the reader to take it,
// looking this often...
constexpr Ms volta_desligar{20};
// ...but no longer than this, should it never read.
constexpr Ms espera_maxima_desligar{3000};

// On a paced line no more than this is taken from the program ahead of the
// device: its writes then wait, as they do on a real port's full buffer.
constexpr std::size_t fio_maximo = 4096;

constexpr std::uint8_t primeiro_inundacao = 0x21;   // '!'
constexpr unsigned bytes_distintos_inundacao = 94;  // '!'..'~'

std::string inundacao(std::uint64_t n) {
  std::string s(n, '\0');
  for (std::uint64_t i = 0; i < n; ++i)
    s[i] = static_cast<char>(primeiro_inundacao + i % bytes_distintos_inundacao);
  return s;
}

}  // namespace

Simulador::Simulador(const Opcoes& opcoes, const Pty& pty, Diario& diario, Instante agora, Ligacao* ligacao)
    : opcoes_(opcoes),
      mestre_(pty.mestre),
      linha_(pty.linha),
      par_(pty.par),
      vigia_(vigia_fechos(pty.linha)),
      diario_(diario),
      dispositivo_(opcoes.estado, opcoes.vetor_arranque, opcoes.responde_no_checksum),
      ligacao_(ligacao),
      acaso_(opcoes.semente) {
  if (opcoes_.fio || opcoes_.latencia > Ms{0}) {
    fio_entrada_.emplace(opcoes_.latencia);
    fio_saida_.emplace(opcoes_.latencia);
  }
  if (opcoes_.conversa) proxima_conversa_ = agora + *opcoes_.conversa;
  saida_.junta(opcoes_.envio_inicial, agora);
  saida_.junta(inundacao(opcoes_.inundacao), agora);
}

Simulador::~Simulador() { desliga(); }

bool Simulador::pausado(Instante agora) const { return fim_pausa_ && *fim_pausa_ > agora; }

bool Simulador::a_ler() const { return !desligando_ && !fim_paragem_ && ler_no_maximo() > 0; }

Descritores Simulador::espera(Instante agora) const {
  Descritores d{{{-1, 0, 0}, {vigia_, POLLIN, 0}}};
  if (mestre_ < 0 || pausado(agora)) return d;
  d[0].fd = mestre_;
  if (a_ler()) d[0].events |= POLLIN;
  if (saida_cheia_) d[0].events |= POLLOUT;
  return d;
}

std::optional<Relogio::duration> Simulador::prazo(Instante agora) const {
  std::optional<Instante> t = volta_;  // all there is while the line is away
  auto considera = [&t](std::optional<Instante> x) {
    if (x && (!t || *x < *t)) t = x;
  };
  if (mestre_ >= 0) {
    if (pausado(agora))
      considera(fim_pausa_);
    else if (!saida_cheia_)
      considera(a_soltar());
    if (!pausado(agora) && !saida_cheia_ && fio_saida_) considera(fio_saida_->proximo());
    if (fio_entrada_) considera(fio_entrada_->proximo());
    considera(fim_silencio_);
    considera(quando_desligar(agora));
    considera(fim_paragem_);
    considera(proxima_conversa_);
  }
  if (!t) return std::nullopt;
  return std::max(*t - agora, Relogio::duration::zero());
}

void Simulador::atende(const Descritores& prontos, Instante agora) {
  if (prontos[1].fd >= 0 && prontos[1].revents && linha_fechada(vigia_)) tira_exclusividade(par_);
  short revents = prontos[0].fd >= 0 ? prontos[0].revents : short{0};
  if (mestre_ < 0 || !revents) return;
  if (revents & POLLOUT) saida_cheia_ = false;
  if (!(revents & (POLLIN | POLLHUP | POLLERR))) return;
  if (a_ler())
    le(agora);
  else if (revents & (POLLHUP | POLLERR))
    fim_pausa_ = agora + pausa_linha_fechada;
}

void Simulador::avanca(Instante agora) {
  if (volta_ && *volta_ <= agora) religa(agora);
  if (mestre_ < 0) return;
  entrega(agora);
  if (fim_pausa_ && *fim_pausa_ <= agora) fim_pausa_.reset();
  if (fim_paragem_ && *fim_paragem_ <= agora) retoma(agora);
  if (proxima_conversa_ && *proxima_conversa_ <= agora) conversa(agora);
  if (fim_silencio_ && *fim_silencio_ <= agora) {
    // A byte already waiting means the line was not quiet after all.
    if (!pausado(agora) && a_ler()) le(agora);
    if (fim_silencio_ && *fim_silencio_ <= agora) {
      fim_silencio_.reset();
      responde(dispositivo_.silencio(), agora);
    }
  }
  if (!pausado(agora)) escreve(agora);
  talvez_desliga(agora);
}

// Bytes that may be read before something happens to the line: none is
// read past the last one before a hang-up.
std::uint64_t Simulador::ler_no_maximo() const {
  std::uint64_t quer = UINT64_MAX;
  if (opcoes_.desliga_apos) quer = std::min(quer, *opcoes_.desliga_apos - recebidos_);
  if (opcoes_.religa && !religada_) quer = std::min(quer, opcoes_.religa->bytes - recebidos_);
  if (opcoes_.para && !parou_) quer = std::min(quer, opcoes_.para->bytes - recebidos_);
  if (!fio_entrada_) return quer;
  // Those on their way count as taken.
  std::uint64_t a_caminho = std::min<std::uint64_t>(fio_entrada_->tamanho(), fio_maximo);
  return std::min(quer - std::min(quer, a_caminho), fio_maximo - a_caminho);
}

void Simulador::le(Instante agora) {
  unsigned char buf[4096];
  auto quer = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buf, ler_no_maximo()));
  ssize_t n = read(mestre_, buf, quer);
  if (n < 0 && (errno == EAGAIN || errno == EINTR)) return;
  if (n <= 0) {  // EIO: no one has the line open (xagsim could not hold it)
    fim_pausa_ = agora + pausa_linha_fechada;
    return;
  }
  if (fio_entrada_) {
    auto lidos = std::string_view(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
    fio_entrada_->junta(lidos, agora, taxa_da_linha());
    return;
  }
  for (ssize_t i = 0; i < n; ++i) recebe(buf[i], agora);
}

// The device takes each byte that has come down the line, at the time it
// came.
void Simulador::entrega(Instante agora) {
  if (!fio_entrada_) return;
  while (auto quando = fio_entrada_->proximo()) {
    if (*quando > agora) return;
    auto byte = static_cast<std::uint8_t>(fio_entrada_->primeiro());
    fio_entrada_->tira(1);
    recebe(byte, *quando);
  }
}

// The rate the program has set on the line; 0 (no pacing) without --wire.
long Simulador::taxa_da_linha() const {
  if (!opcoes_.fio) return 0;
  auto f = le_formato(mestre_);
  return f ? f->baud : 0;
}

// When the device's next byte goes out: once it is due and, on a paced
// line, the byte before it has left, so that each byte goes at the rate set
// when it starts.
std::optional<Instante> Simulador::a_soltar() const {
  auto quando = saida_.proximo();
  if (quando && fio_saida_) quando = std::max(*quando, fio_saida_->livre());
  return quando;
}

// What the device has to say goes onto the line, each byte at the time it
// was due.
void Simulador::solta(Instante agora) {
  long baud = -1;
  for (auto quando = a_soltar(); quando && *quando <= agora; quando = a_soltar()) {
    if (baud < 0) baud = taxa_da_linha();
    auto pronto = *saida_.proximo();
    fio_saida_->junta(saida_.prontos(pronto).substr(0, 1), pronto, baud);
    saida_.enviados(1, pronto);
  }
}

bool Simulador::tudo_enviado() const { return saida_.vazia() && (!fio_saida_ || fio_saida_->vazio()); }

void Simulador::recebe(std::uint8_t byte, Instante agora) {
  diario_.rx(byte);
  ++recebidos_;
  bool desliga = opcoes_.desliga_apos && recebidos_ >= *opcoes_.desliga_apos;
  bool desliga_e_volta = opcoes_.religa && !religada_ && recebidos_ >= opcoes_.religa->bytes;
  bool ultimo = desliga || desliga_e_volta;
  Instante quando_eco = agora + opcoes_.atraso_eco;

  if (opcoes_.mudo) {
    // a dead board takes nothing in
  } else if (opcoes_.baud && !linha_no_formato()) {
    saida_.junta(std::string(1, static_cast<char>(byte_deturpado(byte))), quando_eco);
  } else {
    if (sorteia(opcoes_.perde))
      diario_.marca("echo dropped");
    else
      saida_.junta(std::string(1, static_cast<char>(eco_de(byte))), quando_eco);
    std::string resposta = dispositivo_.recebe(byte);
    fim_silencio_.reset();
    if (dispositivo_.espera_silencio()) fim_silencio_ = agora + silencio_de_registo;
    if (!ultimo) responde(std::move(resposta), agora);
  }

  if (opcoes_.para && !parou_ && recebidos_ >= opcoes_.para->bytes && !ultimo) {
    // Stop the line's writer as held flow control does; without the line
    // itself at hand the kernel's buffer (some KiB) has to fill first.
    parou_ = true;
    fim_paragem_ = agora + opcoes_.para->tempo;
    if (par_ >= 0) tcflow(par_, TCOOFF);
    diario_.marca("stalled");
  }

  if (ultimo) {
    desligando_ = true;
    a_religar_ = !desliga;
    fim_silencio_.reset();
    ultimo_envio_ = std::max(ultimo_envio_, agora);
  }
}

// True for that fraction of the calls, as the seed has it.
bool Simulador::sorteia(double fracao) {
  if (fracao <= 0) return false;
  // The top 53 bits as a number in [0, 1), the same on every platform.
  double x = static_cast<double>(acaso_() >> 11) * 0x1.0p-53;
  return x < fracao;
}

std::uint8_t Simulador::eco_de(std::uint8_t byte) {
  auto eco = opcoes_.byte_eco.value_or(byte);
  if (!sorteia(opcoes_.deturpa)) return eco;
  diario_.marca("echo garbled");
  return byte_deturpado(eco);
}

void Simulador::retoma(Instante) {
  fim_paragem_.reset();
  if (par_ >= 0) tcflow(par_, TCOON);
  diario_.marca("reading again");
}

// A line of the board's own, after whatever is queued; none while the line
// is away or about to go.
void Simulador::conversa(Instante agora) {
  proxima_conversa_ = agora + *opcoes_.conversa;
  ++conversas_;
  if (mestre_ < 0 || desligando_) return;
  saida_.junta("chatter " + std::to_string(conversas_) + "\r\n", agora);
}

// Read before each byte: the program may change the settings at any time.
bool Simulador::linha_no_formato() const {
  auto f = le_formato(mestre_);
  return f && formato_casa(*f, *opcoes_.baud);
}

void Simulador::responde(std::string resposta, Instante agora) {
  if (opcoes_.sem_respostas) return;
  if (dispositivo_.apagou()) agora += opcoes_.tempo_apagamento;  // the flash erases meanwhile
  saida_.junta(std::move(resposta), agora, opcoes_.atraso_resposta);
}

void Simulador::escreve(Instante agora) {
  if (fio_saida_) solta(agora);
  while (!saida_cheia_) {
    std::string_view prontos = fio_saida_ ? fio_saida_->chegados(agora) : saida_.prontos(agora);
    if (prontos.empty()) return;
    ssize_t n = write(mestre_, prontos.data(), prontos.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) {
      saida_cheia_ = true;
    } else if (n <= 0) {
      fim_pausa_ = agora + pausa_linha_fechada;
      return;
    } else {
      auto escritos = static_cast<std::size_t>(n);
      diario_.tx(prontos.substr(0, escritos));
      if (fio_saida_)
        fio_saida_->tira(escritos);
      else
        saida_.enviados(escritos, agora);
      ultimo_envio_ = agora;
    }
  }
}

std::optional<Instante> Simulador::quando_desligar(Instante agora) const {
  if (!desligando_ || !tudo_enviado()) return std::nullopt;
  return agora + volta_desligar;
}

void Simulador::talvez_desliga(Instante agora) {
  if (!desligando_ || !tudo_enviado()) return;
  bool lido = par_ < 0 || por_ler_na_linha(par_) <= 0;
  if (!lido && agora - ultimo_envio_ < espera_maxima_desligar) return;
  // Unplugged: the path goes first, so that it never names a /dev/pts
  // node that another program may be given meanwhile.
  if (a_religar_ && ligacao_) ligacao_->tira();
  desliga();
  fim_silencio_.reset();
  fim_pausa_.reset();
  if (!a_religar_) return;
  religada_ = true;
  diario_.marca("unplugged " + linha_);
  volta_ = agora + opcoes_.religa->tempo;
}

// The adapter is plugged in again: a new line, the same board.
void Simulador::religa(Instante agora) {
  volta_.reset();
  std::string erro;
  auto pty = abre_pty(erro);
  if (!pty) {  // no line to be had: try again a moment later
    volta_ = agora + pausa_linha_fechada;
    return;
  }
  mestre_ = pty->mestre;
  par_ = pty->par;
  linha_ = pty->linha;
  vigia_ = vigia_fechos(linha_);
  desligando_ = false;
  a_religar_ = false;
  saida_cheia_ = false;
  if (ligacao_) ligacao_->aponta(linha_);
  diario_.marca("plugged in " + linha_);
}

void Simulador::desliga() {
  for (int* fd : {&mestre_, &par_, &vigia_}) {
    if (*fd >= 0) close(*fd);
    *fd = -1;
  }
}

}  // namespace xagsim
