// The XAG49's programming firmware as seen from the line: it reads Intel HEX
// records a byte at a time, acts on them, and answers. No time and no I/O
// here; the caller feeds bytes and tells it when the line has gone quiet.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>

#include "sim/memoria.hpp"
#include "sim/registo.hpp"

namespace xagsim {

// A complete record followed by this much silence is acted on without
// waiting for its line end (the host sends some commands without one).
inline constexpr std::chrono::milliseconds silencio_de_registo{20};

class Dispositivo {
 public:
  // With no_checksum, a command record (types 83, 84, 85) is acted on and
  // answered as soon as its last checksum digit comes, as a firmware that
  // counts the record's characters does; its line end gets no answer.
  Dispositivo(std::uint8_t estado, std::uint8_t vetor_arranque, bool no_checksum = false);

  // Takes one received byte; returns the answer it triggers (often none).
  std::string recebe(std::uint8_t byte);

  // True while the line holds a complete record, by its count, that has not
  // been answered: silencio_de_registo of quiet should then call silencio().
  bool espera_silencio() const;

  // The line went quiet: acts on a complete record and returns its answer.
  // The line end that may follow it then gets no answer of its own.
  std::string silencio();

  const Memoria& memoria() const { return memoria_; }
  // A used board: its memory holds m (--preload).
  void carrega(const Memoria& m) { memoria_ = m; }
  // The last record acted on erased a block (its answer comes late).
  bool apagou() const { return apagou_; }
  std::uint8_t estado() const { return estado_; }
  std::uint8_t vetor_arranque() const { return vetor_; }

 private:
  std::string_view linha_sem_cr() const;
  bool comando_completo() const;
  std::string atende(std::string_view linha);
  std::string executa(const Registo& r, int passo);
  std::string comando_83(const Registo& r, int passo);
  std::string lista(const Registo& r) const;
  std::string mostra_byte(const Registo& r) const;

  Memoria memoria_;
  std::uint8_t estado_;
  std::uint8_t vetor_;
  std::string linha_;
  bool no_checksum_;
  bool respondida_ = false;  // linha_ was answered before its line end
  int passo_limpeza_ = 0;    // records of the status-clearing sequence seen
  bool apagou_ = false;      // the last record acted on erased a block
};

}  // namespace xagsim
