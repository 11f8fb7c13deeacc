// The serial ports Windows knows of: the COM names under
// HKLM\HARDWARE\DEVICEMAP\SERIALCOMM, and those of the devices SetupAPI
// finds present with a PortName; what SetupAPI knows of each (its friendly
// name, USB vendor:product, maker) beside it, as the system gives it.
#include <windows.h>  // before setupapi.h, which needs it

#include <setupapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/ordem_natural.hpp"
#include "platform/win32/win32.hpp"

namespace plat {

namespace {

constexpr int maximo_de_portas = 64;
constexpr std::size_t tamanho_nome = 16;
constexpr std::size_t tamanho_descricao = 512;

struct PortaAchada {
  char nome[tamanho_nome];
  char descricao[tamanho_descricao];  // "  friendly  vid:pid  maker", or empty
};

PortaAchada achadas[maximo_de_portas];

// The entry for COM name `nome`: found or added; nullptr when full.
PortaAchada* entrada(const char* nome, int& quantas) {
  if (std::strlen(nome) >= tamanho_nome) return nullptr;
  for (int i = 0; i < quantas; ++i) {
    if (_stricmp(achadas[i].nome, nome) == 0) return &achadas[i];
  }
  if (quantas == maximo_de_portas) return nullptr;
  PortaAchada* p = &achadas[quantas++];
  std::memcpy(p->nome, nome, std::strlen(nome) + 1);
  p->descricao[0] = '\0';
  return p;
}

// Appends "  texto" when texto is not empty (as much as fits).
void acrescenta(char* linha, const char* texto) {
  if (texto[0] == '\0') return;
  std::size_t n = std::strlen(linha);
  std::snprintf(linha + n, tamanho_descricao - n, "  %s", texto);
}

void do_registo(int& quantas) {
  HKEY chave = nullptr;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &chave) !=
      ERROR_SUCCESS) {
    return;
  }
  for (DWORD i = 0;; ++i) {
    char dispositivo[256];
    char com[64];
    DWORD tam_dispositivo = sizeof dispositivo;
    DWORD tam_com = sizeof com - 1;
    DWORD tipo = 0;
    LONG r = RegEnumValueA(chave, i, dispositivo, &tam_dispositivo, nullptr, &tipo,
                           reinterpret_cast<BYTE*>(com), &tam_com);
    if (r == ERROR_NO_MORE_ITEMS) break;
    if (r != ERROR_SUCCESS || tipo != REG_SZ) continue;
    com[tam_com] = '\0';
    entrada(com, quantas);
  }
  RegCloseKey(chave);
}

// One text property of the device as UTF-8 (a maker's name may hold any
// character), or empty.
void propriedade(HDEVINFO lista, SP_DEVINFO_DATA& d, DWORD qual, char* buf, DWORD tamanho) {
  wchar_t largo[256] = {};
  DWORD tipo = 0;
  buf[0] = '\0';
  if (SetupDiGetDeviceRegistryPropertyW(lista, &d, qual, &tipo, reinterpret_cast<BYTE*>(largo),
                                        sizeof largo - sizeof largo[0], nullptr) &&
      win32::em_utf8(largo, static_cast<int>(std::wcslen(largo)), buf, static_cast<int>(tamanho)) < 0) {
    buf[0] = '\0';
  }
}

// "0403:6001" from a hardware id such as USB\VID_0403&PID_6001&REV_0600 (or
// FTDIBUS\VID_0403+PID_6001+...); empty when it names none.
void vid_pid(const char* id, char* buf, std::size_t tamanho) {
  buf[0] = '\0';
  const char* v = std::strstr(id, "VID_");
  const char* p = std::strstr(id, "PID_");
  if (v == nullptr || p == nullptr) return;
  std::snprintf(buf, tamanho, "%.4s:%.4s", v + 4, p + 4);
  for (char* c = buf; *c != '\0'; ++c) {
    if (*c >= 'A' && *c <= 'F') *c = static_cast<char>(*c - 'A' + 'a');
  }
}

// The COM name of a device (its PortName value), or false.
bool nome_da_porta(HDEVINFO lista, SP_DEVINFO_DATA& d, char* buf, DWORD tamanho) {
  HKEY chave = SetupDiOpenDevRegKey(lista, &d, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
  if (chave == INVALID_HANDLE_VALUE) return false;
  DWORD tipo = 0;
  DWORD n = tamanho - 1;
  LONG r = RegQueryValueExA(chave, "PortName", nullptr, &tipo, reinterpret_cast<BYTE*>(buf), &n);
  RegCloseKey(chave);
  if (r != ERROR_SUCCESS || tipo != REG_SZ) return false;
  buf[n < tamanho ? n : tamanho - 1] = '\0';
  return _strnicmp(buf, "COM", 3) == 0;
}

void do_setupapi(int& quantas) {
  HDEVINFO lista = SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES | DIGCF_PRESENT);
  if (lista == INVALID_HANDLE_VALUE) return;
  SP_DEVINFO_DATA d{};
  d.cbSize = sizeof d;
  for (DWORD i = 0; SetupDiEnumDeviceInfo(lista, i, &d); ++i) {
    char com[tamanho_nome];
    if (!nome_da_porta(lista, d, com, sizeof com)) continue;
    PortaAchada* p = entrada(com, quantas);
    if (p == nullptr) continue;
    char texto[256];
    char usb[16];
    p->descricao[0] = '\0';
    propriedade(lista, d, SPDRP_FRIENDLYNAME, texto, sizeof texto);
    if (texto[0] == '\0') propriedade(lista, d, SPDRP_DEVICEDESC, texto, sizeof texto);
    acrescenta(p->descricao, texto);
    propriedade(lista, d, SPDRP_HARDWAREID, texto, sizeof texto);  // the first of the list
    vid_pid(texto, usb, sizeof usb);
    acrescenta(p->descricao, usb);
    propriedade(lista, d, SPDRP_MFG, texto, sizeof texto);
    acrescenta(p->descricao, texto);
  }
  SetupDiDestroyDeviceInfoList(lista);
}

int compara(const void* a, const void* b) {
  return compara_nomes_de_porta(static_cast<const PortaAchada*>(a)->nome,
                                static_cast<const PortaAchada*>(b)->nome, true);
}

}  // namespace

int portas_presentes(char* buf, std::size_t tamanho) {
  if (tamanho == 0) return 0;
  buf[0] = '\0';
  int quantas = 0;
  do_registo(quantas);
  do_setupapi(quantas);
  std::qsort(achadas, static_cast<std::size_t>(quantas), sizeof achadas[0], compara);
  std::size_t usado = 0;
  for (int i = 0; i < quantas; ++i) {
    int n = std::snprintf(buf + usado, tamanho - usado, "%s%s\n", achadas[i].nome, achadas[i].descricao);
    if (n < 0 || static_cast<std::size_t>(n) >= tamanho - usado) {
      buf[usado] = '\0';
      break;
    }
    usado += static_cast<std::size_t>(n);
  }
  return quantas;
}

}  // namespace plat
