// Children on Windows: CreateProcessW with the child's standard output and
// error on anonymous pipes (only the child's ends inherited, and nothing
// else), the parent's ends looked at with PeekNamedPipe; the wait between
// looks is one on the children's processes, so an ending child wakes it.
#include <atomic>
#include <cerrno>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

constexpr DWORD tamanho_cano = 65536;  // a child never waits on a parent that looks every 10 ms
constexpr DWORD intervalo_ms = 10;     // between looks at the pipes
constexpr int tamanho_linha = 32768;   // the longest command line CreateProcessW takes

struct Filho {
  HANDLE processo;
  HANDLE cano[2];  // the parent's ends of standard output and error (nullptr: ended)
  bool visto_fim;  // the process was seen to end: no longer waited on
  bool cr[2];      // a CR read last, held until what follows it is known
};

Filho filhos[filhos_maximo];
int quantos = 0;

std::atomic<bool> notado{false};

// Runs on a thread of the system's own. The children share the console, so
// the key reached them too.
BOOL WINAPI ao_controle(DWORD tipo) {
  if (tipo != CTRL_C_EVENT && tipo != CTRL_BREAK_EVENT) return FALSE;
  notado = true;
  return TRUE;
}

void fecha(HANDLE& h) {
  if (h != nullptr) CloseHandle(h);
  h = nullptr;
}

// --- the command line -----------------------------------------------------

wchar_t linha[tamanho_linha];
int usado = 0;

bool poe(wchar_t c) {
  if (usado >= tamanho_linha - 1) return false;
  linha[usado++] = c;
  return true;
}

// One argument, in the code page the program's arguments came in, quoted as
// the C runtime's start-up takes it apart again: inside quotes, backslashes
// are doubled only before a quote (the argument's own or the closing one).
bool poe_argumento(const char* arg) {
  wchar_t largo[4096];
  int n = MultiByteToWideChar(CP_ACP, 0, arg, -1, largo, sizeof largo / sizeof largo[0]);
  if (n <= 0) return false;
  --n;  // without the NUL
  bool aspas = n == 0;
  for (int i = 0; i < n; ++i) aspas = aspas || largo[i] == L' ' || largo[i] == L'\t' || largo[i] == L'"';
  if (usado > 0 && !poe(L' ')) return false;
  if (!aspas) {
    for (int i = 0; i < n; ++i) {
      if (!poe(largo[i])) return false;
    }
    return true;
  }
  bool ok = poe(L'"');
  for (int i = 0; i <= n && ok; ++i) {
    int barras = 0;
    while (i < n && largo[i] == L'\\') {
      ++barras;
      ++i;
    }
    // Before a quote, or the closing one: each backslash doubled.
    int vezes = i == n || largo[i] == L'"' ? 2 * barras : barras;
    for (int k = 0; k < vezes && ok; ++k) ok = poe(L'\\');
    if (i == n) break;
    if (largo[i] == L'"') ok = ok && poe(L'\\');
    ok = ok && poe(largo[i]);
  }
  return ok && poe(L'"');
}

bool monta_linha(const char* const* argv) {
  usado = 0;
  for (int i = 0; argv[i] != nullptr; ++i) {
    if (!poe_argumento(argv[i])) return false;
  }
  linha[usado] = L'\0';
  return true;
}

// --- starting ---------------------------------------------------------------

// A pipe whose write end the child inherits and whose read end it never
// sees.
bool cano(HANDLE& leitura, HANDLE& escrita) {
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  if (CreatePipe(&leitura, &escrita, &sa, tamanho_cano) == 0) return false;
  SetHandleInformation(leitura, HANDLE_FLAG_INHERIT, 0);
  return true;
}

// Only these three handles reach the child: no port, log or pipe of
// another child.
bool cria(const wchar_t* programa, HANDLE entrada, HANDLE saida, HANDLE erro, PROCESS_INFORMATION& pi) {
  alignas(8) static unsigned char atributos[256];
  SIZE_T tamanho = sizeof atributos;
  auto lista = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(atributos);
  if (InitializeProcThreadAttributeList(lista, 1, 0, &tamanho) == 0) return false;
  HANDLE herdados[3] = {entrada, saida, erro};
  bool ok = UpdateProcThreadAttribute(lista, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, herdados, sizeof herdados,
                                      nullptr, nullptr) != 0;
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = entrada;
  si.StartupInfo.hStdOutput = saida;
  si.StartupInfo.hStdError = erro;
  si.lpAttributeList = lista;
  ok = ok && CreateProcessW(programa, linha, nullptr, nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr,
                            nullptr, &si.StartupInfo, &pi) != 0;
  DWORD codigo = GetLastError();
  DeleteProcThreadAttributeList(lista);
  SetLastError(codigo);
  return ok;
}

// This same program's file; another program is found as the command line's
// first word is (the program's folder, PATH, .exe added).
bool nome_do_programa(const char* programa, wchar_t* buf, DWORD tamanho, const wchar_t*& nome) {
  nome = nullptr;
  if (programa != nullptr) return true;
  DWORD n = GetModuleFileNameW(nullptr, buf, tamanho);
  nome = buf;
  return n > 0 && n < tamanho;
}

}  // namespace

int filho_inicia(const char* programa, const char* const* argv) {
  static wchar_t caminho[MAX_PATH * 4];
  if (quantos >= filhos_maximo) {
    errno = EMFILE;
    return -1;
  }
  const wchar_t* nome = nullptr;
  if (!nome_do_programa(programa, caminho, sizeof caminho / sizeof caminho[0], nome) || !monta_linha(argv)) {
    errno = E2BIG;
    return -1;
  }
  SECURITY_ATTRIBUTES sa{sizeof sa, nullptr, TRUE};
  HANDLE nulo =
      CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &sa, OPEN_EXISTING, 0, nullptr);
  HANDLE le[2] = {nullptr, nullptr};
  HANDLE escreve[2] = {nullptr, nullptr};
  PROCESS_INFORMATION pi{};
  bool ok = nulo != INVALID_HANDLE_VALUE && cano(le[0], escreve[0]) && cano(le[1], escreve[1]) &&
            cria(nome, nulo, escreve[0], escreve[1], pi);
  DWORD codigo = GetLastError();
  if (nulo != INVALID_HANDLE_VALUE) CloseHandle(nulo);
  fecha(escreve[0]);
  fecha(escreve[1]);
  if (!ok) {
    fecha(le[0]);
    fecha(le[1]);
    errno = win32::errno_de(codigo);
    return -1;
  }
  CloseHandle(pi.hThread);
  filhos[quantos] = Filho{pi.hProcess, {le[0], le[1]}, false, {false, false}};
  return quantos++;
}

namespace {

// The child's runtime wrote each line feed as CR LF (text mode); the parent's
// writes it so again. Each CR LF becomes the LF the child wrote, so that no
// line end reaches the console as CR CR LF; a CR at the end of a read waits
// for the next byte. Returns the count left in buf.
int desfaz_modo_texto(bool& cr, char* buf, int n) {
  int k = 0;
  for (int i = 0; i < n; ++i) {
    if (cr && buf[i] != '\n') buf[k++] = '\r';
    cr = buf[i] == '\r';
    if (!cr) buf[k++] = buf[i];
  }
  return k;
}

}  // namespace

int filho_le(int filho, int canal, char* buf, int n) {
  Filho& f = filhos[filho];
  HANDLE& h = f.cano[canal];
  if (h == nullptr) return -1;
  DWORD disponivel = 0;
  if (PeekNamedPipe(h, nullptr, 0, nullptr, &disponivel, nullptr) == 0) {
    fecha(h);  // ERROR_BROKEN_PIPE: the child and all it started closed it
    if (!f.cr[canal]) return -1;
    f.cr[canal] = false;  // a last CR of its own, given now; the end comes next time
    buf[0] = '\r';
    return 1;
  }
  if (disponivel == 0) return 0;
  // One byte of room for a CR held from the read before.
  DWORD lidos = 0;
  DWORD pedidos = disponivel < static_cast<DWORD>(n - 1) ? disponivel : static_cast<DWORD>(n - 1);
  char* destino = buf + (f.cr[canal] ? 1 : 0);
  if (f.cr[canal]) buf[0] = '\r';
  if (ReadFile(h, destino, pedidos, &lidos, nullptr) == 0) {
    fecha(h);
    return -1;
  }
  bool cr = false;
  int k = desfaz_modo_texto(cr, buf, static_cast<int>(lidos) + (f.cr[canal] ? 1 : 0));
  f.cr[canal] = cr;
  return k;
}

bool filhos_aguarda(int ms) {
  DWORD inicio = GetTickCount();
  for (;;) {
    HANDLE processos[filhos_maximo];
    int quais[filhos_maximo];
    DWORD n = 0;
    bool aberto = false;
    for (int i = 0; i < quantos; ++i) {
      for (HANDLE h : filhos[i].cano) {
        if (h == nullptr) continue;
        aberto = true;
        DWORD disponivel = 0;
        if (PeekNamedPipe(h, nullptr, 0, nullptr, &disponivel, nullptr) == 0 || disponivel > 0) return true;
      }
      if (filhos[i].processo != nullptr && !filhos[i].visto_fim) {
        quais[n] = i;
        processos[n++] = filhos[i].processo;
      }
    }
    if (!aberto) return false;
    DWORD passado = GetTickCount() - inicio;
    if (ms >= 0 && passado >= static_cast<DWORD>(ms)) return false;
    DWORD espera = intervalo_ms;
    if (ms >= 0 && static_cast<DWORD>(ms) - passado < espera) espera = static_cast<DWORD>(ms) - passado;
    if (n == 0) {
      Sleep(espera);
      continue;
    }
    DWORD r = WaitForMultipleObjects(n, processos, FALSE, espera);
    if (r < WAIT_OBJECT_0 + n) filhos[quais[r - WAIT_OBJECT_0]].visto_fim = true;
  }
}

int filho_espera(int filho) {
  Filho& f = filhos[filho];
  if (f.processo == nullptr) return -1;
  WaitForSingleObject(f.processo, INFINITE);
  DWORD codigo = 0;
  GetExitCodeProcess(f.processo, &codigo);
  fecha(f.processo);
  // An NTSTATUS is no exit status of the program's own: Ctrl-C counts as
  // a shell counts SIGINT, a crash as the highest.
  if (codigo == STATUS_CONTROL_C_EXIT) return 130;
  return codigo > 255 ? 255 : static_cast<int>(codigo);
}

void filhos_vigia(bool liga) {
  if (liga) notado = false;
  SetConsoleCtrlHandler(ao_controle, liga ? TRUE : FALSE);
  if (!liga && notado) termina_pela_interrupcao();
}

bool filhos_interrompido() { return notado; }

}  // namespace plat
