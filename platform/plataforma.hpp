// The platform layer: serial port, console keyboard, standard streams and
// clock, as free functions. The logic includes only this header; the build
// links exactly one implementation (linux/, win32/, or the fake in
// tests/fake/). Each section below is one file of the same name on both
// sides (linux/porta.cpp beside win32/porta.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace plat {

// An open serial port. On POSIX a file descriptor, on Windows a HANDLE.
using Porta = std::intptr_t;
inline constexpr Porta porta_invalida = -1;  // INVALID_HANDLE_VALUE, all bits set

// --- the process (processo.cpp) -----------------------------------------

// First thing at start-up: standard descriptors 0-2 that are closed are
// opened on the null device (so the port can never take one of them), and
// a broken pipe on standard output becomes a failed write instead of a
// signal.
void processo_inicia();

// --- interruption (interrupcao.cpp) ---------------------------------------

// Ctrl-C and SIGTERM (Windows: Ctrl-C, Ctrl-Break) while an upload runs:
// between interrupcao_segura(true) and (false) they no longer end the
// program at once but are noted, so the upload can say where it stopped.
// Switching it off with one noted ends the program as that signal does.
void interrupcao_segura(bool liga);

// True once such a signal has been noted since interrupcao_segura(true).
bool interrompido();

// Ends the program as the noted signal (Ctrl-C when none) would have ended
// it without interrupcao_segura: console restored, then death by that signal
// (Windows: exit status STATUS_CONTROL_C_EXIT).
[[noreturn]] void termina_pela_interrupcao();

// --- serial port (porta.cpp) ---------------------------------------------

// Opens the named port for reading and writing, exclusively (no other program
// may hold it at the same time). Returns porta_invalida when it cannot.
Porta porta_abre(const char* nome);

// Raw 8N1 at `baud`, no flow control of any kind (software, CTS or DSR) and no
// parity check, NUL bytes and line ends passed unchanged, DTR and RTS held off.
// Reads return as porta_le says. False when the port refuses the settings.
bool porta_configura(Porta p, int baud);

// Why the last porta_abre or porta_configura failed, as an errno value
// (ENOENT: no such device; EACCES: no permission; EBUSY: another program
// holds it; EINVAL: settings refused). What is shown is strerror of it.
int porta_erro();

// The text to show for that failure: strerror of porta_erro(), or on Windows
// the system's own text (FormatMessage) where errno would lose the cause (an
// error errno has no name for, a refusal of the port's settings).
const char* porta_erro_texto();

// After EACCES: the group that owns the device and may read and write it
// (not root's), or nullptr.
const char* porta_grupo(const char* nome);

// Closes the port and releases its lock, so it can be opened again.
void porta_fecha(Porta p);

// Reads up to n bytes. Returns as soon as n bytes have arrived, or after 1 ms
// with whatever arrived (possibly nothing). A failed read counts as nothing.
int porta_le(Porta p, unsigned char* buf, int n);

// Reads up to n bytes that are already waiting, without waiting at all.
int porta_le_disponivel(Porta p, unsigned char* buf, int n);

// Hands the bytes to the port. Waits while the line takes them, but gives up
// once it has taken nothing for about 2 s, or when the line has failed.
// Returns how many bytes went.
int porta_escreve(Porta p, const unsigned char* buf, int n);

// Hands over what the port takes at once, without waiting. Returns how many
// bytes went (0 when it is full), or -1 when the line has failed.
int porta_escreve_agora(Porta p, const unsigned char* buf, int n);

// The port's modem lines that a board's reset circuit may hang on.
inline constexpr int linha_dtr = 1;
inline constexpr int linha_rts = 2;

// Raises (liga) or drops one modem line of the port, which stays so until
// it is driven again. Returns 0, or an errno value when the port cannot
// (a pseudo-terminal has no modem lines: ENOTTY or EINVAL).
int porta_linha_modem(Porta p, int linha, bool liga);

// Network ports (rfc2217://HOST:PORT, tcp://HOST:PORT; rede.cpp beside
// porta.cpp): what a local port does not have.

// The link's current round-trip time in microseconds (measured at connect,
// then the socket's own estimate) for a network port; 0 for a local one.
// Every echo, answer and quiet-time budget grows by it.
std::int64_t porta_ida_e_volta_us(Porta p);

// Why the last porta_abre or porta_configura of a network port failed, in
// words of its own (a refused connection, a name not found, what the server
// said before it closed); nullptr for any other name, or when there is none.
const char* porta_razao(const char* nome);

// The rate a serial-port server said it set (0: not known, or a local port).
int porta_taxa_do_servidor(Porta p);

// --- port names (nome_porta.cpp) -------------------------------------------

// The Windows device prefix, \\.\, before a device name (\\.\COM12).
inline constexpr char prefixo_dispositivo[] = "\\\\.\\";
inline bool sob_prefixo_dispositivo(const char* nome) {
  return nome[0] == '\\' && nome[1] == '\\' && nome[2] == '.' && nome[3] == '\\';
}

// The device path a port name opens (POSIX: COM3 is /dev/ttyS2, ttyUSB0 is
// /dev/ttyUSB0; Windows: COM3 is \\.\COM3), written into buf. False when the
// name designates no device.
bool porta_caminho(const char* nome, char* buf, std::size_t tamanho);

// True when an argument names a device to take as the port, beyond COMn:
// POSIX: a character device (through symbolic links too), or the bare name
// of one in /dev (ttyUSB0); Windows: a name under the device prefix \\.\.
bool porta_nomeia_dispositivo(const char* nome);

// True when the port name leads to the console the program runs in
// (POSIX: the controlling terminal by any of its names, /dev/tty, or the
// terminal of standard input, output or error; Windows: CON, CONIN$,
// CONOUT$). Taking it as the line would eat the keys and leave it raw.
bool porta_e_console(const char* nome);

// --- port list (portas.cpp) ------------------------------------------------

// The serial ports present, one line each ("path  what is known of it\n"),
// written into buf (always NUL-terminated). Returns how many were found.
int portas_presentes(char* buf, std::size_t tamanho);

// --- console (console.cpp) ------------------------------------------------

// Switches the keyboard to single keys without echo. The original settings
// come back on every way out: console_termina, exit(), and fatal signals.
void console_inicia();
void console_termina();

// Like _kbhit: is a key waiting? Never true once the keyboard input has ended.
bool tecla_pronta();

// Like _getch: waits for one key and returns its code (0..255); -1 once the
// keyboard input has ended.
int tecla_le();

// Reads one typed line with the console's own echo and line editing (single
// keys again afterwards), through the same unbuffered path as the keys, so
// nothing typed after it is taken. Stores at most tamanho - 1 characters and
// a NUL, without the line end. Returns the length; tamanho when the line was
// longer (its rest is read and dropped); -1 at the end of input with nothing
// read.
int le_linha(char* buf, int tamanho);

// True once the console has gone away: its terminal hung up or was closed
// (a read failed with EIO, or met the end of input on a terminal). Input
// that is not a terminal and simply ends never counts.
bool console_perdido();

// RAII: the console in single-key mode for the guard's lifetime.
struct ConsoleTeclas {
  ConsoleTeclas() { console_inicia(); }
  ~ConsoleTeclas() { console_termina(); }
  ConsoleTeclas(const ConsoleTeclas&) = delete;
  ConsoleTeclas& operator=(const ConsoleTeclas&) = delete;
};

// --- waiting (aguarda.cpp) ------------------------------------------------

// What aguarda waits for, and what it reports.
inline constexpr unsigned ev_linha = 1;    // a byte is waiting on the line
inline constexpr unsigned ev_tecla = 2;    // a key is waiting
inline constexpr unsigned ev_escrita = 4;  // the port can take a byte
inline constexpr unsigned ev_perdida = 8;  // the line is gone (reported, never asked)

// Blocks until one of the asked events, or until ms have passed (ms < 0: no
// limit). Returns the events found, 0 when the time ran out. A line that has
// hung up or failed with nothing left to read is reported as ev_perdida when
// ev_linha or ev_escrita was asked; the port is not looked at otherwise (it
// may be porta_invalida). A keyboard whose input has ended is never waited on.
unsigned aguarda(Porta p, unsigned eventos, int ms);

// --- standard output (saida.cpp) ------------------------------------------

// True when the program's own texts (ISO 8859-1) must go out as UTF-8: the
// console's character set is UTF-8.
bool saida_utf8();

// Writes a text of the program's own (ISO 8859-1) straight to the console
// when standard output is one that needs it (Windows: any code page shows
// the accents). False when it did nothing: the caller writes the bytes.
bool saida_console(const char* texto, std::size_t n);

// The same for the system's own words in UTF-8 (--list: friendly names and
// makers): shown as UTF-16 on a Windows console, whatever its code page.
// False when it did nothing: the caller writes the bytes.
bool saida_console_utf8(const char* texto, std::size_t n);

// True when standard output is a terminal (a console).
bool saida_terminal();

// True when standard error is a terminal (a console).
bool erro_terminal();

// --batch: writes to standard output what it takes now, never waiting for a
// reader that is slow or has stopped, never failing for one that has gone.
// Returns how many bytes went (fewer than n: the rest is not written).
std::size_t saida_escreve_sem_esperar(const void* buf, std::size_t n);

// --- files (arquivos.cpp) --------------------------------------------------

// Opens a hex file for reading in binary mode without ever blocking in the
// open (a FIFO, a device). nullptr with errno set when it cannot; nullptr
// with nao_comum set when it exists but is not a regular file.
std::FILE* arquivo_abre(const char* caminho, bool& nao_comum);

// --log: opens the file to append to it, creating it when it does not exist,
// without ever blocking in the open (a FIFO). nullptr with errno set when it
// cannot; nullptr with nao_comum set when it exists but is not a regular file,
// or is a file of the kernel's own (Linux: /proc, /sys, debugfs and the like).
std::FILE* arquivo_acrescenta(const char* caminho, bool& nao_comum);

// True when both names lead to the same existing file (the same device and
// inode; symbolic links followed).
bool mesmo_arquivo(const char* a, const char* b);

// --- clock (relogio.cpp) ---------------------------------------------------

// The finest timer resolution, asked for while an exchange paced by 1 ms
// pauses runs and given back when it ends (and at every exit). Nests.
void temporizador_fino(bool liga);

// Sleeps ms milliseconds, as exactly as the platform allows.
void dorme_ms(int ms);

// A monotonic clock in microseconds, and a sleep until one of its instants.
std::int64_t agora_us();
void dorme_ate_us(std::int64_t instante);

// Microseconds as whole milliseconds, rounded up: a wait of that many
// milliseconds never ends before its instant.
inline int em_ms(std::int64_t us) { return us <= 0 ? 0 : static_cast<int>((us + 999) / 1000); }

// RAII: the fine timer for the guard's lifetime.
struct TemporizadorFino {
  TemporizadorFino() { temporizador_fino(true); }
  ~TemporizadorFino() { temporizador_fino(false); }
  TemporizadorFino(const TemporizadorFino&) = delete;
  TemporizadorFino& operator=(const TemporizadorFino&) = delete;
};

// --- help (ajuda.cpp) ------------------------------------------------------

// --help: the platform's own port names, in the usage line ("COMn |
// /dev/CAMINHO"), in the lines on the port argument, and in the examples.
const char* ajuda_uso_porta();
const char* ajuda_portas();
const char* ajuda_exemplos();

// --- child processes (filhos.cpp) ----------------------------------------

// Several boards at once: one child process per board, each this same
// program with one port, its standard output and error read by the parent
// through pipes.

inline constexpr int filhos_maximo = 32;  // children at once, at most
inline constexpr int canal_saida = 0;     // a child's standard output
inline constexpr int canal_erro = 1;      // a child's standard error

// Starts a child: `programa` (nullptr: this same program's file) with argv
// (argv[0] first, nullptr after the last), its standard input on the null
// device, its standard output and error each into a pipe of the parent's;
// nothing else of the parent's open files reaches it. Returns the child's
// number (0 for the first started, and so on), or -1 with errno set.
int filho_inicia(const char* programa, const char* const* argv);

// Reads what is waiting on one stream of a child, without waiting: the
// count read, 0 when nothing is waiting, -1 once the stream has ended (and
// from then on). The bytes are those the child wrote (Windows: its line
// ends as they were before its runtime's text mode made them CR LF). At
// least 2 bytes are asked for.
int filho_le(int filho, int canal, char* buf, int n);

// Blocks until a stream of a child that has not ended has bytes waiting or
// ends, or until ms have passed (ms < 0: no limit). False when the time ran
// out.
bool filhos_aguarda(int ms);

// Waits for a child whose streams have ended to end, and returns its exit
// status; a child ended by a signal gives 128 + the signal (Windows: ended
// by Ctrl-C 130, any other code beyond 255 255).
int filho_espera(int filho);

// Ctrl-C and SIGTERM (Windows: Ctrl-C and Ctrl-Break) while children run:
// between filhos_vigia(true) and (false) each one is passed on to every child
// still running (on a console the children have it already) and noted
// instead of ending the parent, which so ends after its children. Switching
// it off with one noted ends the program as that signal does.
void filhos_vigia(bool liga);

// True once such a signal has been noted since filhos_vigia(true).
bool filhos_interrompido();
}  // namespace plat
