// Standard output on Windows: the console as UTF-16, and the writes of
// --batch.
#include <cstdio>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

HANDLE saida() { return GetStdHandle(STD_OUTPUT_HANDLE); }

bool e_console(HANDLE h) {
  DWORD modo = 0;
  return h != nullptr && h != INVALID_HANDLE_VALUE && GetConsoleMode(h, &modo) != 0;
}

}  // namespace

// The console shows any character whatever its code page: the text goes to
// it as UTF-16, so the program's texts never need converting to UTF-8.
bool saida_utf8() { return false; }

bool saida_console(const char* texto, std::size_t n) {
  HANDLE h = saida();
  if (!e_console(h)) return false;
  wchar_t largo[256];
  std::size_t usado = 0;
  DWORD escritos = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (usado + 2 > sizeof largo / sizeof largo[0]) {
      WriteConsoleW(h, largo, static_cast<DWORD>(usado), &escritos, nullptr);
      usado = 0;
    }
    auto c = static_cast<unsigned char>(texto[i]);
    if (c == '\n') largo[usado++] = L'\r';     // as the text stream would: a line end starts at column 0
    largo[usado++] = static_cast<wchar_t>(c);  // ISO 8859-1 is the first 256 code points
  }
  WriteConsoleW(h, largo, static_cast<DWORD>(usado), &escritos, nullptr);
  return true;
}

bool saida_console_utf8(const char* texto, std::size_t n) {
  HANDLE h = saida();
  if (!e_console(h)) return false;
  static wchar_t largo[32768];
  int m = win32::para_console(texto, static_cast<int>(n), largo, sizeof largo / sizeof largo[0]);
  if (m < 0) return false;
  DWORD escritos = 0;
  WriteConsoleW(h, largo, static_cast<DWORD>(m), &escritos, nullptr);
  return true;
}

namespace win32 {

int para_console(const char* texto, int n, wchar_t* buf, int tamanho) {
  int usado = 0;
  for (int inicio = 0; inicio < n;) {
    int fim = inicio;
    while (fim < n && texto[fim] != '\n') ++fim;
    if (fim > inicio) {
      int m = MultiByteToWideChar(CP_UTF8, 0, texto + inicio, fim - inicio, buf + usado, tamanho - usado);
      if (m <= 0) return -1;
      usado += m;
    }
    if (fim == n) break;
    if (usado + 2 > tamanho) return -1;
    buf[usado++] = L'\r';
    buf[usado++] = L'\n';
    inicio = fim + 1;
  }
  return usado;
}

}  // namespace win32

bool saida_terminal() { return e_console(saida()); }

bool erro_terminal() { return e_console(GetStdHandle(STD_ERROR_HANDLE)); }

// A pipe's free room cannot be asked for on Windows, so a reader that stops
// reading can still hold a write up; one that has gone only fails it, and
// the upload goes on. The runtime's text stream keeps the CR LF line ends.
std::size_t saida_escreve_sem_esperar(const void* buf, std::size_t n) {
  return std::fwrite(buf, 1, n, stdout);
}

}  // namespace plat
