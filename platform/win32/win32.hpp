// What the Windows files of the platform layer share among themselves.
#pragma once

#include <windows.h>

#include <cstdio>

#include "platform/plataforma.hpp"

namespace plat::win32 {

inline HANDLE alca(Porta p) { return reinterpret_cast<HANDLE>(p); }

// A manual-reset event for one kind of overlapped operation, made once.
HANDLE evento(int qual);
inline constexpr int evento_leitura = 0;
inline constexpr int evento_escrita = 1;
inline constexpr int evento_da_linha = 2;
inline constexpr int eventos = 3;

// The event to put in an OVERLAPPED: as `e`, with no completion-port notice.
HANDLE sem_porta_de_conclusao(HANDLE e);

// An ntdll function when the program runs under wine (its ntdll exports
// wine_get_version), nullptr on Windows. For the few calls where wine's
// Win32 layer costs round trips to the wineserver that ntdll's does not.
FARPROC ntdll_do_wine(const char* nome);

// The fine timer period, if asked for, given back at once (at every exit).
void devolve_periodo();

// The open port's state, all of it in one place. The program holds one port
// at a time: porta_abre starts it afresh, porta_fecha forgets it.
struct EstadoDaPorta {
  Porta porta = porta_invalida;
  bool perdida = false;  // its line was found lost, for good
  // The write porta_escreve_agora handed to the driver that has not ended
  // yet (its bytes kept here, where the driver reads them until it ends).
  bool escrevendo = false;
  OVERLAPPED escrita{};
  unsigned char bytes[256]{};
  // The read time-out in force, once one has been set.
  bool com_tempo = false;
  DWORD tempo_leitura_ms = 0;
  // The WaitCommEvent on the line: under way or not, what it found, and how
  // many times in a row it has ended with no event.
  bool esperando = false;
  OVERLAPPED espera{};
  DWORD mascara = 0;
  int vazias = 0;
  std::int64_t olhada_desde_us = -1;  // since when it has been looked at instead of waited on
};
extern EstadoDaPorta porta_aberta;

// porta_aberta afresh for a port just opened.
void porta_comeca(Porta p);

// A port call on p failed with `erro`. The line counts as lost (for good,
// until the port is opened again) when the error is not our own cancellation
// and the probe of the port (ClearCommError) fails too. True when lost.
bool falhou(Porta p, DWORD erro, bool cancelada_por_nos = false);

// The line of p was found lost.
bool perdida(Porta p);

// The write porta_escreve_agora left pending: its event while it is under
// way, nullptr otherwise.
HANDLE escrita_em_curso(Porta p);

// True when p can take another write now: no write of ours is pending (one
// that has ended is seen to here, and a failure of it judged).
bool escrita_livre(Porta p);

// The wait for the line's events lets go of p (it is being closed).
void espera_esquece(Porta p);

// The console's keyboard: its input handle, or nullptr when the process
// has no console to read keys from.
HANDLE teclado();

// A test's own handle in place of the console's input (its calls scripted in
// the table of Win32 calls); the keyboard's state starts afresh.
void teclado_usa(HANDLE h);

// The console's input mode as console_inicia found it, given back.
void console_restaura();

// A Ctrl-C key (0x03) waits in the console's input queue, maybe behind
// other keys.
bool ctrl_c_na_fila();

// A Ctrl-C key was read: noted while an upload runs, otherwise the program
// ends as Ctrl-C ends it.
void ctrl_c_lido();

// Takes the console events that are not key presses (focus, mouse, window
// size, key releases, lone shift keys) off the front of the input queue;
// true when a key press is then waiting.
bool tecla_na_frente();

// The system's own text for a Win32 error (FormatMessage, in the system's
// language), as ISO 8859-1 like the program's own texts, without its final
// period and line end; "erro N do Windows" when the system has none.
const char* texto_do_erro(DWORD erro);

// A name as the program holds it, UTF-8 (or, where it is not valid UTF-8,
// the ANSI code page's bytes a command-line argument came in), as UTF-16 for
// the wide calls. False when it does not fit.
bool nome_largo(const char* nome, wchar_t* buf, int tamanho);

// CreateFileW on such a name; ERROR_FILENAME_EXCED_RANGE when it does not fit.
HANDLE abre_arquivo(const char* nome, DWORD acesso, DWORD partilha, DWORD criacao, DWORD atributos);

// UTF-16 as UTF-8, NUL-terminated; how many bytes, or -1 when it does not fit.
int em_utf8(const wchar_t* texto, int n, char* buf, int tamanho);

// UTF-8 as UTF-16 for the console, a CR before each LF (as the text stream
// would write it); how many wide characters, or -1 when it does not fit.
int para_console(const char* texto, int n, wchar_t* buf, int tamanho);

// A name typed or given in UTF-16 as the program holds it, NUL-terminated:
// in the ANSI code page when it holds every character (the bytes the name
// always came in, shown as they always were), otherwise as UTF-8. How many
// bytes, or -1 when it does not fit.
int nome_estreito(const wchar_t* texto, int n, char* buf, int tamanho);

// errno for a Win32 error of a file call (EIO for anything unforeseen).
int errno_de(DWORD erro);

// A handle opened on a path as a stdio stream (`modo_fd` for the runtime's
// descriptor, `modo` for fdopen), when it is a regular file; otherwise the
// handle is closed and nullptr returned, nao_comum set for anything but a
// folder (errno EISDIR).
std::FILE* arquivo_de_disco(HANDLE h, int modo_fd, const char* modo, bool& nao_comum);

}  // namespace plat::win32
