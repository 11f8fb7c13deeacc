#include "frontend/terminal.hpp"

#include <cstdio>

#include "frontend/saida.hpp"
#include "platform/plataforma.hpp"
#include "programming/menu.hpp"
#include "programming/upload.hpp"
#include "serial/porta.hpp"

namespace {

constexpr int ctrl_u = 0x15;  // send a hex file
constexpr int ctrl_f = 0x06;  // programming menu
constexpr int ctrl_x = 0x18;  // leave
constexpr int espera_linha_caida_ms = 100;

// Shows the bytes waiting on the line, up to a pty's or a UART driver's
// buffer at a time, with one write.
void mostra_linha() {
  unsigned char buf[4096];
  int n = plat::porta_le_disponivel(hcom, buf, sizeof buf);
  if (n > 0) mostra_bytes(buf, static_cast<std::size_t>(n));
}

// Sends a waiting key down the line; returns it, or 0 when none was waiting.
int passa_tecla() {
  if (!plat::tecla_pronta()) return 0;
  int tecla = plat::tecla_le();
  if (tecla < 0) return 0;
  unsigned char byte = static_cast<unsigned char>(tecla);
  plat::porta_escreve(hcom, &byte, 1);
  return tecla;
}

}  // namespace

void terminal() {
  char nome[80];  // the file name typed after Ctrl-U
  for (;;) {
    mostra_adiado();
    if (plat::aguarda(hcom, plat::ev_linha | plat::ev_tecla, -1) == plat::ev_perdida) {
      // Hung up: what it still had was read; only the keyboard can bring anything.
      plat::aguarda(hcom, plat::ev_tecla, espera_linha_caida_ms);
    }
    mostra_linha();
    // Only a key is a command: a byte from the line never starts one.
    int tecla = passa_tecla();
    if (tecla == ctrl_u) {
      envia_hex_digitado(nome, sizeof nome);
    } else if (tecla == ctrl_f) {
      comando();
    } else if (tecla == ctrl_x) {
      return;
    }
  }
}
