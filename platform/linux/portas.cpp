// The serial ports present, from Linux's /sys: every tty with a device
// behind it, except the 8250 ports that have no UART (type 0).
#include <dirent.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/ordem_natural.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

constexpr int maximo_de_portas = 128;
constexpr std::size_t tamanho_nome = 64;

// buf = a b c, false when it does not fit.
bool junta(char* buf, std::size_t tamanho, const char* a, const char* b, const char* c = "") {
  int n = std::snprintf(buf, tamanho, "%s%s%s", a, b, c);
  return n >= 0 && static_cast<std::size_t>(n) < tamanho;
}

// The first line of a small file, without its line end; empty when none.
void le_linha_de(const char* caminho, char* buf, std::size_t tamanho) {
  buf[0] = '\0';
  std::FILE* f = std::fopen(caminho, "r");
  if (f == nullptr) return;
  if (std::fgets(buf, static_cast<int>(tamanho), f) == nullptr) buf[0] = '\0';
  std::fclose(f);
  buf[std::strcspn(buf, "\n")] = '\0';
}

// Appends "  texto" when texto is not empty (as much as fits).
void acrescenta(char* linha, std::size_t tamanho, const char* texto) {
  if (texto[0] == '\0') return;
  std::size_t usado = std::strlen(linha);
  if (!junta(linha + usado, tamanho - usado, "  ", texto)) linha[tamanho - 1] = '\0';
}

// A file of the tty's folder in /sys.
bool arquivo_da_tty(char* caminho, const char* nome, const char* arquivo) {
  return junta(caminho, PATH_MAX, "/sys/class/tty/", nome, arquivo);
}

bool tem_dispositivo(const char* nome) {
  char caminho[PATH_MAX];
  if (!arquivo_da_tty(caminho, nome, "/device") || access(caminho, F_OK) != 0) return false;
  char tipo[16] = "";
  if (arquivo_da_tty(caminho, nome, "/type")) le_linha_de(caminho, tipo, sizeof tipo);
  return std::strcmp(tipo, "0") != 0;  // an 8250 port with no UART behind it
}

// The last part of where a driver link points; false when there is none.
bool nome_do_driver(const char* caminho, char* alvo) {
  ssize_t n = readlink(caminho, alvo, PATH_MAX - 1);
  if (n <= 0) return false;
  alvo[n] = '\0';
  const char* barra = std::strrchr(alvo, '/');
  if (barra != nullptr) std::memmove(alvo, barra + 1, std::strlen(barra));
  return true;
}

// The driver of the device; above the serial core's own "port" and "ctrl"
// devices (Linux 6.5 on), the driver of the hardware.
void acrescenta_driver(const char* nome, char* linha, std::size_t tamanho) {
  const char* acima[] = {"/device/driver", "/device/../driver", "/device/../../driver"};
  char caminho[PATH_MAX];
  char alvo[PATH_MAX] = "";
  for (const char* link : acima) {
    if (!arquivo_da_tty(caminho, nome, link) || !nome_do_driver(caminho, alvo)) break;
    if (std::strcmp(alvo, "port") != 0 && std::strcmp(alvo, "ctrl") != 0) break;
  }
  acrescenta(linha, tamanho, alvo);
}

// The USB device above the tty: the nearest folder up with an idVendor.
bool pasta_usb(const char* nome, char* pasta) {
  char caminho[PATH_MAX];
  if (!arquivo_da_tty(caminho, nome, "/device") || realpath(caminho, pasta) == nullptr) {
    return false;
  }
  for (int nivel = 0; nivel < 4; ++nivel) {
    if (junta(caminho, sizeof caminho, pasta, "/idVendor") && access(caminho, F_OK) == 0) {
      return true;
    }
    char* barra = std::strrchr(pasta, '/');
    if (barra == nullptr || barra == pasta) return false;
    *barra = '\0';
  }
  return false;
}

// One attribute of the USB device, or empty.
void atributo(const char* pasta, const char* arquivo, char* buf, std::size_t tamanho) {
  char caminho[PATH_MAX];
  buf[0] = '\0';
  if (junta(caminho, sizeof caminho, pasta, "/", arquivo)) le_linha_de(caminho, buf, tamanho);
}

void acrescenta_usb(const char* nome, char* linha, std::size_t tamanho) {
  char pasta[PATH_MAX];
  if (!pasta_usb(nome, pasta)) return;
  char vendedor[16];
  char produto[16];
  atributo(pasta, "idVendor", vendedor, sizeof vendedor);
  atributo(pasta, "idProduct", produto, sizeof produto);
  char texto[128];
  if (junta(texto, sizeof texto, vendedor, ":", produto)) acrescenta(linha, tamanho, texto);
  const char* campos[] = {"manufacturer", "product", "serial"};
  for (const char* campo : campos) {
    atributo(pasta, campo, texto, sizeof texto);
    acrescenta(linha, tamanho, texto);
  }
}

// The /dev/serial/by-id name that points at /dev/NAME, if there is one.
void acrescenta_por_id(const char* nome, char* linha, std::size_t tamanho) {
  DIR* d = opendir("/dev/serial/by-id");
  if (d == nullptr) return;
  char caminho[PATH_MAX];
  char alvo[PATH_MAX];
  while (const dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    if (!junta(caminho, sizeof caminho, "/dev/serial/by-id/", e->d_name)) continue;
    if (realpath(caminho, alvo) == nullptr) continue;
    if (std::strncmp(alvo, "/dev/", 5) == 0 && std::strcmp(alvo + 5, nome) == 0) {
      acrescenta(linha, tamanho, caminho);
      break;
    }
  }
  closedir(d);
}

// "/dev/NAME  driver  vid:pid  maker  product  serial  by-id\n"
void descreve(const char* nome, char* linha, std::size_t tamanho) {
  if (!junta(linha, tamanho - 1, "/dev/", nome)) linha[tamanho - 2] = '\0';
  acrescenta_driver(nome, linha, tamanho - 1);
  acrescenta_usb(nome, linha, tamanho - 1);
  acrescenta_por_id(nome, linha, tamanho - 1);
  std::size_t fim = std::strlen(linha);  // room was kept for the line end
  linha[fim] = '\n';
  linha[fim + 1] = '\0';
}

int compara(const void* a, const void* b) {
  return compara_nomes_de_porta(static_cast<const char*>(a), static_cast<const char*>(b), false);
}

}  // namespace

int portas_presentes(char* buf, std::size_t tamanho) {
  if (tamanho > 0) buf[0] = '\0';
  static char nomes[maximo_de_portas][tamanho_nome];
  int quantas = 0;
  DIR* d = opendir("/sys/class/tty");
  if (d == nullptr) return 0;
  while (const dirent* e = readdir(d)) {
    if (quantas == maximo_de_portas) break;
    if (e->d_name[0] == '.' || std::strlen(e->d_name) >= tamanho_nome) continue;
    if (!tem_dispositivo(e->d_name)) continue;
    std::memcpy(nomes[quantas++], e->d_name, std::strlen(e->d_name) + 1);
  }
  closedir(d);
  std::qsort(nomes, static_cast<std::size_t>(quantas), tamanho_nome, compara);
  std::size_t usado = 0;
  for (int i = 0; i < quantas; ++i) {
    char linha[1024];
    descreve(nomes[i], linha, sizeof linha);
    std::size_t n = std::strlen(linha);
    if (usado + n + 1 > tamanho) break;
    std::memcpy(buf + usado, linha, n + 1);
    usado += n;
  }
  return quantas;
}

}  // namespace plat
