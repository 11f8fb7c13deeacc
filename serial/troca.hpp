// The echo-checked exchange with the device's programming firmware, which
// sends back every character it receives.
#pragma once

// Waits for one byte: up to n + 1 polls, each a 1 ms pause and then a read
// bounded by the port's 1 ms time-out. Returns the byte (0..255) or -1.
int espera(int n);

// Sends one byte and takes the next byte from the line as its echo, showing
// it unless it is 0x00. Returns the echo (0..255) or -1 when none came.
int escreve_ser(int c);

// Sends a NUL-terminated text byte by byte, each one echo-checked. Returns 0,
// or -1 at the first missing echo with the rest left unsent.
int programa(const char* texto);

// Sends a menu's command record as programa does, for a board that answers a
// record as soon as its checksum is in: a byte that comes where an echo is
// awaited and differs from the byte sent is its answer, not the echo, and
// the echo is awaited again (the budget counted from that byte; after 64
// such bytes any byte counts as the echo). The answer is shown as it comes,
// or with `retem` held for mostra_resposta (a label comes before it).
int programa_registro(const char* registro, bool retem);

// Shows the answer programa_registro held back, and forgets it.
void mostra_resposta();

// The answer programa_registro held back, not yet shown: its length, the
// bytes in `bytes`.
int resposta_guardada(const unsigned char*& bytes);

// An upload's line: a board that acts on a record once it is whole (by its
// count, or after a pause) answers before the echoes of its line end. From
// here on, until the next call, a byte that differs from the awaited echo of
// a line end (escreve_fim_de_linha, or envia_linha_inteira past `registro`)
// is held as the answer, up to `maximo` bytes, and the echo awaited again.
void espera_resposta_antecipada(int maximo);

// escreve_ser for a byte of a line's end, whose record is already whole:
// what comes before its echo is held as espera_resposta_antecipada says (the
// budget counted afresh from each such byte). Once the answer is whole, any
// byte counts as the echo.
int escreve_fim_de_linha(int c);

// Copies the answer held so far into buf (at most the `maximo` given to
// espera_resposta_antecipada), forgets it, and returns how many bytes.
int toma_resposta(unsigned char* buf);

// Shows the bytes waiting on the line, up to 4 KiB, with one read and one
// write, without waiting. Returns how many there were.
int mostra_disponivel();

// Shows whatever is already waiting on the line, as the terminal does, so
// that the exchange which follows takes only its own bytes as echoes.
void mostra_pendentes();

// Shows what comes from the line until the byte `fim` has been shown (the
// echo of a key sent): what is waiting at once, then up to the echo budget
// of polls. False when it did not come.
bool mostra_ate(int fim);

// Copies the device's reply to the console: ten passes of a 10 ms pause and
// a read of up to 20 bytes, a pass going on while its reads come back full;
// then on until the line has been quiet for three character times. Never
// more than 2 s, for a board that never stops. A key typed meanwhile is
// kept for toma_tecla_guardada (the keyboard is left alone after one);
// Ctrl-X also ends the drain at once: false then.
bool esperares();

// The key typed during a reply drain, once, or -1.
int toma_tecla_guardada();

// Waits up to ms milliseconds for one byte, blocking on the port (no fixed
// pauses). Returns the byte (0..255), or -1 when none came or the wait was
// cut short by an interruption (plat::interrompido).
int espera_ms(int ms);

// Writes the n bytes of texto whole, then reads their echoes as they come:
// the first within 50 ms and two character times of the write, each next
// within 50 ms and one character time of the one before. The echoes are
// shown as escreve_ser shows them (0x00 is not). With `confere`, an echo that
// differs from its byte stops the reading, except that past the first
// `registro` echoes (the record whole, its line end on the way) it may be the
// start of the answer, held as espera_resposta_antecipada says. Returns 0,
// or the position (from 1) of the character whose echo did not come (eco is
// then -1) or differed (eco is the byte that came). An interruption stops
// the reading as a missing echo does.
int envia_linha_inteira(const char* texto, int n, int registro, bool confere, int& eco);
