// The serial port on Windows: the communications API on a synchronous
// handle, with time-outs that make a read return after 1 ms.
#include <windows.h>

#include "platform/plataforma.hpp"

namespace plat {

namespace {

HANDLE alca(Porta p) { return reinterpret_cast<HANDLE>(p); }

constexpr DWORD eventos = EV_RXCHAR | EV_TXEMPTY;

}  // namespace

Porta porta_abre(const char* nome) {
  HANDLE h = CreateFileA(nome, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return porta_invalida;
  return reinterpret_cast<Porta>(h);
}

bool porta_configura(Porta p, int baud) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  GetCommState(alca(p), &dcb);
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fNull = 0;
  if (!SetCommState(alca(p), &dcb)) return false;
  SetCommMask(alca(p), eventos);
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = 1;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  SetCommTimeouts(alca(p), &t);
  return true;
}

int porta_le(Porta p, unsigned char* buf, int n) {
  DWORD lidos = 0;
  if (!ReadFile(alca(p), buf, static_cast<DWORD>(n), &lidos, nullptr)) return 0;
  return static_cast<int>(lidos);
}

int porta_le_disponivel(Porta p, unsigned char* buf, int n) {
  COMSTAT estado{};
  DWORD erros = 0;
  if (!ClearCommError(alca(p), &erros, &estado) || estado.cbInQue == 0) return 0;
  DWORD pedir = estado.cbInQue < static_cast<DWORD>(n) ? estado.cbInQue : static_cast<DWORD>(n);
  return porta_le(p, buf, static_cast<int>(pedir));
}

void porta_escreve(Porta p, const unsigned char* buf, int n) {
  int enviados = 0;
  while (enviados < n) {
    DWORD escritos = 0;
    if (!WriteFile(alca(p), buf + enviados, static_cast<DWORD>(n - enviados), &escritos, nullptr) ||
        escritos == 0) {
      return;
    }
    enviados += static_cast<int>(escritos);
  }
}

}  // namespace plat
