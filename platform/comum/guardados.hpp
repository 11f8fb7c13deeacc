// The bytes a network port took off its socket before they were asked for
// (while its opening was awaited, or with a telnet command), the same on
// both sides of the platform.
#pragma once

namespace guardados {

// Moves up to n of the `quantos` bytes kept in `guardados`, oldest first,
// into buf; returns how many.
int tira(unsigned char* guardados, int& quantos, unsigned char* buf, int n);

// What a server that closed at once said (ser2net: "Device open failure:
// ..."), on one line of printable characters, into razao (NUL-terminated);
// returns its length, 0 when it said nothing.
int razao(const unsigned char* guardados, int quantos, char* razao, int tamanho);

}  // namespace guardados
