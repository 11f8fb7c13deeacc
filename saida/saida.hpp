// Everything the program shows goes through here: its own texts in the
// console's encoding, the line's bytes unchanged, its reports on standard
// error, and, with --log, a copy of all of it in a file.
#pragma once

#include <cstdarg>
#include <cstddef>

// A text of the program's own (ISO 8859-1): ç and ã go out as the console
// shows them (UTF-8 in a UTF-8 locale, Latin-1 bytes otherwise).
void mostra(const char* texto);

// Like mostra, with printf formatting (at most 511 characters; more is cut).
void mostra_f(const char* formato, ...) __attribute__((format(printf, 1, 2)));

// Bytes from the line, or keys echoed: written as they are.
void mostra_bytes(const unsigned char* buf, std::size_t n);
void mostra_byte(int c);

// An echo shown a little later: right before anything else is shown, or
// when mostra_adiado is called before a wait. The exchange hands over the
// next byte first, so the console write overlaps the echo's pause.
void adia_eco(int c);
void mostra_adiado();

// The console is at the start of a line without the program having shown a
// line end: the user's Enter ended a typed line.
void em_inicio_de_linha();

// A report of the program's own on standard error: "xagterm: " and the
// text, on a line of its own that starts on a fresh console line. Whatever
// the lengths, it ends with its last words and a line end: a %s longer than
// 240 characters is shortened in the middle ("inicio...fim"). Conversions:
// %s, %d, %i, %u, %x, %X, %o (with or without l), %c, %f, %g, %e, %%, and
// %.*s for the first characters of a name. Past 1 KB (1022 characters with
// the prefix) a report is cut, its line end kept.
void relata(const char* formato, ...) __attribute__((format(printf, 1, 2)));
void relata_v(const char* formato, std::va_list args);

// A fixed text on standard error, as it stands (no prefix, no line end added).
void erro(const char* texto);

// The same formatted, names shortened as relata does (no prefix, no line
// end added).
void erro_f(const char* formato, ...) __attribute__((format(printf, 1, 2)));

// perror(nome): "nome: reason\n" on standard error, the reason being
// strerror(codigo); only "reason\n" when the name is empty.
void erro_sistema(const char* nome, int codigo);

// The same with a reason of the program's own.
void erro_de(const char* nome, const char* razao);

// --log: everything written to standard output and standard error from now
// on is also appended to the file, as it is written. The file must be a
// regular one or a new one; the open never blocks (a FIFO). False, with
// "xagterm: FILE: REASON" reported, when it cannot be used. The first write
// that fails stops the log with one report ("FILE: REASON; o registro
// parou"); the session goes on.
bool registo_abre(const char* caminho);

// --batch: from now on standard output never holds up or ends the program:
// what it does not take at once (a reader that stopped reading or went
// away) is dropped and counted.
void saida_sem_esperar();

// The count of bytes dropped so, reported once when there were any.
void relata_descartados();

// --quiet: while on, what would go to standard output goes nowhere (nor
// into the log); reports on standard error still go.
void cala_saida(bool calada);
bool saida_calada();
