// Sending an Intel HEX file to the device's programming firmware.
#pragma once

#include <cstddef>
#include <cstdio>

#include "programming/confere.hpp"

// How uploads are checked and paced, set once at start-up from the command
// line. All off: every byte that comes back counts as the echo and answers
// are shown, not judged.
struct ModoEnvio {
  bool confere_arquivo = false;    // the whole file is checked before its first byte
  bool confere_eco = false;        // an echo that differs from its byte stops the upload
  bool rapido = false;             // whole lines, echoes read as they come (--fast)
  bool progresso = false;          // a progress line on standard error (--batch, on a terminal)
  bool julga_resposta = false;     // answers other than `resposta` stop the upload
  bool qualquer_resposta = false;  // --any-answer: not judged, nor counted
  // The answer to a line taken. Unjudged, the lines answered otherwise are
  // counted in the outcome line.
  unsigned char resposta[3] = {'.', '\r', '\n'};
  const char* registo = nullptr;  // the --log file, never sent
};
extern ModoEnvio modo_envio;

// A hex file opened for one upload, and what its check learnt.
struct ArquivoHex {
  std::FILE* f = nullptr;
  Conferencia conferencia;
};

// Opens the file for one upload (never the --log file) and, with
// modo_envio.confere_arquivo, checks it whole up to its end record and
// rewinds it: the file sent is the file checked. Returns 0 with h.f open,
// or, the file closed and the reason said, -1 (it cannot be opened or read,
// or a line is refused) or 1 (no end record).
int abre_hex_conferido(const char* path, ArquivoHex& h);

// Reads the open file to its end record, checking each line as the upload
// would, and rewinds it; what it learnt goes into c. Returns 0, or says why
// on standard error and returns -1 or 1 as abre_hex_conferido.
int confere_hex(std::FILE* f, const char* path, Conferencia& c);

// Sends a file opened by abre_hex_conferido and closes it: as envia_hex.
int envia_hex_aberto(const char* path, ArquivoHex& h);

// The key that started the upload from the terminal (its echo is shown
// before the file's first byte goes), or -1.
extern int tecla_do_envio;

// Sends the file line by line (whole lines of up to 600 characters before
// the line end), every character echo-checked, and shows the device's three
// answer characters after each line. Stops after the answered end-of-file
// record (type 01). With modo_envio.confere_arquivo the whole file is checked
// first, and nothing is sent from a file that fails; address records that
// mean nothing on the chip are left out. How it ended is said in one line on
// standard error. Ctrl-C meanwhile stops it where it is, says so
// and ends the program as Ctrl-C does. Returns:
//   -1 the file cannot be opened or read, a line is longer than 600 or holds
//      a byte 0x00, or (checked) a line is no record the board takes
//    0 the end-of-file record was sent and answered
//    1 the file ended before such a record
//    2 a character was not echoed (or, with confere_eco, echoed wrong), an
//      answer character did not come, or (julga_resposta) the answer was
//      another
int envia_hex(const char* path);

// Ctrl-U: asks for a file name, reads it as an ordinary typed line into buf
// and sends that file.
int envia_hex_digitado(char* buf, std::size_t tamanho);

// An answer as --answer takes it, for a report: \r, \n and \xHH for what
// is not plain. texto holds at least 4 x n + 1 characters.
void escreve_visivel(const unsigned char* bytes, int n, char* texto);
