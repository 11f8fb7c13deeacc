// Standard output during --batch, the --log file, and telling two names of
// one file apart, on Windows.
#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstring>

#include "platform/win32/win32.hpp"

namespace plat {

namespace {

// Names under \\.\ are devices and pipes: never a file on disk, and never
// opened here just to look at them.
bool dispositivo(const char* nome) { return std::strncmp(nome, "\\\\.\\", 4) == 0; }

bool identidade(const char* nome, BY_HANDLE_FILE_INFORMATION& info) {
  if (dispositivo(nome)) return false;
  HANDLE h = CreateFileA(nome, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = GetFileType(h) == FILE_TYPE_DISK && GetFileInformationByHandle(h, &info) != 0;
  CloseHandle(h);
  return ok;
}

}  // namespace

// A pipe's free room cannot be asked for on Windows, so a reader that stops
// reading can still hold a write up; one that has gone only fails it, and
// the upload goes on. The runtime's text stream keeps the CR LF line ends.
std::size_t saida_escreve_sem_esperar(const void* buf, std::size_t n) {
  return std::fwrite(buf, 1, n, stdout);
}

std::FILE* arquivo_acrescenta(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  if (dispositivo(caminho)) {
    nao_comum = true;
    errno = 0;
    return nullptr;
  }
  HANDLE h = CreateFileA(caminho, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                         OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    DWORD erro = GetLastError();
    DWORD atributos = GetFileAttributesA(caminho);
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
