// Network ports on Linux: a TCP socket in place of the tty descriptor, with
// the telnet serial-port option (rfc2217://) or raw bytes (tcp://). The port
// functions hand a network port over to these at their first line.
#pragma once

#include "platform/comum/endereco.hpp"
#include "platform/plataforma.hpp"

namespace plat::rede {

inline bool e_url(const char* nome) { return endereco::e_url(nome); }

// True when the port is a network connection opened by abre.
bool e_rede(Porta p);

Porta abre(const char* nome);
bool configura(Porta p, int baud);
int le(Porta p, unsigned char* buf, int n);
int le_disponivel(Porta p, unsigned char* buf, int n);
int escreve_agora(Porta p, const unsigned char* buf, int n);
void fecha(Porta p);

// True when the connection has closed or failed and every byte it brought
// has been read.
bool caiu(Porta p);

// True when bytes already taken off the socket wait to be read.
bool tem_dados(Porta p);

// DTR (dtr true) or RTS on or off, through SET-CONTROL; false over tcp://.
bool sinal(Porta p, bool dtr, bool liga);

}  // namespace plat::rede
