// The Win32 console keyboard under a scripted input queue and console mode:
// what a Windows 10/11 console host delivers and wine does not (Alt+numpad
// characters on the Alt key's release, a held key as one record with a
// count, Ctrl-C as a key once processed input is off).
#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <deque>
#include <string>
#include <vector>

#include "platform/win32/chamadas_win32.hpp"
#include "platform/win32/win32.hpp"

namespace {

std::deque<INPUT_RECORD> fila;
DWORD modo = 0;
std::vector<DWORD> modos_postos;

BOOL WINAPI modo_console(HANDLE, LPDWORD m) {
  *m = modo;
  return TRUE;
}
BOOL WINAPI muda_modo_console(HANDLE, DWORD m) {
  modo = m;
  modos_postos.push_back(m);
  return TRUE;
}
BOOL WINAPI espia(HANDLE, PINPUT_RECORD r, DWORD n, LPDWORD lidos) {
  *lidos = 0;
  for (DWORD i = 0; i < n && i < fila.size(); ++i) r[(*lidos)++] = fila[i];
  return TRUE;
}
BOOL WINAPI le_entrada(HANDLE, PINPUT_RECORD r, DWORD, LPDWORD lidos) {
  *lidos = fila.empty() ? 0 : 1;
  if (!fila.empty()) {
    *r = fila.front();
    fila.pop_front();
  }
  return TRUE;
}

INPUT_RECORD tecla(bool desce, WORD virtual_, char c, WORD vezes = 1) {
  INPUT_RECORD r{};
  r.EventType = KEY_EVENT;
  r.Event.KeyEvent.bKeyDown = desce ? TRUE : FALSE;
  r.Event.KeyEvent.wVirtualKeyCode = virtual_;
  r.Event.KeyEvent.uChar.AsciiChar = c;
  r.Event.KeyEvent.wRepeatCount = vezes;
  return r;
}

class ConsoleWin32 : public ::testing::Test {
 protected:
  void SetUp() override {
    fila.clear();
    modos_postos.clear();
    auto& c = plat::win32::chamadas;
    c.modo_console = modo_console;
    c.muda_modo_console = muda_modo_console;
    c.espia_entrada = espia;
    c.le_entrada = le_entrada;
    sinal_ = CreateEventW(nullptr, TRUE, TRUE, nullptr);  // always "input waiting"
    plat::win32::teclado_usa(sinal_);
  }
  void TearDown() override {
    plat::win32::teclado_usa(nullptr);
    plat::win32::chamadas = guardadas_;
    CloseHandle(sinal_);
  }
  std::string teclas() {
    std::string s;
    while (plat::tecla_pronta()) s += static_cast<char>(plat::tecla_le());
    return s;
  }
  plat::win32::Chamadas guardadas_ = plat::win32::chamadas;
  HANDLE sinal_ = nullptr;
};

TEST_F(ConsoleWin32, KeysModeHasNoProcessingLineEchoOrQuickEditAndIsRestored) {
  const DWORD de_fabrica = ENABLE_PROCESSED_INPUT | ENABLE_LINE_INPUT | ENABLE_ECHO_INPUT |
                           ENABLE_MOUSE_INPUT | ENABLE_INSERT_MODE | ENABLE_QUICK_EDIT_MODE |
                           ENABLE_EXTENDED_FLAGS;
  modo = de_fabrica;
  plat::console_inicia();
  EXPECT_EQ(modo, ENABLE_MOUSE_INPUT | ENABLE_INSERT_MODE | ENABLE_EXTENDED_FLAGS);
  plat::console_termina();
  EXPECT_EQ(modo, de_fabrica);
}

struct Entrada {
  const char* nome;
  std::vector<INPUT_RECORD> registos;
  std::string teclas;
};

class TeclasWin32 : public ConsoleWin32, public ::testing::WithParamInterface<Entrada> {};

TEST_P(TeclasWin32, ReachTheLine) {
  for (const INPUT_RECORD& r : GetParam().registos) fila.push_back(r);
  EXPECT_EQ(teclas(), GetParam().teclas);
}

const Entrada entradas[] = {
    {"alt_numpad_on_release",
     {tecla(true, VK_MENU, 0), tecla(true, VK_NUMPAD1, 0), tecla(false, VK_NUMPAD1, 0),
      tecla(false, VK_MENU, '\x87')},
     "\x87"},
    {"held_key_repeats", {tecla(true, 'A', 'a', 3), tecla(true, 'B', 'b')}, "aaab"},
    {"release_of_a_key_is_no_key", {tecla(false, 'A', 'a'), tecla(true, 'C', 'c')}, "c"},
};
INSTANTIATE_TEST_SUITE_P(Win32, TeclasWin32, ::testing::ValuesIn(entradas),
                         [](const auto& i) { return std::string(i.param.nome); });

TEST_F(ConsoleWin32, CtrlCKeyDuringAnUploadIsNotedNotTyped) {
  plat::interrupcao_segura(true);
  fila.push_back(tecla(true, 'X', 'x'));
  fila.push_back(tecla(true, 'C', '\x03'));
  EXPECT_TRUE(plat::interrompido());  // behind another key, still seen
  EXPECT_EQ(teclas(), "x");
  fila.push_back(tecla(true, 'C', '\x03'));
  EXPECT_EXIT(plat::interrupcao_segura(false),
              ::testing::ExitedWithCode(static_cast<int>(STATUS_CONTROL_C_EXIT)), "");
}

// A name with characters the ANSI code page may lack (typed, or given on
// the command line) opens through the wide calls, as the program holds it.
TEST(NomesWin32, NameWithAccentsOpens) {
  const wchar_t* largos[] = {L"xag_ç.hex", L"xag_\u0142\u00e7.hex", L"xag_\u4e2d.hex"};
  for (const wchar_t* largo : largos) {
    HANDLE h = CreateFileW(largo, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    CloseHandle(h);
    char nome[64];
    ASSERT_GT(plat::win32::nome_estreito(largo, static_cast<int>(wcslen(largo)), nome, sizeof nome), 0);
    bool nao_comum = false;
    std::FILE* f = plat::arquivo_abre(nome, nao_comum);
    EXPECT_NE(f, nullptr) << nome;
    if (f != nullptr) std::fclose(f);
    DeleteFileW(largo);
  }
}

}  // namespace

// --list: makers' and products' names reach the console as UTF-16, whatever
// its code page, each line end with its CR.
TEST(SaidaWin32, SystemWordsInUtf8ReachTheConsoleAsUtf16) {
  wchar_t buf[16];
  EXPECT_EQ(plat::win32::para_console("A\xC3\xA7\xC3\xA3o\nx", 8, buf, 16), 7);
  EXPECT_EQ(std::wstring(buf, 7), L"A\u00e7\u00e3o\r\nx");
  EXPECT_EQ(plat::win32::para_console("ab\n", 3, buf, 3), -1);  // no room for the CR LF
  EXPECT_EQ(plat::win32::para_console("ab\n", 3, buf, 4), 4);
}
