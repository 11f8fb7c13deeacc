// Waiting for the line and the keyboard together on Windows: an overlapped
// WaitCommEvent(EV_RXCHAR) on the port and the console's input handle, in
// one WaitForMultipleObjects, with the event of a key's write still pending
// when the port's taking a byte is waited for.
//
// A port whose WaitCommEvent fails, or ends at once with no event or aborted
// (wine does so on a pseudo-terminal, having no modem lines to watch), and
// yet answers the probe three times in a row, is not waited on for a second:
// its receive queue is looked at after 1, 2, 4, 8 and then every 16 ms, with
// the keyboard still waited on in between, so it never spins. Then
// WaitCommEvent is tried again.
#include "platform/win32/chamadas_win32.hpp"
#include "platform/win32/rede.hpp"
#include "platform/win32/win32.hpp"

namespace plat {

namespace {

using win32::alca;

constexpr int vazias_ate_desistir = 3;  // empty completions in a row before the port counts as unwaitable
constexpr DWORD passo_maximo_ms = 16;
constexpr std::int64_t olhada_por_us = 1'000'000;  // then WaitCommEvent is tried again

enum class Fila { vazia, com_bytes, perdida };

win32::EstadoDaPorta& aberta = win32::porta_aberta;

Fila olha_fila(Porta p) {
  COMSTAT estado{};
  DWORD erros = 0;
  if (win32::perdida(p)) return Fila::perdida;
  if (!win32::chamadas.estado(alca(p), &erros, &estado)) {
    return win32::falhou(p, GetLastError()) ? Fila::perdida : Fila::vazia;
  }
  return estado.cbInQue > 0 ? Fila::com_bytes : Fila::vazia;
}

// Looked at instead of waited on, for a second at a time: a driver whose
// wait ended empty may well answer it again later.
bool sem_eventos() {
  if (aberta.vazias < vazias_ate_desistir) return false;
  std::int64_t agora = agora_us();
  if (aberta.olhada_desde_us < 0) aberta.olhada_desde_us = agora;
  if (agora - aberta.olhada_desde_us < olhada_por_us) return true;
  aberta.vazias = 0;
  aberta.olhada_desde_us = -1;
  return false;
}

// The wait that ended: its mask says whether the port can be waited on.
Fila termina_espera(Porta p) {
  DWORD n = 0;
  aberta.esperando = false;
  bool terminou = win32::chamadas.resultado(alca(p), &aberta.espera, &n, FALSE) != 0;
  if (!terminou && win32::falhou(p, GetLastError())) return Fila::perdida;
  // Ended with no event, or aborted (wine: the modem lines cannot be read).
  aberta.vazias = terminou && aberta.mascara != 0 ? 0 : aberta.vazias + 1;
  return Fila::vazia;
}

// Starts a WaitCommEvent unless one is under way; its event is signalled
// when it ends. False when the line is gone.
bool arma(Porta p) {
  if (aberta.esperando) return true;
  aberta.espera = OVERLAPPED{};
  aberta.espera.hEvent = win32::evento(win32::evento_da_linha);
  ResetEvent(aberta.espera.hEvent);
  aberta.mascara = 0;
  if (win32::chamadas.espera_evento(alca(p), &aberta.mascara, &aberta.espera)) {
    aberta.vazias = aberta.mascara == 0 ? aberta.vazias + 1 : 0;
    SetEvent(aberta.espera.hEvent);  // ended at once: the queue is looked at again
    return true;
  }
  DWORD erro = GetLastError();
  if (erro == ERROR_IO_PENDING) {
    aberta.esperando = true;
    return true;
  }
  // Failed at once: never a wait on an event that may not come. The port is
  // lost, or it is looked at instead.
  aberta.vazias = vazias_ate_desistir;
  SetEvent(aberta.espera.hEvent);
  return !win32::falhou(p, erro);
}

unsigned achados(Porta p, unsigned eventos) {
  unsigned r = 0;
  if ((eventos & ev_tecla) != 0 && win32::tecla_na_frente()) r |= ev_tecla;
  if ((eventos & (ev_linha | ev_escrita)) != 0 && p != porta_invalida) {
    Fila f = olha_fila(p);
    if (f == Fila::perdida) return r | ev_perdida;
    if ((eventos & ev_linha) != 0 && f == Fila::com_bytes) r |= ev_linha;
    if ((eventos & ev_escrita) != 0 && win32::escrita_livre(p)) r |= ev_escrita;
    if (win32::perdida(p)) return r | ev_perdida;
  }
  return r;
}

DWORD restante(std::int64_t prazo_us) {
  if (prazo_us < 0) return INFINITE;
  return static_cast<DWORD>(em_ms(prazo_us - agora_us()));
}

}  // namespace

namespace win32 {

// Its WaitCommEvent was cancelled with the port's other operations: it is
// seen to end before its OVERLAPPED can serve another.
void espera_esquece(Porta p) {
  DWORD n = 0;
  if (porta_aberta.esperando) chamadas.resultado(alca(p), &porta_aberta.espera, &n, TRUE);
  porta_aberta.esperando = false;
}

}  // namespace win32

unsigned aguarda(Porta p, unsigned eventos, int ms) {
  if ((eventos & (ev_linha | ev_escrita)) != 0 && rede::e_rede(p)) return rede::aguarda(p, eventos, ms);
  std::int64_t prazo_us = ms < 0 ? -1 : agora_us() + 1000LL * ms;
  bool da_linha = (eventos & ev_linha) != 0 && p != porta_invalida;
  DWORD passo_ms = 1;
  for (;;) {
    unsigned r = achados(p, eventos);
    if (r != 0) return r;
    DWORD falta = restante(prazo_us);
    if (falta == 0) return 0;
    HANDLE alcas[3];
    DWORD quantas = 0;
    bool olhando = da_linha && sem_eventos();
    if (da_linha && !olhando) {
      if (!arma(p)) return ev_perdida;
      alcas[quantas++] = aberta.espera.hEvent;
    }
    if ((eventos & ev_tecla) != 0 && win32::teclado() != nullptr) alcas[quantas++] = win32::teclado();
    HANDLE escrita =
        (eventos & ev_escrita) != 0 && p != porta_invalida ? win32::escrita_em_curso(p) : nullptr;
    if (escrita != nullptr) alcas[quantas++] = escrita;
    if (olhando) {
      falta = falta < passo_ms ? falta : passo_ms;
      passo_ms = passo_ms * 2 < passo_maximo_ms ? passo_ms * 2 : passo_maximo_ms;
    }
    if (quantas == 0 && !olhando) {
      // Nothing that can ever be waited on: like a plain sleep.
      if (falta != INFINITE) dorme_ms(static_cast<int>(falta));
      return 0;
    }
    if (quantas == 0) {
      dorme_ms(static_cast<int>(falta));
      continue;
    }
    DWORD w = WaitForMultipleObjects(quantas, alcas, FALSE, falta);
    if (da_linha && !olhando && w == WAIT_OBJECT_0 && aberta.esperando &&
        termina_espera(p) == Fila::perdida) {
      return ev_perdida;
    }
  }
}

}  // namespace plat
