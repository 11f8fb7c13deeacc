#include "frontend/terminal.hpp"

#include <cstdint>

#include "platform/plataforma.hpp"
#include "programming/menu.hpp"
#include "programming/upload.hpp"
#include "saida/saida.hpp"
#include "serial/porta.hpp"
#include "serial/troca.hpp"

namespace {

constexpr int ctrl_u = 0x15;  // send a hex file
constexpr int ctrl_f = 0x06;  // programming menu
constexpr int ctrl_x = 0x18;  // leave
constexpr int sai = -1;       // Ctrl-X typed while the line was blocked, or the console gone
constexpr int sai_bem = 0;
constexpr int sai_linha_perdida = 3;
constexpr std::int64_t intervalo_reabrir_us = 250'000;   // a lost port is tried this often
constexpr std::int64_t prazo_bloqueio_us = 2'000'000;    // a key the line does not take is dropped
constexpr int teclas_por_vez = 64;                       // keys dropped at one wake-up, at most
constexpr std::int64_t descanso_do_teclado_us = 10'000;  // then the keyboard is left alone

// Until this instant the keyboard is not watched: a flood of keys being
// dropped must leave room for the deadlines and the port's tries.
std::int64_t teclado_descansa_ate = 0;

// Reads the waiting keys and drops them, counting them, up to teclas_por_vez
// at a time: with more still waiting the keyboard rests a while. True when
// one of them was Ctrl-X, or the console has gone.
bool descarta_teclas(int& descartadas) {
  for (int i = 0; i < teclas_por_vez; ++i) {
    if (!plat::tecla_pronta()) return plat::console_perdido();
    if (plat::tecla_le() == ctrl_x) return true;
    ++descartadas;
  }
  teclado_descansa_ate = plat::agora_us() + descanso_do_teclado_us;
  return false;
}

// aguarda, with the keyboard left out while it rests; the wait then ends
// with the rest at the latest.
unsigned aguarda_teclado(plat::Porta p, unsigned eventos, int ms) {
  std::int64_t descanso = teclado_descansa_ate - plat::agora_us();
  if ((eventos & plat::ev_tecla) != 0 && descanso > 0) {
    eventos &= ~plat::ev_tecla;
    int resto = plat::em_ms(descanso);
    if (ms < 0 || ms > resto) ms = resto;
  }
  return plat::aguarda(p, eventos, ms);
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
        aguarda_teclado(hcom, plat::ev_escrita | plat::ev_linha | plat::ev_tecla, plat::em_ms(falta));
    if ((achou & plat::ev_perdida) != 0) break;
    if ((achou & plat::ev_linha) != 0) mostra_disponivel();
    if ((achou & plat::ev_tecla) != 0 && descarta_teclas(descartados)) return false;
  }
  if (descartados > 0) relata("linha bloqueada: %d bytes descartados", descartados);
  return true;
}

// Sends a waiting key down the line (first the one the menu kept, if any);
// returns it, 0 when none was waiting, or `sai` when Ctrl-X was typed while
// the line took nothing or the console has gone.
int passa_tecla(int guardada) {
  int tecla = guardada;
  if (tecla < 0) {
    if (!plat::tecla_pronta()) return plat::console_perdido() ? sai : 0;
    tecla = plat::tecla_le();
  }
  if (tecla < 0) return plat::console_perdido() ? sai : 0;
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
// keys typed meanwhile are dropped. False when Ctrl-X was typed or the
// console has gone.
bool espera_linha_voltar(const char* porta, int baud) {
  plat::porta_fecha(hcom);  // let go first: another program may take the port meanwhile
  hcom = plat::porta_invalida;
  relata("linha perdida: %s; esperando que volte (Ctrl-X sai)", porta);
  int ignoradas = 0;
  do {
    std::int64_t tentativa = plat::agora_us() + intervalo_reabrir_us;
    for (std::int64_t falta; (falta = tentativa - plat::agora_us()) > 0;) {
      if (aguarda_teclado(plat::porta_invalida, plat::ev_tecla, plat::em_ms(falta)) != 0 &&
          descarta_teclas(ignoradas)) {
        return false;
      }
    }
  } while (!reabre(porta, baud));
  relata("reconectado: %s", porta);
  return true;
}

}  // namespace

int terminal(const char* porta, int baud, bool reconecta) {
  char nome[80];      // the file name typed after Ctrl-U
  int guardada = -1;  // a key the menu took while draining a reply
  for (;;) {
    mostra_adiado();
    if (plat::console_perdido()) return sai_bem;  // as Ctrl-X: nobody is there to type it
    if (guardada < 0 &&
        (aguarda_teclado(hcom, plat::ev_linha | plat::ev_tecla, -1) & plat::ev_perdida) != 0) {
      // What it still had was read and shown.
      if (!reconecta) {
        relata("linha perdida: %s", porta);
        return sai_linha_perdida;
      }
      if (!espera_linha_voltar(porta, baud)) return sai_bem;  // Ctrl-X, or the console gone
    }
    mostra_disponivel();
    // Only a key is a command: a byte from the line never starts one.
    int tecla = passa_tecla(guardada);
    guardada = -1;
    if (tecla == ctrl_u) {
      tecla_do_envio = ctrl_u;  // its echo is shown before the file's first byte
      envia_hex_digitado(nome, sizeof nome);
      tecla_do_envio = -1;
    } else if (tecla == ctrl_f) {
      plat::TemporizadorFino fino;  // 1 ms pauses from the handshake on
      comando();
      guardada = toma_tecla_guardada();
    } else if (tecla == ctrl_x || tecla == sai) {
      return sai_bem;
    }
  }
}
