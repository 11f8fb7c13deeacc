// Port names that are network addresses: rfc2217://HOST:PORT (a serial
// line served over telnet) and tcp://HOST:PORT (raw bytes). HOST is a name,
// an IPv4 address, or an IPv6 address in brackets.
#pragma once

#include <cstring>

namespace endereco {

inline constexpr char esquema_rfc2217[] = "rfc2217://";
inline constexpr char esquema_tcp[] = "tcp://";

inline bool comeca(const char* nome, const char* prefixo) {
  return std::strncmp(nome, prefixo, std::strlen(prefixo)) == 0;
}

// True when the name is one of those addresses (well formed or not).
inline bool e_url(const char* nome) { return comeca(nome, esquema_rfc2217) || comeca(nome, esquema_tcp); }

struct Endereco {
  bool telnet = false;  // rfc2217:// rather than tcp://
  char host[256]{};
  char servico[6]{};  // the TCP port, 1..65535, in digits
};

// Takes the name apart. False when it is not HOST:PORT with a port in range.
bool separa(const char* nome, Endereco& e);

}  // namespace endereco
