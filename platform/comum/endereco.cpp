#include "platform/comum/endereco.hpp"

namespace endereco {

namespace {

bool porta_valida(const char* digitos) {
  long n = 0;
  int k = 0;
  for (; digitos[k] != '\0'; ++k) {
    if (digitos[k] < '0' || digitos[k] > '9' || k >= 5) return false;
    n = n * 10 + (digitos[k] - '0');
  }
  return k > 0 && n >= 1 && n <= 65535;
}

bool copia(const char* de, std::size_t n, char* para, std::size_t tamanho) {
  if (n == 0 || n >= tamanho) return false;
  std::memcpy(para, de, n);
  para[n] = '\0';
  return true;
}

}  // namespace

bool separa(const char* nome, Endereco& e) {
  e.telnet = comeca(nome, esquema_rfc2217);
  const char* resto = nome + std::strlen(e.telnet ? esquema_rfc2217 : esquema_tcp);
  const char* dois_pontos = nullptr;
  const char* host = resto;
  std::size_t host_n = 0;
  if (*resto == '[') {  // [::1]:7000
    const char* fecha = std::strchr(resto, ']');
    if (fecha == nullptr || fecha[1] != ':') return false;
    host = resto + 1;
    host_n = static_cast<std::size_t>(fecha - host);
    dois_pontos = fecha + 1;
  } else {
    dois_pontos = std::strchr(resto, ':');
    if (dois_pontos == nullptr || std::strchr(dois_pontos + 1, ':') != nullptr) return false;
    host_n = static_cast<std::size_t>(dois_pontos - resto);
  }
  if (!porta_valida(dois_pontos + 1)) return false;
  return copia(host, host_n, e.host, sizeof e.host) &&
         copia(dois_pontos + 1, std::strlen(dois_pontos + 1), e.servico, sizeof e.servico);
}

}  // namespace endereco
