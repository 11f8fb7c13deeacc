// The board on the master side of the pty: reads what the line sends, feeds
// the device, and writes echoes and answers when they are due. Single
// threaded: the caller polls what espera() gives, for at most prazo(),
// then calls atende() with what poll reported, and avanca() on every turn.
#pragma once

#include <poll.h>

#include <array>
#include <cstdint>
#include <optional>
#include <random>
#include <string>

#include "sim/diario.hpp"
#include "sim/dispositivo.hpp"
#include "sim/fio.hpp"
#include "sim/opcoes.hpp"
#include "sim/pty.hpp"
#include "sim/saida.hpp"

namespace xagsim {

// Should no one have the line open (xagsim could not hold it itself), the
// master reports a hangup on every poll; it is looked at again this often
// instead.
inline constexpr Ms pausa_linha_fechada{20};

using Descritores = std::array<pollfd, 2>;  // the master, the close watch

class Simulador {
 public:
  // Takes over the pty's descriptors. Queues --send and --flood to go out
  // at once. With --replug-after, ligacao is the line's stable path, which
  // follows the line when it comes back.
  Simulador(const Opcoes& opcoes, const Pty& pty, Diario& diario, Instante agora, Ligacao* ligacao = nullptr);
  Simulador(const Simulador&) = delete;
  Simulador& operator=(const Simulador&) = delete;
  ~Simulador();

  // The descriptors and events to poll for (fd -1: none).
  Descritores espera(Instante agora) const;

  // How long until something falls due; nullopt when nothing will.
  std::optional<Relogio::duration> prazo(Instante agora) const;

  void atende(const Descritores& prontos, Instante agora);

  // Does what is due: timers, output, hanging up.
  void avanca(Instante agora);

  const Dispositivo& dispositivo() const { return dispositivo_; }
  // A used board: its memory holds m (--preload).
  void carrega(const Memoria& m) { dispositivo_.carrega(m); }
  bool desligado() const { return mestre_ < 0; }
  // Where the line is now (a /dev/pts/N).
  const std::string& linha() const { return linha_; }

 private:
  bool pausado(Instante agora) const;
  bool a_ler() const;
  void le(Instante agora);
  void entrega(Instante agora);
  long taxa_da_linha() const;
  std::optional<Instante> a_soltar() const;
  void solta(Instante agora);
  bool tudo_enviado() const;
  void recebe(std::uint8_t byte, Instante agora);
  bool linha_no_formato() const;
  void responde(std::string resposta, Instante agora);
  void escreve(Instante agora);
  void talvez_desliga(Instante agora);
  void desliga();
  void religa(Instante agora);
  bool sorteia(double fracao);
  std::uint8_t eco_de(std::uint8_t byte);
  void conversa(Instante agora);
  void retoma(Instante agora);
  std::uint64_t ler_no_maximo() const;
  std::optional<Instante> quando_desligar(Instante agora) const;

  const Opcoes& opcoes_;
  int mestre_;
  std::string linha_;
  int par_;    // the line, held open (see Pty::par)
  int vigia_;  // reports programs closing the line
  Diario& diario_;
  Dispositivo dispositivo_;
  Saida saida_;
  // --wire and --latency: bytes on their way to the device, and from it.
  std::optional<Fio> fio_entrada_, fio_saida_;
  std::optional<Instante> fim_silencio_;  // a complete record is waiting
  std::optional<Instante> fim_pausa_;     // the line was found closed
  bool saida_cheia_ = false;              // waiting for POLLOUT
  std::uint64_t recebidos_ = 0;
  bool desligando_ = false;  // the last byte was received
  Instante ultimo_envio_{};
  Ligacao* ligacao_;
  bool a_religar_ = false;                    // this hang-up is the unplugging
  bool religada_ = false;                     // the unplugging has been done
  std::optional<Instante> volta_;             // when the unplugged line comes back
  std::mt19937_64 acaso_;                     // --drop and --garble
  std::optional<Instante> fim_paragem_;       // --stall-after: stalled until then
  bool parou_ = false;                        // the stall has begun
  std::optional<Instante> proxima_conversa_;  // --chatter
  unsigned conversas_ = 0;
};

}  // namespace xagsim
