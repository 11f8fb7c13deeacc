// The serial port on Windows: the communications API on a handle opened for
// overlapped I/O, so that the terminal can wait for the line and the
// keyboard together. A serial driver leaves nearly every read and write
// pending (ERROR_IO_PENDING): that is the normal case. A write is cancelled
// only at its deadline, a key's write never: it stays in flight across calls
// until the driver ends it. Every call reaches the system through the table
// in chamadas_win32.hpp.
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/win32/chamadas_win32.hpp"
#include "platform/win32/rede.hpp"
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

EstadoDaPorta porta_aberta;

void porta_comeca(Porta p) {
  porta_aberta = EstadoDaPorta{};
  porta_aberta.porta = p;
}

namespace {

// The probe: a port whose state can still be read is still there.
bool responde(Porta p) {
  COMSTAT s{};
  DWORD erros = 0;
  return chamadas.estado(alca(p), &erros, &s) != 0;
}

}  // namespace

bool falhou(Porta p, DWORD erro, bool cancelada_por_nos) {
  if (cancelada_por_nos && erro == ERROR_OPERATION_ABORTED) return false;
  if (responde(p)) return false;
  porta_aberta.perdida = true;
  return true;
}

bool perdida(Porta) { return porta_aberta.perdida; }

HANDLE escrita_em_curso(Porta) { return porta_aberta.escrevendo ? evento(evento_escrita) : nullptr; }

bool escrita_livre(Porta p) {
  EstadoDaPorta& e = porta_aberta;
  if (!e.escrevendo) return true;
  DWORD n = 0;
  if (chamadas.resultado(alca(p), &e.escrita, &n, FALSE)) {
    e.escrevendo = false;
    return true;
  }
  DWORD erro = GetLastError();
  if (erro == ERROR_IO_INCOMPLETE) return false;
  e.escrevendo = false;  // failed: its bytes are gone with it
  falhou(p, erro);
  return true;
}

}  // namespace win32

namespace {

using win32::alca;

constexpr DWORD mascara = EV_RXCHAR | EV_TXEMPTY;
constexpr DWORD tempo_leitura_ms = 1;     // a read returns after 1 ms with whatever came
constexpr DWORD prazo_escrita_ms = 2000;  // the line took nothing for this long: give up
constexpr DWORD folga_leitura_ms = 1000;  // a 1 ms read that has not ended by then never will

// Why the last open or setting of the port failed: errno, and beside it the
// Win32 error it came from (0 when none), whose own text is shown when errno
// would lose the cause.
int ultimo_erro = 0;
DWORD ultimo_erro_win32 = 0;
bool mostra_texto_do_sistema = false;

void nota_erro(int codigo, DWORD erro, bool texto_do_sistema) {
  ultimo_erro = codigo;
  ultimo_erro_win32 = erro;
  mostra_texto_do_sistema = texto_do_sistema && erro != 0;
}

// The settings were refused: EINVAL for a parameter the driver does not
// take, otherwise errno as for any file; the system's text either way.
void nota_ajustes_recusados(DWORD erro) {
  nota_erro(erro == ERROR_INVALID_PARAMETER ? EINVAL : win32::errno_de(erro), erro, true);
}

// The read time-outs: the 1 ms of a read that has to wait for its bytes, or
// none for one whose bytes are all waiting already (wine then completes the
// read at once instead of through its server).
bool tempo_de_leitura(Porta p, DWORD total_ms) {
  win32::EstadoDaPorta& e = win32::porta_aberta;
  if (e.com_tempo && e.tempo_leitura_ms == total_ms) return true;
  COMMTIMEOUTS t{};
  t.ReadIntervalTimeout = MAXDWORD;
  t.ReadTotalTimeoutMultiplier = 0;
  t.ReadTotalTimeoutConstant = total_ms;
  t.WriteTotalTimeoutMultiplier = 0;
  t.WriteTotalTimeoutConstant = 0;
  if (!SetCommTimeouts(alca(p), &t)) return false;
  e.com_tempo = true;
  e.tempo_leitura_ms = total_ms;
  return true;
}

// How many bytes are waiting to be read; 0 when the port cannot say.
DWORD na_fila(Porta p) {
  COMSTAT estado{};
  DWORD erros = 0;
  if (win32::chamadas.estado(alca(p), &erros, &estado)) return estado.cbInQue;
  win32::falhou(p, GetLastError());
  return 0;
}

// Waits for an overlapped operation on p for up to limite_ms; one that has
// not ended by then is cancelled. True when it ended well; `n` is how many
// bytes it moved either way. A failure other than that cancellation is
// judged (the line may be lost).
bool conclui(Porta p, OVERLAPPED& o, DWORD limite_ms, DWORD& n) {
  n = 0;
  HANDLE e = reinterpret_cast<HANDLE>(reinterpret_cast<std::uintptr_t>(o.hEvent) & ~std::uintptr_t{1});
  bool cancelada = false;
  if (WaitForSingleObject(e, limite_ms) != WAIT_OBJECT_0) {
    cancelada = win32::chamadas.cancela(alca(p), &o) != 0;
  }
  if (win32::chamadas.resultado(alca(p), &o, &n, TRUE)) return true;
  win32::falhou(p, GetLastError(), cancelada);
  return false;
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
  static LeituraNt l =
      reinterpret_cast<LeituraNt>(reinterpret_cast<void*>(win32::ntdll_do_wine("NtReadFile")));
  return l;
}

int le(Porta p, unsigned char* buf, DWORD n, bool todos_esperando) {
  if (win32::perdida(p)) return 0;
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
  if (win32::chamadas.le(h, buf, n, &lidos, &o)) return static_cast<int>(lidos);
  if (DWORD erro = GetLastError(); erro != ERROR_IO_PENDING) {
    win32::falhou(p, erro);
    return 0;
  }
  conclui(p, o, folga_leitura_ms, lidos);
  return static_cast<int>(lidos);
}

// As for any file, but a port that refuses access is held by another program.
int errno_da_porta(DWORD erro) {
  if (erro == ERROR_ACCESS_DENIED || erro == ERROR_SHARING_VIOLATION) return EBUSY;
  return win32::errno_de(erro);
}

// One overlapped write, waited for up to `limite_ms`; `n` is how many bytes
// it took by then. False when the line is lost.
bool escreve_uma_vez(Porta p, const unsigned char* buf, int quantos, DWORD limite_ms, DWORD& n) {
  OVERLAPPED o{};
  o.hEvent = win32::sem_porta_de_conclusao(win32::evento(win32::evento_escrita));
  n = 0;
  if (win32::chamadas.escreve(alca(p), buf, static_cast<DWORD>(quantos), &n, &o)) return true;
  if (DWORD erro = GetLastError(); erro != ERROR_IO_PENDING) return !win32::falhou(p, erro);
  conclui(p, o, limite_ms, n);
  return !win32::perdida(p);
}

// A key's write still pending is waited for up to limite_ms and then
// cancelled. False when it has not ended by then (the line took nothing).
bool termina_escrita_pendente(Porta p, DWORD limite_ms) {
  HANDLE e = win32::escrita_em_curso(p);
  if (e == nullptr) return true;
  WaitForSingleObject(e, limite_ms);
  if (win32::escrita_livre(p)) return true;
  win32::EstadoDaPorta& d = win32::porta_aberta;
  win32::chamadas.cancela(alca(p), &d.escrita);
  DWORD n = 0;
  if (!win32::chamadas.resultado(alca(p), &d.escrita, &n, TRUE)) win32::falhou(p, GetLastError(), true);
  d.escrevendo = false;
  return n > 0;
}

}  // namespace

Porta porta_abre(const char* nome) {
  if (rede::e_url(nome)) return rede::abre(nome);
  char caminho[300];
  if (!porta_caminho(nome, caminho, sizeof caminho)) {
    nota_erro(ENOENT, 0, false);
    return porta_invalida;
  }
  HANDLE h = win32::abre_arquivo(caminho, GENERIC_READ | GENERIC_WRITE, 0, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD erro = GetLastError();
    int codigo = errno_da_porta(erro);
    nota_erro(codigo, erro, codigo == EIO);  // EIO: an error errno has no name for
    return porta_invalida;
  }
  win32::porta_comeca(reinterpret_cast<Porta>(h));
  return reinterpret_cast<Porta>(h);
}

bool porta_configura(Porta p, int baud) {
  if (rede::e_rede(p)) return rede::configura(p, baud);
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!win32::chamadas.le_ajustes(alca(p), &dcb)) {
    nota_ajustes_recusados(GetLastError());
    return false;
  }
  dcb.BaudRate = static_cast<DWORD>(baud);
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fDtrControl = DTR_CONTROL_DISABLE;
  dcb.fRtsControl = RTS_CONTROL_DISABLE;
  dcb.fOutX = 0;
  dcb.fInX = 0;
  dcb.fNull = 0;
  dcb.fOutxCtsFlow = FALSE;  // no output held for a CTS or DSR the board never gives
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fParity = FALSE;        // the line has no parity to check
  dcb.fAbortOnError = FALSE;  // a line error must not fail every later read and write
  if (!win32::chamadas.muda_ajustes(alca(p), &dcb)) {
    nota_ajustes_recusados(GetLastError());
    return false;
  }
  SetCommMask(alca(p), mascara);
  win32::porta_aberta.com_tempo = false;  // the port's time-outs are not known after new settings
  tempo_de_leitura(p, tempo_leitura_ms);
  return true;
}

int porta_erro() { return ultimo_erro; }

const char* porta_erro_texto() {
  if (!mostra_texto_do_sistema) return std::strerror(ultimo_erro);
  return win32::texto_do_erro(ultimo_erro_win32);
}

const char* porta_grupo(const char*) { return nullptr; }

void porta_fecha(Porta p) {
  if (rede::e_rede(p)) return rede::fecha(p);
  win32::chamadas.cancela(alca(p), nullptr);  // every operation of ours still pending on it
  DWORD n = 0;
  if (win32::escrita_em_curso(p) != nullptr) {
    win32::chamadas.resultado(alca(p), &win32::porta_aberta.escrita, &n, TRUE);
  }
  win32::espera_esquece(p);
  win32::porta_aberta = win32::EstadoDaPorta{};
  CloseHandle(alca(p));
}

int porta_le(Porta p, unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::le(p, buf, n);
  DWORD pedidos = static_cast<DWORD>(n);
  bool todos = na_fila(p) >= pedidos;
  tempo_de_leitura(p, todos ? 0 : tempo_leitura_ms);
  return le(p, buf, pedidos, todos && win32::porta_aberta.tempo_leitura_ms == 0);
}

int porta_le_disponivel(Porta p, unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::le_disponivel(p, buf, n);
  DWORD esperando = na_fila(p);
  if (esperando == 0) return 0;
  bool sem_espera = tempo_de_leitura(p, 0);
  return le(p, buf, esperando < static_cast<DWORD>(n) ? esperando : static_cast<DWORD>(n), sem_espera);
}

int porta_escreve(Porta p, const unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::escreve(p, buf, n);
  if (!termina_escrita_pendente(p, prazo_escrita_ms)) return 0;
  int enviados = 0;
  while (enviados < n) {
    DWORD foram = 0;
    bool viva = escreve_uma_vez(p, buf + enviados, n - enviados, prazo_escrita_ms, foram);
    enviados += static_cast<int>(foram);
    if (!viva || foram == 0) break;  // lost, or took nothing for 2 s
  }
  return enviados;
}

// The bytes are copied and handed to the driver; a write it leaves pending
// counts as taken and stays in flight: while it is, nothing more is taken
// (0), and aguarda(ev_escrita) wakes when it ends.
int porta_escreve_agora(Porta p, const unsigned char* buf, int n) {
  if (rede::e_rede(p)) return rede::escreve_agora(p, buf, n);
  if (win32::perdida(p)) return -1;
  if (!win32::escrita_livre(p)) return 0;  // the one before is still in flight
  if (win32::perdida(p)) return -1;        // it failed, and the probe too
  win32::EstadoDaPorta& e = win32::porta_aberta;
  DWORD quantos = static_cast<DWORD>(n) < sizeof e.bytes ? static_cast<DWORD>(n) : sizeof e.bytes;
  std::memcpy(e.bytes, buf, quantos);
  e.escrita = OVERLAPPED{};
  e.escrita.hEvent = win32::sem_porta_de_conclusao(win32::evento(win32::evento_escrita));
  DWORD foram = 0;
  if (win32::chamadas.escreve(alca(p), e.bytes, quantos, &foram, &e.escrita)) return static_cast<int>(foram);
  DWORD erro = GetLastError();
  if (erro == ERROR_IO_PENDING) {
    e.escrevendo = true;
    return static_cast<int>(quantos);
  }
  return win32::falhou(p, erro) ? -1 : 0;
}

// DTR and RTS, driven one at a time (a board's reset circuit).
int porta_linha_modem(Porta p, int linha, bool liga) {
  if (rede::e_rede(p)) return rede::sinal(p, linha == linha_dtr, liga) ? 0 : EIO;
  DWORD funcao = linha == linha_dtr ? (liga ? SETDTR : CLRDTR) : (liga ? SETRTS : CLRRTS);
  if (EscapeCommFunction(win32::alca(p), funcao)) return 0;
  return win32::errno_de(GetLastError());
}

}  // namespace plat
