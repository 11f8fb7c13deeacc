// What the Windows files of the platform layer share among themselves.
#pragma once

#include <windows.h>

#include "platform/plataforma.hpp"

namespace plat::win32 {

inline HANDLE alca(Porta p) { return reinterpret_cast<HANDLE>(p); }

// Waits for an overlapped operation on h for up to limite_ms; one that has
// not finished by then is cancelled. True when it ended well; `n` is how
// many bytes it moved either way.
bool conclui(HANDLE h, OVERLAPPED& o, DWORD limite_ms, DWORD& n);

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

// The error of a device that has gone (unplugged adapter, closed line).
bool linha_perdida(DWORD erro);

// The console's keyboard: its input handle, or nullptr when the process
// has no console to read keys from.
HANDLE teclado();

// Takes the console events that are not key presses (focus, mouse, window
// size, key releases, lone shift keys) off the front of the input queue;
// true when a key press is then waiting.
bool tecla_na_frente();

}  // namespace plat::win32
