// The console keyboard on Windows. While the terminal runs the console's
// input mode has no processed input, line input, echo or QuickEdit: the
// console host would otherwise take Ctrl-F (its Find dialog), Ctrl-A, Ctrl-M
// and Ctrl-V for itself, and a mouse click would start a selection that
// holds up every console write. The saved mode comes back on every way out.
// Ctrl-C is then a key (0x03), which ends the program as the signal did.
// Keys are read from the console's input queue, which the terminal also
// waits on; the runtime's _getch gives the two codes of the function and
// arrow keys.
#include <conio.h>

#include <cstdlib>

#include "platform/win32/chamadas_win32.hpp"
#include "platform/win32/win32.hpp"

namespace plat {

namespace {

using win32::chamadas;

constexpr unsigned char fim_de_entrada = 0x1A;  // Ctrl-Z typed at the start of a line
constexpr unsigned char ctrl_c = 0x03;
constexpr DWORD fora_do_modo_teclas =
    ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_QUICK_EDIT_MODE;
constexpr int olhados_por_ctrl_c = 64;  // records looked at for a Ctrl-C behind other keys

bool segundo_codigo = false;  // _getch holds the second code of a function or arrow key
bool console_caiu = false;    // the console's input can no longer be read or waited on
int repeticoes = 0;           // a key held down came as one record with a count: still to give
unsigned char repetida = 0;

// The console's input handle once looked for; a test may put its own.
bool teclado_visto = false;
HANDLE entrada = nullptr;

// The input mode found at console_inicia, given back at every way out.
DWORD modo_salvo = 0;
volatile LONG modo_guardado = 0;

bool modificadora(WORD tecla) {
  return tecla == VK_SHIFT || tecla == VK_CONTROL || tecla == VK_MENU || tecla == VK_CAPITAL ||
         tecla == VK_NUMLOCK || tecla == VK_SCROLL || tecla == VK_LWIN || tecla == VK_RWIN;
}

// A key _getch gives two codes for: F1-F12, the arrows, Home, End, Page
// Up/Down, Insert, Delete.
bool de_dois_codigos(const KEY_EVENT_RECORD& k) {
  WORD v = k.wVirtualKeyCode;
  return k.uChar.AsciiChar == 0 &&
         ((v >= VK_F1 && v <= VK_F12) || (v >= VK_PRIOR && v <= VK_DOWN) || v == VK_INSERT || v == VK_DELETE);
}

// A character: a key pressed, or the character of an Alt+numpad code,
// which comes on the Alt key's release.
bool de_caractere(const KEY_EVENT_RECORD& k) {
  if (k.uChar.AsciiChar == 0) return false;
  return k.bKeyDown ? !modificadora(k.wVirtualKeyCode) : k.wVirtualKeyCode == VK_MENU;
}

bool e_tecla(const INPUT_RECORD& r) {
  if (r.EventType != KEY_EVENT) return false;
  const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
  return de_caractere(k) || (k.bKeyDown && de_dois_codigos(k));
}

bool e_ctrl_c(const INPUT_RECORD& r) {
  return e_tecla(r) && r.Event.KeyEvent.bKeyDown &&
         static_cast<unsigned char>(r.Event.KeyEvent.uChar.AsciiChar) == ctrl_c;
}

bool frente(INPUT_RECORD& r) {
  DWORD n = 0;
  if (chamadas.espia_entrada(win32::teclado(), &r, 1, &n) == 0) {
    console_caiu = true;  // the console was closed or freed
    return false;
  }
  return n == 1;
}

// Takes the record at the front of the input queue off it.
void tira_da_frente() {
  INPUT_RECORD r{};
  DWORD n = 0;
  chamadas.le_entrada(win32::teclado(), &r, 1, &n);
}

void aplica_modo_teclas() {
  if (modo_guardado != 0) {
    chamadas.muda_modo_console(win32::teclado(), (modo_salvo & ~fora_do_modo_teclas) | ENABLE_EXTENDED_FLAGS);
  }
}

// A line from a console, with its echo and editing on, read as UTF-16 (a
// name typed with accents reaches the wide calls whatever the code pages).
int le_linha_console(HANDLE h, char* buf, int tamanho) {
  DWORD modo = 0;
  chamadas.modo_console(h, &modo);
  chamadas.muda_modo_console(h, modo | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT | ENABLE_PROCESSED_INPUT);
  wchar_t linha[1024];
  const int cabe = tamanho - 1 < 1024 ? tamanho - 1 : 1024;
  int n = 0;
  bool longa = false;
  bool fim = false;
  for (bool primeiro = true; !fim; primeiro = false) {
    wchar_t pedaco[128];
    DWORD lidos = 0;
    if (!ReadConsoleW(h, pedaco, sizeof pedaco / sizeof pedaco[0], &lidos, nullptr) || lidos == 0 ||
        (primeiro && pedaco[0] == fim_de_entrada)) {
      n = -1;
      break;
    }
    for (DWORD i = 0; i < lidos && !fim; ++i) {
      wchar_t c = pedaco[i];
      if (c == L'\n') {
        fim = true;
      } else if (c == L'\r') {
      } else if (n < cabe) {
        linha[n++] = c;
      } else {
        longa = true;  // the rest of the line is read and dropped
      }
    }
  }
  chamadas.muda_modo_console(h, modo);
  if (n < 0) {
    buf[0] = '\0';
    return -1;
  }
  // Cut short until it fits, whole characters in the program's bytes.
  int bytes = win32::nome_estreito(linha, n, buf, tamanho);
  for (; bytes < 0 && n > 0; bytes = win32::nome_estreito(linha, n, buf, tamanho)) {
    longa = true;
    --n;
  }
  if (bytes < 0) buf[0] = '\0';
  return longa ? tamanho : bytes < 0 ? 0 : bytes;
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
  if (!teclado_visto) {
    teclado_visto = true;
    HANDLE r = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, 0, nullptr);
    DWORD modo = 0;
    if (r != INVALID_HANDLE_VALUE && chamadas.modo_console(r, &modo)) {
      entrada = r;
    } else if (r != INVALID_HANDLE_VALUE) {
      CloseHandle(r);
    }
  }
  return entrada;
}

void teclado_usa(HANDLE h) {
  teclado_visto = true;
  entrada = h;
  console_caiu = false;
  segundo_codigo = false;
  repeticoes = 0;
  modo_guardado = 0;
}

void console_restaura() {
  if (modo_guardado != 0) chamadas.muda_modo_console(teclado(), modo_salvo | ENABLE_EXTENDED_FLAGS);
}

bool ctrl_c_na_fila() {
  if (teclado() == nullptr || console_caiu) return false;
  INPUT_RECORD r[olhados_por_ctrl_c];
  DWORD n = 0;
  if (chamadas.espia_entrada(teclado(), r, olhados_por_ctrl_c, &n) == 0) return false;
  for (DWORD i = 0; i < n; ++i) {
    if (e_ctrl_c(r[i])) return true;
  }
  return false;
}

// A console that has gone counts too, so that a wait on it ends and the
// caller finds it gone. A Ctrl-C at the front is taken as the interruption.
bool tecla_na_frente() {
  if (segundo_codigo || repeticoes > 0 || console_caiu) return true;
  if (teclado() == nullptr) return false;
  INPUT_RECORD r{};
  while (frente(r)) {
    if (e_ctrl_c(r)) {
      tira_da_frente();
      ctrl_c_lido();
      continue;
    }
    if (e_tecla(r)) return true;
    tira_da_frente();  // not a key: off the queue
  }
  return console_caiu;
}

}  // namespace win32

void console_inicia() {
  HANDLE h = win32::teclado();
  if (h == nullptr) return;
  if (modo_guardado == 0 && chamadas.modo_console(h, &modo_salvo)) {
    modo_guardado = 1;
    static bool registado = false;
    if (!registado) std::atexit(win32::console_restaura);
    registado = true;
  }
  aplica_modo_teclas();
}

void console_termina() { win32::console_restaura(); }

bool tecla_pronta() { return win32::tecla_na_frente() && !console_caiu; }

int tecla_le() {
  if (console_caiu) return -1;
  if (segundo_codigo) {
    segundo_codigo = false;
    return _getch() & 0xFF;
  }
  if (repeticoes > 0) {
    --repeticoes;
    return repetida;
  }
  HANDLE h = win32::teclado();
  if (h == nullptr) return -1;
  while (!win32::tecla_na_frente()) {
    if (console_caiu || WaitForSingleObject(h, INFINITE) == WAIT_FAILED) {
      console_caiu = true;
      return -1;
    }
  }
  if (segundo_codigo || repeticoes > 0) return tecla_le();
  INPUT_RECORD r{};
  if (!frente(r)) return -1;
  const KEY_EVENT_RECORD& k = r.Event.KeyEvent;
  if (k.bKeyDown && de_dois_codigos(k)) {
    segundo_codigo = true;
    return _getch() & 0xFF;
  }
  tira_da_frente();
  repetida = static_cast<unsigned char>(k.uChar.AsciiChar);
  repeticoes = k.bKeyDown && k.wRepeatCount > 1 ? k.wRepeatCount - 1 : 0;  // a key held down
  return repetida;
}

bool console_perdido() { return console_caiu; }

int le_linha(char* buf, int tamanho) {
  HANDLE h = win32::teclado();
  if (h != nullptr) return le_linha_console(h, buf, tamanho);
  return le_linha_arquivo(GetStdHandle(STD_INPUT_HANDLE), buf, tamanho);
}

}  // namespace plat
