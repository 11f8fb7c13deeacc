// The platform layer: serial port, console keyboard, and clock, as free
// functions. The logic includes only this header; the build links exactly one
// implementation (posix/, win32/, or the fake in tests/fake/).
#pragma once

#include <cstdint>

namespace plat {

// An open serial port. On POSIX a file descriptor, on Windows a HANDLE.
using Porta = std::intptr_t;
inline constexpr Porta porta_invalida = -1;  // INVALID_HANDLE_VALUE, all bits set

// --- serial port -----------------------------------------------------------

// Opens the named port for reading and writing, exclusively (no other program
// may hold it at the same time). Returns porta_invalida when it cannot.
Porta porta_abre(const char* nome);

// Raw 8N1 at `baud`, no software flow control, NUL bytes and line ends passed
// unchanged, DTR and RTS held off; hardware handshake left as the port has it.
// Reads return as porta_le says. False when the port refuses the settings.
bool porta_configura(Porta p, int baud);

// Reads up to n bytes. Returns as soon as n bytes have arrived, or after 1 ms
// with whatever arrived (possibly nothing). A failed read counts as nothing.
int porta_le(Porta p, unsigned char* buf, int n);

// Reads up to n bytes that are already waiting, without waiting at all.
int porta_le_disponivel(Porta p, unsigned char* buf, int n);

// Returns when every byte has been handed to the port, or the line has failed.
void porta_escreve(Porta p, const unsigned char* buf, int n);

// --- console ---------------------------------------------------------------

// Switches the keyboard to single keys without echo. The original settings
// come back on every way out: console_termina, exit(), and fatal signals.
void console_inicia();
void console_termina();

// Around the read of one typed line (fgets on stdin): the console's own
// settings, with echo and line editing, then back to single keys.
void console_linha();
void console_teclas();

// Like _kbhit: is a key waiting? Never true once the keyboard input has ended.
bool tecla_pronta();

// Like _getch: waits for one key and returns its code (0..255); -1 once the
// keyboard input has ended.
int tecla_le();

// --- waiting ---------------------------------------------------------------

// Blocks until the port has a byte or a key is waiting. An idle terminal
// stays here without waking; a line that has hung up is looked at again at
// most every 100 ms instead.
void espera_entrada(Porta p);

// Sleeps ms milliseconds, as exactly as the platform allows.
void dorme_ms(int ms);

// RAII: the console in single-key mode for the guard's lifetime.
struct ConsoleTeclas {
  ConsoleTeclas() { console_inicia(); }
  ~ConsoleTeclas() { console_termina(); }
  ConsoleTeclas(const ConsoleTeclas&) = delete;
  ConsoleTeclas& operator=(const ConsoleTeclas&) = delete;
};

}  // namespace plat
