#include "tests/sim/apoio.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace teste {

namespace {

using Relogio = std::chrono::steady_clock;

bool espera_leitura(int fd, Ms ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, static_cast<int>(ms.count())) > 0;
}

// Reads what comes from fd, at most maximo bytes, until pronto(lido) or the
// time is up.
template <typename Pronto>
std::string le_ate(int fd, Ms tempo, Pronto pronto, std::size_t maximo = SIZE_MAX) {
  std::string r;
  auto limite = Relogio::now() + tempo;
  while (!pronto(r) && Relogio::now() < limite) {
    if (!espera_leitura(fd, std::min(Ms{100}, std::chrono::ceil<Ms>(limite - Relogio::now())))) continue;
    char buf[65536];
    ssize_t n = read(fd, buf, std::min(sizeof buf, maximo - r.size()));
    if (n <= 0) break;
    r.append(buf, static_cast<std::size_t>(n));
  }
  return r;
}

}  // namespace

Xagsim::Xagsim(const std::vector<std::string>& args) {
  int saida[2], erros[2];
  if (pipe2(saida, O_CLOEXEC) != 0 || pipe2(erros, O_CLOEXEC) != 0) return;
  std::vector<std::string> argv{XAGSIM_BINARIO};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<char*> ponteiros;
  for (auto& a : argv) ponteiros.push_back(a.data());
  ponteiros.push_back(nullptr);

  pid_ = fork();
  if (pid_ == 0) {
    dup2(saida[1], STDOUT_FILENO);
    dup2(erros[1], STDERR_FILENO);
    execv(ponteiros[0], ponteiros.data());
    _exit(127);
  }
  close(saida[1]);
  close(erros[1]);
  fd_saida_ = saida[0];
  fd_erros_ = erros[0];
  if (std::find(args.begin(), args.end(), "--") != args.end()) return;

  // Nothing follows the path on stdout.
  linha_ = le_ate(fd_saida_, paciencia, [](const std::string& s) { return s.ends_with('\n'); });
  if (!linha_.ends_with('\n')) ADD_FAILURE() << "xagsim printed no path: " << linha_;
  if (!linha_.empty()) linha_.pop_back();
}

Xagsim::~Xagsim() {
  if (pid_ > 0) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  close(fd_saida_);
  close(fd_erros_);
}

int Xagsim::espera(int sinal) {
  if (pid_ <= 0) return -1;
  if (sinal) kill(pid_, sinal);
  auto limite = Relogio::now() + paciencia;
  int estado = 0;
  while (waitpid(pid_, &estado, WNOHANG) == 0) {
    if (Relogio::now() > limite) return -1;
    std::this_thread::sleep_for(Ms{5});
  }
  pid_ = -1;
  auto ate_ao_fim = [](const std::string&) { return false; };
  saida_ += le_ate(fd_saida_, paciencia, ate_ao_fim);
  erros_ = le_ate(fd_erros_, paciencia, ate_ao_fim);
  return WIFEXITED(estado) ? WEXITSTATUS(estado) : 128 + WTERMSIG(estado);
}

bool Xagsim::mostra(const std::string& texto) {
  saida_ += le_ate(fd_saida_, paciencia,
                   [&](const std::string& lido) { return (saida_ + lido).find(texto) != std::string::npos; });
  return saida_.find(texto) != std::string::npos;
}

Ms Xagsim::cpu() const {
  std::ifstream f("/proc/" + std::to_string(pid_) + "/stat");
  std::string s((std::istreambuf_iterator<char>(f)), {});
  // utime and stime are fields 14 and 15; field 3 comes after the ") ".
  std::istringstream campos(s.substr(s.rfind(')') + 2));
  std::string ignora;
  long utime = 0, stime = 0;
  for (int i = 3; i < 14; ++i) campos >> ignora;
  campos >> utime >> stime;
  return Ms{(utime + stime) * 1000 / sysconf(_SC_CLK_TCK)};
}

Linha::Linha(const std::string& caminho) {
  fd_ = open(caminho.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  termios t{};
  tcgetattr(fd_, &t);
  cfmakeraw(&t);
  tcsetattr(fd_, TCSANOW, &t);
}

Linha::~Linha() {
  if (fd_ >= 0) close(fd_);
}

void Linha::envia(std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd_, bytes.data(), bytes.size());
    if (n < 0 && errno == EAGAIN) {
      pollfd p{fd_, POLLOUT, 0};
      poll(&p, 1, 100);
    } else if (n <= 0) {
      ADD_FAILURE() << "cannot write to the line";
      return;
    } else {
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
  }
}

bool Linha::envia_com_eco(std::string_view texto) {
  for (char c : texto) {
    envia(std::string_view(&c, 1));
    std::string eco = recebe(1);
    if (eco != std::string(1, c)) {
      ADD_FAILURE() << "echo of byte " << (c & 0xFF) << " was "
                    << (eco.empty() ? "missing" : "byte " + std::to_string(eco[0] & 0xFF));
      return false;
    }
  }
  return true;
}

std::string Linha::recebe(std::size_t n) {
  return le_ate(
      fd_, paciencia, [n](const std::string& s) { return s.size() >= n; }, n);
}

std::string Linha::recebe_durante(Ms tempo) {
  return le_ate(fd_, tempo, [](const std::string&) { return false; });
}

bool Linha::desligada() {
  auto limite = Relogio::now() + paciencia;
  while (Relogio::now() < limite) {
    espera_leitura(fd_, Ms{100});
    char c;
    ssize_t n = read(fd_, &c, 1);
    if (n == 0 || (n < 0 && errno == EIO)) return true;
  }
  return false;
}

std::string le_ficheiro(const std::string& caminho) {
  std::ifstream f(caminho, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(f)), {});
}

std::string ficheiro_temporario(const std::string& nome) {
  std::string c = ::testing::TempDir() + "xagsim_" + std::to_string(getpid()) + "_" + nome;
  std::remove(c.c_str());
  return c;
}

}  // namespace teste
