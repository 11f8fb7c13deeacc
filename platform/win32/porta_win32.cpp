// The serial port on Windows: the communications API on a handle opened for
// overlapped I/O, so that the terminal can wait for the line and the
// keyboard together. Every read and write waits for its own completion.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/win32/win32.hpp"

namespace plat {

namespace win32 {

HANDLE evento(int qual) {
  static HANDLE feitos[eventos]{};
  if (feitos[qual] == nullptr) feitos[qual] = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  return feitos[qual];
}

// The low bit set in an OVERLAPPED's event keeps its completion off any
// completion port: none is used here, and under wine the notice would cost
// a round trip to the wineserver on every read and write that ends at once.
HANDLE sem_porta_de_conclusao(HANDLE e) {
  return reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(e) | 1U);
}

bool conclui(HANDLE h, OVERLAPPED& o, DWORD limite_ms, DWORD& n) {
  n = 0;
  HANDLE e = reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(o.hEvent) & ~std::uintptr_t{1});
  if (WaitForSingleObject(e, limite_ms) != WAIT_OBJECT_0) CancelIoEx(h, &o);
  return GetOverlappedResult(h, &o, &n, TRUE) != 0;
}

bool linha_perdida(DWORD erro) {
  return erro == ERROR_BAD_COMMAND || erro == ERROR_DEVICE_REMOVED || erro == ERROR_GEN_FAILURE ||
         erro == ERROR_INVALID_HANDLE ||
         erro == ERROR_DEVICE_NOT_CONNECTED || erro == ERROR_NOT_READY || erro == ERROR_BROKEN_PIPE;
}

}  // namespace win32

namespace {

using win32::alca;

constexpr DWORD mascara = EV_RXCHAR | EV_TXEMPTY;
constexpr DWORD tempo_leitura_ms = 1;     // a read returns after 1 ms with whatever came
constexpr DWORD prazo_escrita_ms = 2000;  // the line took nothing for this long: give up
constexpr DWORD folga_leitura_ms = 1000;  // a 1 ms read that has not ended by then never will
constexpr char prefixo_dispositivo[] = "\\\\.\\";

int ultimo_erro = 0;

// The read time-outs in force: the 1 ms of a read that has to wait for its
// bytes, or none for one whose bytes are all waiting already (wine then
// completes the read at once instead of through its server).
struct TempoDeLeitura {
  Porta porta = porta_invalida;
  DWORD total_ms = 0;
};
TempoDeLeitura tempo_em_vigor;

bool tempo_de_leitura(Porta p, DWORD total_ms) {
  if (tempo_em_vigor.porta == p && tempo_em_vigor.total_ms == total_ms) return true;
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = total_ms;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(alca(p), &t)) return false;
  tempo_em_vigor = {p, total_ms};
  return true;
}

// How many bytes are waiting to be read; 0 when the port cannot say.
DWORD na_fila(Porta p) {
  COMSTAT estado{};
  DWORD erros = 0;
  return ClearCommError(alca(p), &erros, &estado) ? estado.cbInQue : 0;
}

// ntdll's NtReadFile; the OVERLAPPED's first two fields are its I/O status.
using LeituraNt = LONG(WINAPI*)(HANDLE arquivo, HANDLE evento, void* apc, void* contexto, OVERLAPPED* estado,
                                void* buf, ULONG n, LARGE_INTEGER* posicao, ULONG* chave);

// Under wine a ReadFile that ends at once sets its event (or posts its
// completion) through one more round trip to the wineserver: 0.05 ms of an
// echo's read. There a read whose bytes are all waiting, with the read
// time-outs at 0, goes to NtReadFile with neither, as ReadFile would with
// no event; it ends at once with the bytes.
LeituraNt leitura_do_wine() {
  static const LeituraNt l =
      reinterpret_cast<LeituraNt>(reinterpret_cast<void*>(win32::ntdll_do_wine("NtReadFile")));
  return l;
}

int le(Porta p, unsigned char* buf, DWORD n, bool todos_esperando) {
  HANDLE h = alca(p);
  OVERLAPPED o{};
  DWORD lidos = 0;
  if (LeituraNt l = leitura_do_wine(); todos_esperando && l != nullptr) {
    LARGE_INTEGER inicio{};
    o.Internal = STATUS_PENDING;  // as ReadFile leaves it, until the read has ended
    LONG r = l(h, nullptr, nullptr, nullptr, &o, buf, n, &inicio, nullptr);
    if (r == 0) return static_cast<int>(o.InternalHigh);
    if (r != static_cast<LONG>(STATUS_PENDING)) return 0;
    GetOverlappedResult(h, &o, &lidos, TRUE);  // no event: the handle is signalled when it ends
    return static_cast<int>(lidos);
  }
  o.hEvent = win32::sem_porta_de_conclusao(win32::evento(win32::evento_leitura));
  if (ReadFile(h, buf, n, &lidos, &o)) return static_cast<int>(lidos);
  if (GetLastError() != ERROR_IO_PENDING) return 0;
  win32::conclui(h, o, folga_leitura_ms, lidos);
  return static_cast<int>(lidos);
}

int errno_de(DWORD erro) {
  switch (erro) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION: return EBUSY;  // another program holds the port
    default: return EIO;
  }
}

// COM10 and up exist only under \\.\: every name goes through it.
bool caminho_da_porta(const char* nome, char* buf, std::size_t tamanho) {
  std::size_t n = std::strlen(nome);
  std::size_t p = std::strncmp(nome, prefixo_dispositivo, 4) == 0 ? 0 : 4;
  if (p + n + 1 > tamanho) return false;
  std::memcpy(buf, prefixo_dispositivo, p);
  std::memcpy(buf + p, nome, n + 1);
  return true;
}

// One overlapped write; true when the line is still there. `n` is how many
// bytes it took within `limite_ms`.
bool escreve_uma_vez(HANDLE h, const unsigned char* buf, int quantos, DWORD limite_ms, DWORD& n) {
  OVERLAPPED o{};
  o.hEvent = win32::sem_porta_de_conclusao(win32::evento(win32::evento_escrita));
  n = 0;
  if (WriteFile(h, buf, static_cast<DWORD>(quantos), &n, &o)) return true;
  if (GetLastError() != ERROR_IO_PENDING) return false;
  if (win32::conclui(h, o, limite_ms, n)) return true;
  return GetLastError() == ERROR_OPERATION_ABORTED;  // cancelled at the time limit
}

}  // namespace

Porta porta_abre(const char* nome) {
  char caminho[300];
  if (!caminho_da_porta(nome, caminho, sizeof caminho)) {
    ultimo_erro = ENOENT;
    return porta_invalida;
  }
  HANDLE h = CreateFileA(caminho, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    ultimo_erro = errno_de(GetLastError());
    return porta_invalida;
  }
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
  dcb.fAbortOnError = FALSE;  // a line error must not fail every later read and write
  if (!SetCommState(alca(p), &dcb)) {
    ultimo_erro = EINVAL;
    return false;
  }
  SetCommMask(alca(p), mascara);
  tempo_em_vigor = {};
  tempo_de_leitura(p, tempo_leitura_ms);
  return true;
}

int porta_erro() { return ultimo_erro; }

const char* porta_grupo(const char*) { return nullptr; }

void porta_fecha(Porta p) { CloseHandle(alca(p)); }

int porta_le(Porta p, unsigned char* buf, int n) {
  DWORD pedidos = static_cast<DWORD>(n);
  bool todos = na_fila(p) >= pedidos;
  tempo_de_leitura(p, todos ? 0 : tempo_leitura_ms);
  return le(p, buf, pedidos, todos && tempo_em_vigor.total_ms == 0);
}

int porta_le_disponivel(Porta p, unsigned char* buf, int n) {
  DWORD esperando = na_fila(p);
  if (esperando == 0) return 0;
  bool sem_espera = tempo_de_leitura(p, 0);
  return le(p, buf, esperando < static_cast<DWORD>(n) ? esperando : static_cast<DWORD>(n), sem_espera);
}

int porta_escreve(Porta p, const unsigned char* buf, int n) {
  int enviados = 0;
  while (enviados < n) {
    DWORD foram = 0;
    bool viva = escreve_uma_vez(alca(p), buf + enviados, n - enviados, prazo_escrita_ms, foram);
    enviados += static_cast<int>(foram);
    if (!viva || foram == 0) break;  // failed, or took nothing for 2 s
  }
  return enviados;
}

int porta_escreve_agora(Porta p, const unsigned char* buf, int n) {
  DWORD foram = 0;
  if (!escreve_uma_vez(alca(p), buf, n, 0, foram)) return -1;
  return static_cast<int>(foram);
}

}  // namespace plat
