// The command line: port, baud rate and hex file, and the options.
#pragma once

#include <cstdint>

#include "platform/plataforma.hpp"
#include "programming/ciclo.hpp"

struct Argumentos {
  const char* porta = "COM1";
  int baud = 9600;
  const char* arquivo = nullptr;        // the hex file to send at start, if any
  bool ajuda = false;                   // --help, -h
  bool versao = false;                  // --version
  bool lista = false;                   // --list
  bool lote = false;                    // --batch: send the file and exit
  bool reconecta = true;                // false with --no-reconnect
  const char* registo = nullptr;        // --log FILE
  bool falta_registo = false;           // --log was the last argument, or an option followed it
  bool rapido = false;                  // --fast: whole lines, echoes read as they come
  unsigned char resposta[3] = {};       // --answer TEXT: the answer to a line the board took
  bool julga_resposta = false;          // --answer was given
  const char* erro_resposta = nullptr;  // why --answer's TEXT was refused
  bool conta_ao_pai = false;            // a child of several boards: its counts go to the parent

  // Every port named, in order (with --batch each one a board programmed at
  // the same time as the others); `porta` is the last of them. Those beyond
  // the room are counted and refused with --batch.
  const char* portas[plat::filhos_maximo] = {};
  int quantas_portas = 0;

  // The flash cycle's steps, run before the terminal (or, with --batch,
  // instead of it), in the order of corre_ciclo.
  bool qualquer_resposta = false;  // --any-answer: any three characters are an answer
  bool apaga_do_arquivo = false;   // --erase: the blocks the file's data touch
  unsigned apaga = 0;              // --erase=LIST: those blocks, as a mask
  bool zera_status = false;        // --clear-status
  bool le_status = false;          // --status
  bool mostra_faixa = false;       // --dump START:COUNT
  std::int32_t inicio = 0;
  std::int32_t quantos = 0;
  bool reinicia = false;  // --reset SEQ
  SequenciaDasLinhas reinicio;
  bool calado = false;  // --quiet

  // What the scan found to say, one report a line, each led by its kind:
  // 'a' warned of (refused with --batch), 'r' refused in every mode, 'l'
  // said and refused only with --batch (a second hex file, --log with
  // several ports, ports beyond the room).
  char relatos[2048] = {};
  int tamanho_relatos = 0;
  bool relatos_cortados = false;  // more than the room holds: the rest is left out
  bool recusa_cortada = false;    // a refusal among what was left out
};

// Reads argv[1..argc-1] once, in order; a later argument overrides an
// earlier one of its kind, but every port is kept in `portas`. COMn is
// always the port; then a name ending in .hex or .ihx is the hex file
// wherever it lives; then whatever looks like a
// port is one, whether or not it exists (a /dev/ path, ttyUSB0, NAME://...),
// as is any name of a device (a symbolic link to one). Shows nothing: what
// there is to say about the arguments is kept in `relatos`.
Argumentos le_argumentos(int argc, char** argv);

// False when the arguments are refused: an argument that starts with '-'
// and is no option; with --batch also anything that would be guessed (an
// argument that fits no rule, a rate out of range or with letters after
// its digits), a second hex file, a second port with --log, and more ports
// than plat::filhos_maximo. The program then ends (status 2) without opening
// the port or the log.
bool argumentos_aceitos(const Argumentos& a);

// Some step of the flash cycle was asked for (--erase, --clear-status,
// --status, --dump, --reset): with --batch no hex file is then needed.
bool pede_ciclo(const Argumentos& a);

// The answer a line taken gets is judged (a board's "no" fails the run):
// with --answer, and, unless --any-answer, with --batch, --fast and every
// step of the flash cycle.
bool julga_respostas(const Argumentos& a);

// Says on standard error what the scan found (warnings in a session, the
// reasons of a refusal), then, after a refusal, a usage line.
void relata_argumentos(const Argumentos& a);

// The last '.' of the text, or the start of the text when it has none.
const char* extencao(const char* texto);
