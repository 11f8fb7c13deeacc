// Files on Windows: a hex file to read, the --log file, and telling two
// names of one file apart.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

bool identidade(const char* nome, BY_HANDLE_FILE_INFORMATION& info) {
  // Names under \\.\ are devices and pipes: never a file on disk, and never
  // opened here just to look at them.
  if (sob_prefixo_dispositivo(nome)) return false;
  HANDLE h = win32::abre_arquivo(nome, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace

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

bool nome_largo(const char* nome, wchar_t* buf, int tamanho) {
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, nome, -1, buf, tamanho);
  if (n == 0 && GetLastError() == ERROR_NO_UNICODE_TRANSLATION)
    n = MultiByteToWideChar(CP_ACP, 0, nome, -1, buf, tamanho);
  return n > 0;
}

HANDLE abre_arquivo(const char* nome, DWORD acesso, DWORD partilha, DWORD criacao, DWORD atributos) {
  wchar_t largo[4096];
  if (!nome_largo(nome, largo, sizeof largo / sizeof largo[0])) {
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return INVALID_HANDLE_VALUE;
  }
  return CreateFileW(largo, acesso, partilha, nullptr, criacao, atributos, nullptr);
}

int em_utf8(const wchar_t* texto, int n, char* buf, int tamanho) {
  int r = n == 0 ? 0 : WideCharToMultiByte(CP_UTF8, 0, texto, n, buf, tamanho - 1, nullptr, nullptr);
  if (r == 0 && n != 0) return -1;
  buf[r] = '\0';
  return r;
}

int nome_estreito(const wchar_t* texto, int n, char* buf, int tamanho) {
  BOOL perdeu = FALSE;
  int r = n == 0 ? 0
                 : WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, texto, n, buf, tamanho - 1, nullptr,
                                       &perdeu);
  if (perdeu) return em_utf8(texto, n, buf, tamanho);
  if (r == 0 && n != 0) return -1;
  buf[r] = '\0';
  return r;
}

const char* texto_do_erro(DWORD erro) {
  static char texto[256];
  wchar_t largo[256];
  DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, erro, 0,
                           largo, sizeof largo / sizeof largo[0], nullptr);
  while (n > 0 &&
         (largo[n - 1] == L'\r' || largo[n - 1] == L'\n' || largo[n - 1] == L' ' || largo[n - 1] == L'.'))
    --n;
  if (n == 0) {
    std::snprintf(texto, sizeof texto, "erro %lu do Windows", static_cast<unsigned long>(erro));
    return texto;
  }
  for (DWORD i = 0; i < n && i < sizeof texto - 1; ++i) {
    texto[i] = largo[i] < 0x100 ? static_cast<char>(largo[i]) : '?';  // ISO 8859-1: the first 256 code points
  }
  texto[n < sizeof texto - 1 ? n : sizeof texto - 1] = '\0';
  return texto;
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
  HANDLE h = win32::abre_arquivo(caminho, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS);
  if (h == INVALID_HANDLE_VALUE) {
    errno = win32::errno_de(GetLastError());
    return nullptr;
  }
  return win32::arquivo_de_disco(h, _O_RDONLY | _O_BINARY, "rb", nao_comum);
}

std::FILE* arquivo_acrescenta(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  if (sob_prefixo_dispositivo(caminho)) {
    nao_comum = true;
    errno = 0;
    return nullptr;
  }
  HANDLE h = win32::abre_arquivo(caminho, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD erro = GetLastError();
    wchar_t largo[4096];
    DWORD atributos = win32::nome_largo(caminho, largo, sizeof largo / sizeof largo[0])
                          ? GetFileAttributesW(largo)
                          : INVALID_FILE_ATTRIBUTES;
    bool pasta = atributos != INVALID_FILE_ATTRIBUTES && (atributos & FILE_ATTRIBUTE_DIRECTORY) != 0;
    errno = pasta ? EISDIR : win32::errno_de(erro);
    return nullptr;
  }
  return win32::arquivo_de_disco(h, _O_WRONLY | _O_APPEND | _O_BINARY, "ab", nao_comum);
}

bool mesmo_arquivo(const char* a, const char* b) {
  BY_HANDLE_FILE_INFORMATION ia{};
  BY_HANDLE_FILE_INFORMATION ib{};
  return identidade(a, ia) && identidade(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
         ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace plat
