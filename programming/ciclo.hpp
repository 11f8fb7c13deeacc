// The steps a run may take on its own before the terminal (or instead of
// it): drive the modem lines, the rate handshake, erase blocks, upload a
// file, clear the status byte, read the status byte and boot vector, list
// a range of memory. Each is said by a plain struct filled from the command
// line; corre_ciclo runs them in that order and stops at the first failure.
#pragma once

#include <cstdint>

struct ArquivoHex;

// How a run ended, as --batch gives it for its exit status.
inline constexpr int ciclo_feito = 0;
inline constexpr int ciclo_sem_linhas = 1;  // the port has no modem lines
inline constexpr int ciclo_argumentos = 2;  // a bad argument, or the file
inline constexpr int ciclo_placa = 3;       // the board did not take something

// The erase blocks as a mask: bit i for bloco[i], i.e. 0, 2, 4, 8, C.
inline constexpr unsigned todos_os_blocos = 0x1F;

// The list of --erase=LIST: block numbers as the menu takes them (hex, any
// case, leading zeros allowed), comma-separated, or "all". Returns the mask,
// or -1 for anything else.
int le_lista_de_blocos(const char* texto);

// One step of --reset: 'D' (DTR) or 'R' (RTS) driven to valor (0 or 1), or
// 'W' waiting valor milliseconds.
struct PassoDasLinhas {
  char acao = 'W';
  int valor = 0;
};
inline constexpr int passos_maximos = 32;
inline constexpr int espera_maxima_ms = 60000;
struct SequenciaDasLinhas {
  PassoDasLinhas passos[passos_maximos];
  int quantos = 0;
};

// Parses "D1,R1,W100,R0,W200,D0": steps D0 D1 R0 R1 W<ms> (ms decimal, at
// most espera_maxima_ms), comma-separated, at most passos_maximos of them.
// False for anything else.
bool le_sequencia_das_linhas(const char* texto, SequenciaDasLinhas& sequencia);

// --dump START:COUNT: two hex numbers, COUNT at least 1 and START + COUNT at
// most 10000 (hex). False for anything else.
bool le_faixa(const char* texto, std::int32_t& inicio, std::int32_t& quantos);

// What a run does, step by step; a step left at its default is not taken.
struct Ciclo {
  const char* porta = "";                        // for the reports
  const SequenciaDasLinhas* reinicio = nullptr;  // --reset
  unsigned apaga = 0;                            // blocks to erase, as a mask
  const char* arquivo = nullptr;                 // the file to upload
  ArquivoHex* hex = nullptr;                     // that file, already checked and open, when it was
  bool zera_status = false;                      // --clear-status
  bool le_status = false;                        // --status
  bool mostra_faixa = false;                     // --dump
  std::int32_t inicio = 0;
  std::int32_t quantos = 0;
  bool julga_resposta = true;  // answers other than `resposta` fail (--any-answer: off)
  unsigned char resposta[3] = {'.', '\r', '\n'};
};

// Drives the modem lines as the sequence says, in order, waiting where it
// says. ciclo_feito, or ciclo_sem_linhas (reported) when the port has none.
int reinicia_placa(const char* porta, const SequenciaDasLinhas& sequencia);

// The rate handshake as the menu runs it. ciclo_feito or ciclo_placa.
int combina_taxa();

// Erases the blocks of the mask in address order, each record echo-checked
// and its answer judged; one report per block. ciclo_feito or ciclo_placa.
int apaga_blocos(unsigned blocos, const Ciclo& c);

// The four records that clear the status byte, in order, each answer
// judged. ciclo_feito or ciclo_placa.
int zera_byte_de_status(const Ciclo& c);

// Reads the status byte and the boot vector: "Status=HH" and "Boot
// vector=VV" on standard output, a report on standard error. With
// `deve_ser_zero` a status byte other than 00 fails. ciclo_feito or
// ciclo_placa.
int le_status_e_vetor(bool deve_ser_zero);

// Lists quantos bytes from inicio: the record, then the board's listing to
// standard output until the line has been quiet. ciclo_feito or ciclo_placa
// (the record went without its echo).
int mostra_memoria(std::int32_t inicio, std::int32_t quantos);

// The whole run in its order: reset, handshake (when any step talks to the
// board's firmware), erase, upload, clear status, status, dump. Stops at the
// first failure and returns its ciclo_* status; the upload's failures are
// ciclo_argumentos (the file) or ciclo_placa.
int corre_ciclo(const Ciclo& c);
