// The pseudo-terminal pair: xagsim holds the master, the slave is the line
// that the program under test opens as its serial port.
#pragma once

#include <optional>
#include <string>
#include <utility>

#include "sim/uart.hpp"

namespace xagsim {

struct Pty {
  int mestre = -1;    // nonblocking, close-on-exec
  std::string linha;  // the slave's path
  // The line itself, held open by xagsim and never read: it lets xagsim see
  // whether the line's reader has taken what was sent, and undo TIOCEXCL.
  // -1 if the kernel would not give it.
  int par = -1;
};

// Makes a new pair with the line already raw, so that nothing is echoed or
// translated before the program on it sets it up. On failure, nullopt with
// the reason in erro.
std::optional<Pty> abre_pty(std::string& erro);

// How the program on the line has set it (read through the master).
std::optional<Formato> le_formato(int mestre);

// Bytes waiting on the line for its reader; -1 on failure.
int por_ler_na_linha(int par);

// A descriptor that polls readable when a program closes the line; -1 on
// failure.
int vigia_fechos(const std::string& linha);

// Reads what vigia_fechos reported; true if the line was closed.
bool linha_fechada(int vigia);

// Lets anyone open the line again. On a pty the TIOCEXCL of a program that
// has closed the line stays in force while the master is open, and would
// keep that program itself from opening it again.
void tira_exclusividade(int par);

// A symbolic link that xagsim owns, giving the line a path that stays the
// same while the line goes away and comes back as another /dev/pts/N.
class Ligacao {
 public:
  explicit Ligacao(std::string caminho) : caminho_(std::move(caminho)) {}
  Ligacao(const Ligacao&) = delete;
  Ligacao& operator=(const Ligacao&) = delete;
  ~Ligacao() { tira(); }

  // Points the link at alvo, atomically: it is never missing meanwhile.
  bool aponta(const std::string& alvo);
  // Removes the link (the line is away, or xagsim is done).
  void tira();
  const std::string& caminho() const { return caminho_; }

 private:
  std::string caminho_;
  bool feita_ = false;
};

// Where xagsim's link lives: /dev/shm/xagsim-PID.
std::string caminho_da_ligacao();

}  // namespace xagsim
