// Standard output and hex files on Windows.
#include <fcntl.h>
#include <io.h>

#include <cerrno>

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
    if (c == '\n') largo[usado++] = L'\r';  // as the text stream would: a line end starts at column 0
    largo[usado++] = static_cast<wchar_t>(c);  // ISO 8859-1 is the first 256 code points
  }
  WriteConsoleW(h, largo, static_cast<DWORD>(usado), &escritos, nullptr);
  return true;
}

bool saida_terminal() { return e_console(saida()); }

bool erro_terminal() { return e_console(GetStdHandle(STD_ERROR_HANDLE)); }

namespace win32 {

int errno_de(DWORD erro) {
  switch (erro) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION: return EACCES;
    case ERROR_TOO_MANY_OPEN_FILES: return EMFILE;
    case ERROR_DISK_FULL: return ENOSPC;
    default: return EIO;
  }
}

std::FILE* arquivo_de_disco(HANDLE h, int modo_fd, const char* modo, bool& nao_comum) {
  BY_HANDLE_FILE_INFORMATION info{};
  bool disco = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0;
  if (!disco || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    CloseHandle(h);
    nao_comum = !disco;
    errno = disco ? EISDIR : 0;
    return nullptr;
  }
  int fd = _open_osfhandle(reinterpret_cast<std::intptr_t>(h), modo_fd);
  if (fd < 0) {
    CloseHandle(h);
    return nullptr;
  }
  std::FILE* f = _fdopen(fd, modo);
  if (f == nullptr) _close(fd);
  return f;
}

}  // namespace win32

std::FILE* arquivo_abre(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  // FILE_FLAG_BACKUP_SEMANTICS lets a folder open, so it can be told apart.
  HANDLE h = CreateFileA(caminho, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = win32::errno_de(GetLastError());
    return nullptr;
  }
  return win32::arquivo_de_disco(h, _O_RDONLY | _O_BINARY, "rb", nao_comum);
}

}  // namespace plat
