// How a port argument names a serial device on Linux.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include "platform/comum/endereco.hpp"
#include "platform/linux/linux.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

bool numero_com(const char* digitos, int& n) {
  if (*digitos == '\0') return false;
  n = 0;
  for (const char* d = digitos; *d != '\0'; ++d) {
    if (*d < '0' || *d > '9') return false;
    n = n * 10 + (*d - '0');
    if (n > 256) return false;
  }
  return n >= 1;
}

bool e_dispositivo(const char* caminho) {
  struct stat st {};
  return stat(caminho, &st) == 0 && S_ISCHR(st.st_mode);
}

bool copia(const char* nome, char* buf, std::size_t tamanho) {
  std::size_t n = std::strlen(nome);
  if (n >= tamanho) return false;
  std::memcpy(buf, nome, n + 1);
  return true;
}

// A name with no '/' that is a character device in /dev: its path there.
bool em_dev(const char* nome, char* buf, std::size_t tamanho) {
  if (nome[0] == '\0' || nome[0] == '.' || std::strchr(nome, '/') != nullptr) return false;
  int escrito = std::snprintf(buf, tamanho, "/dev/%s", nome);
  return escrito > 0 && static_cast<std::size_t>(escrito) < tamanho && e_dispositivo(buf);
}

// The terminal device behind descriptor fd, when it is one.
bool terminal_de(int fd, dev_t& dispositivo) {
  struct stat st {};
  if (isatty(fd) == 0 || fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
  dispositivo = st.st_rdev;
  return true;
}

}  // namespace

bool caminho_da_porta(const char* nome, char* buf, std::size_t tamanho) {
  if (std::strncmp(nome, "/dev/", 5) == 0) return copia(nome, buf, tamanho);
  const char* com = sob_prefixo_dispositivo(nome) ? nome + 4 : nome;  // \\.\COMn, as Windows writes it
  if (std::strncmp(com, "COM", 3) == 0 || std::strncmp(com, "com", 3) == 0) {
    int n = 0;
    if (!numero_com(com + 3, n)) return false;
    int escrito = std::snprintf(buf, tamanho, "/dev/ttyS%d", n - 1);
    return escrito > 0 && static_cast<std::size_t>(escrito) < tamanho;
  }
  if (e_dispositivo(nome)) return copia(nome, buf, tamanho);
  if (em_dev(nome, buf, tamanho)) return true;
  // ttyUSB0 that is not there: its place in /dev all the same, so that the
  // failed open names the path it tried.
  if (std::strncmp(nome, "tty", 3) != 0 || std::strchr(nome, '/') != nullptr) return false;
  int escrito = std::snprintf(buf, tamanho, "/dev/%s", nome);
  return escrito > 0 && static_cast<std::size_t>(escrito) < tamanho;
}

bool porta_caminho(const char* nome, char* buf, std::size_t tamanho) {
  return caminho_da_porta(nome, buf, tamanho);
}

bool porta_nomeia_dispositivo(const char* nome) {
  if (endereco::e_url(nome)) return true;  // rfc2217://, tcp://
  char caminho[256];
  return e_dispositivo(nome) || em_dev(nome, caminho, sizeof caminho);
}

// The console itself: the controlling terminal, or the terminal on
// standard input, output or error.
bool porta_e_console(const char* nome) {
  char caminho[512];
  struct stat st {};
  if (!porta_caminho(nome, caminho, sizeof caminho) || stat(caminho, &st) != 0 || !S_ISCHR(st.st_mode)) {
    return false;
  }
  struct stat tty {};
  if (stat("/dev/tty", &tty) == 0 && st.st_rdev == tty.st_rdev) return true;  // "the controlling terminal"
  for (int fd = 0; fd <= 2; ++fd) {
    dev_t console = 0;
    if (terminal_de(fd, console) && console == st.st_rdev) return true;
  }
  return false;
}

}  // namespace plat
