// The console keyboard on Windows: the runtime's _getch reads single keys
// without echo from the console's input queue, which the terminal also
// waits on. The console's own settings are never changed.
#include <conio.h>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

constexpr unsigned char fim_de_entrada = 0x1A;  // Ctrl-Z typed at the start of a line
bool segundo_codigo = false;  // _getch holds the second code of a function or arrow key
bool console_caiu = false;    // the console's input can no longer be read or waited on

bool modificadora(WORD tecla) {
  return tecla == VK_SHIFT || tecla == VK_CONTROL || tecla == VK_MENU || tecla == VK_CAPITAL ||
         tecla == VK_NUMLOCK || tecla == VK_SCROLL || tecla == VK_LWIN || tecla == VK_RWIN;
}

// A key _getch gives two codes for: F1-F12, the arrows, Home, End, Page
// Up/Down, Insert, Delete.
bool de_dois_codigos(const KEY_EVENT_RECORD& k) {
  WORD v = k.wVirtualKeyCode;
  return k.uChar.AsciiChar == 0 && ((v >= VK_F1 && v <= VK_F12) || (v >= VK_PRIOR && v <= VK_DOWN) ||
                                    v == VK_INSERT || v == VK_DELETE);
}

bool e_tecla(const INPUT_RECORD& r) {
  if (r.EventType != KEY_EVENT || !r.Event.KeyEvent.bKeyDown) return false;
  const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
  return (k.uChar.AsciiChar != 0 && !modificadora(k.wVirtualKeyCode)) || de_dois_codigos(k);
}

bool frente(INPUT_RECORD& r) {
  DWORD n = 0;
  if (PeekConsoleInputA(win32::teclado(), &r, 1, &n) == 0) {
    console_caiu = true;  // the console was closed or freed
    return false;
  }
  return n == 1;
}

// A line from a console, with its echo and editing on.
int le_linha_console(HANDLE h, char* buf, int tamanho) {
  DWORD modo = 0;
  GetConsoleMode(h, &modo);
  SetConsoleMode(h, modo | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  int n = 0;
  bool longa = false;
  bool fim = false;
  for (bool primeiro = true; !fim; primeiro = false) {
    char pedaco[128];
    DWORD lidos = 0;
    if (!ReadConsoleA(h, pedaco, sizeof pedaco, &lidos, nullptr) || lidos == 0 ||
        (primeiro && static_cast<unsigned char>(pedaco[0]) == fim_de_entrada)) {
      n = -1;
      break;
    }
    for (DWORD i = 0; i < lidos && !fim; ++i) {
      char c = pedaco[i];
      if (c == '\n') {
        fim = true;
      } else if (c == '\r') {
      } else if (n < tamanho - 1) {
        buf[n++] = c;
      } else {
        longa = true;  // the rest of the line is read and dropped
      }
    }
  }
  SetConsoleMode(h, modo);
  buf[n < 0 ? 0 : n] = '\0';
  return n >= 0 && longa ? tamanho : n;
}

// A line from redirected standard input, a byte at a time.
int le_linha_arquivo(HANDLE h, char* buf, int tamanho) {
  int n = 0;
  bool longa = false;
  bool leu = false;
  for (;;) {
    char c = 0;
    DWORD lido = 0;
    if (!ReadFile(h, &c, 1, &lido, nullptr) || lido == 0) break;
    leu = true;
    if (c == '\n') break;
    if (c == '\r') continue;
    if (n < tamanho - 1) {
      buf[n++] = c;
    } else {
      longa = true;
    }
  }
  buf[n] = '\0';
  if (!leu) return -1;
  return longa ? tamanho : n;
}

}  // namespace

namespace win32 {

HANDLE teclado() {
  static HANDLE h = [] {
    HANDLE r = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD modo = 0;
    if (r != INVALID_HANDLE_VALUE && GetConsoleMode(r, &modo)) return r;
    if (r != INVALID_HANDLE_VALUE) CloseHandle(r);
    return HANDLE{nullptr};
  }();
  return h;
}

// A console that has gone counts too, so that a wait on it ends and the
// caller finds it gone.
bool tecla_na_frente() {
  if (segundo_codigo || console_caiu) return true;
  if (teclado() == nullptr) return false;
  INPUT_RECORD r{};
  while (frente(r)) {
    if (e_tecla(r)) return true;
    DWORD n = 0;
    ReadConsoleInputA(teclado(), &r, 1, &n);  // not a key press: off the queue
  }
  return console_caiu;
}

}  // namespace win32

void console_inicia() {}
void console_termina() {}

bool tecla_pronta() { return win32::tecla_na_frente() && !console_caiu; }

int tecla_le() {
  if (console_caiu) return -1;
  if (segundo_codigo) {
    segundo_codigo = false;
    return _getch() & 0xFF;
  }
  HANDLE h = win32::teclado();
  if (h == nullptr) return -1;
  while (!win32::tecla_na_frente()) {
    if (console_caiu || WaitForSingleObject(h, INFINITE) == WAIT_FAILED) {
      console_caiu = true;
      return -1;
    }
  }
  INPUT_RECORD r{};
  segundo_codigo = frente(r) && de_dois_codigos(r.Event.KeyEvent);
  return _getch() & 0xFF;
}

bool console_perdido() { return console_caiu; }

int le_linha(char* buf, int tamanho) {
  HANDLE h = win32::teclado();
  if (h != nullptr) return le_linha_console(h, buf, tamanho);
  return le_linha_arquivo(GetStdHandle(STD_INPUT_HANDLE), buf, tamanho);
}

}  // namespace plat
