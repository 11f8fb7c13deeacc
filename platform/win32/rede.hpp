// Network ports on Windows: a Winsock 2 socket in place of the port's
// handle, with the telnet serial-port option (rfc2217://) or raw bytes
// (tcp://). The port functions and aguarda hand a network port over to these
// at their first line.
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
int escreve(Porta p, const unsigned char* buf, int n);
int escreve_agora(Porta p, const unsigned char* buf, int n);
void fecha(Porta p);

// aguarda for a network port: its socket's event beside the console's input.
unsigned aguarda(Porta p, unsigned eventos, int ms);

// DTR (dtr true) or RTS on or off, through SET-CONTROL; false over tcp://.
bool sinal(Porta p, bool dtr, bool liga);

}  // namespace plat::rede
