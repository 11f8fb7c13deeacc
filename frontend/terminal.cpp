#include "frontend/terminal.hpp"

#include <cstdint>

#include "saida/saida.hpp"
#include "platform/plataforma.hpp"
#include "programming/menu.hpp"
#include "programming/upload.hpp"
#include "serial/porta.hpp"
#include "serial/troca.hpp"

namespace {

constexpr int ctrl_u = 0x15;  // send a hex file
constexpr int ctrl_f = 0x06;  // programming menu
constexpr int ctrl_x = 0x18;  // leave
constexpr int sai = -1;       // Ctrl-X typed while the line was blocked
constexpr int espera_linha_caida_ms = 100;
constexpr std::int64_t intervalo_reabrir_us = 250'000;  // a lost port is tried this often
constexpr std::int64_t prazo_bloqueio_us = 2'000'000;   // a key the line does not take is dropped

// Whole milliseconds, rounded up, so a wait never ends before its instant.
int em_ms(std::int64_t us) { return static_cast<int>((us + 999) / 1000); }

// Reads the waiting keys and drops them, counting them; true when one of
// them was Ctrl-X.
bool descarta_teclas(int& descartadas) {
  while (plat::tecla_pronta()) {
    if (plat::tecla_le() == ctrl_x) return true;
    ++descartadas;
  }
  return false;
}

// Hands one key to the line. While the line takes nothing the line is still
// shown and the keyboard watched (keys typed meanwhile are dropped); after
// about 2 s the key is dropped too. False when Ctrl-X was typed meanwhile.
bool envia_tecla(unsigned char byte) {
  int descartados = 0;
  std::int64_t prazo = plat::agora_us() + prazo_bloqueio_us;
  // 0: the line took nothing yet; 1: sent; -1: the line has failed, and the
  // next wait says so.
  while (plat::porta_escreve_agora(hcom, &byte, 1) == 0) {
    std::int64_t falta = prazo - plat::agora_us();
    if (falta <= 0) {
      ++descartados;
      break;
    }
    unsigned achou =
        plat::aguarda(hcom, plat::ev_escrita | plat::ev_linha | plat::ev_tecla, em_ms(falta));
    if ((achou & plat::ev_perdida) != 0) break;
    if ((achou & plat::ev_linha) != 0) mostra_disponivel();
    if ((achou & plat::ev_tecla) != 0 && descarta_teclas(descartados)) return false;
  }
  if (descartados > 0) relata("linha bloqueada: %d bytes descartados", descartados);
  return true;
}

// Sends a waiting key down the line; returns it, 0 when none was waiting,
// or `sai` when Ctrl-X was typed while the line took nothing.
int passa_tecla() {
  if (!plat::tecla_pronta()) return 0;
  int tecla = plat::tecla_le();
  if (tecla < 0) return 0;
  if (!envia_tecla(static_cast<unsigned char>(tecla))) return sai;
  return tecla;
}

// Opens the port again with its settings, quietly; false while it is not
// back (missing, refusing the settings, or still hung up).
bool reabre(const char* porta, int baud) {
  plat::Porta p = plat::porta_abre(porta);
  if (p == plat::porta_invalida) return false;
  if (!plat::porta_configura(p, baud) || (plat::aguarda(p, plat::ev_linha, 0) & plat::ev_perdida) != 0) {
    plat::porta_fecha(p);
    return false;
  }
  hcom = p;
  return true;
}

// The line is gone: the port is closed (so another program may take it) and
// opened again once it is back, watching the keyboard between the tries;
// keys typed meanwhile are dropped. False when Ctrl-X was typed.
bool espera_linha_voltar(const char* porta, int baud) {
  plat::porta_fecha(hcom);  // let go first: another program may take the port meanwhile
  hcom = plat::porta_invalida;
  relata("linha perdida: %s; esperando que volte (Ctrl-X sai)", porta);
  int ignoradas = 0;
  do {
    std::int64_t tentativa = plat::agora_us() + intervalo_reabrir_us;
    for (std::int64_t falta; (falta = tentativa - plat::agora_us()) > 0;) {
      if (plat::aguarda(plat::porta_invalida, plat::ev_tecla, em_ms(falta)) != 0 &&
          descarta_teclas(ignoradas)) {
        return false;
      }
    }
  } while (!reabre(porta, baud));
  relata("reconectado: %s", porta);
  return true;
}

}  // namespace

void terminal(const char* porta, int baud, bool reconecta) {
  char nome[80];  // the file name typed after Ctrl-U
  for (;;) {
    mostra_adiado();
    if ((plat::aguarda(hcom, plat::ev_linha | plat::ev_tecla, -1) & plat::ev_perdida) != 0) {
      if (!reconecta) {
        // What it still had was read; only the keyboard can bring anything.
        plat::aguarda(hcom, plat::ev_tecla, espera_linha_caida_ms);
      } else if (!espera_linha_voltar(porta, baud)) {
        return;
      }
    }
    mostra_disponivel();
    // Only a key is a command: a byte from the line never starts one.
    int tecla = passa_tecla();
    if (tecla == ctrl_u) {
      envia_hex_digitado(nome, sizeof nome);
    } else if (tecla == ctrl_f) {
      comando();
    } else if (tecla == ctrl_x || tecla == sai) {
      return;
    }
  }
}
