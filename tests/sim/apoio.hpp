// For the tests that run the xagsim binary: the process, and the line as a
// serial program sees it.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace teste {

using Ms = std::chrono::milliseconds;

// Generous: the tests must pass on a loaded machine.
inline constexpr Ms paciencia{10'000};

class Xagsim {
 public:
  // Starts xagsim with args, keeping its stdout and stderr. Without a "--"
  // among args, waits for the line's path on stdout.
  explicit Xagsim(const std::vector<std::string>& args);
  Xagsim(const Xagsim&) = delete;
  Xagsim& operator=(const Xagsim&) = delete;
  ~Xagsim();  // kills it if it still runs

  const std::string& linha() const { return linha_; }
  pid_t pid() const { return pid_; }

  // Waits for the exit (after sending sinal, if given): the status as a
  // shell reports it, or -1 if it did not end within paciencia.
  int espera(int sinal = 0);

  // Waits until its stdout (a command's, say) shows texto.
  bool mostra(const std::string& texto);

  // All it printed, once it has ended.
  const std::string& saida() const { return saida_; }
  const std::string& erros() const { return erros_; }

  Ms cpu() const;  // CPU time used so far

 private:
  pid_t pid_ = -1;
  int fd_saida_ = -1, fd_erros_ = -1;
  std::string linha_, saida_, erros_;
};

class Linha {
 public:
  explicit Linha(const std::string& caminho);  // raw, like a serial program
  Linha(const Linha&) = delete;
  Linha& operator=(const Linha&) = delete;
  ~Linha();

  int fd() const { return fd_; }

  void envia(std::string_view bytes);
  // A byte at a time, each after the echo of the one before, as the
  // uploader sends. False at the first wrong or missing echo.
  bool envia_com_eco(std::string_view texto);
  // Until n bytes have come, or paciencia has passed.
  std::string recebe(std::size_t n);
  // Whatever comes within tempo.
  std::string recebe_durante(Ms tempo);
  // True once the line hangs up (end of file or EIO) within paciencia.
  bool desligada();

 private:
  int fd_ = -1;
};

std::string le_ficheiro(const std::string& caminho);
std::string ficheiro_temporario(const std::string& nome);

}  // namespace teste
