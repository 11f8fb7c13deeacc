// The telnet side of a network port (RFC 854) with the serial-port option
// of RFC 2217: what goes into the byte stream and what comes out of it.
// Plain logic over fixed buffers, no system calls, so both platform sides
// share it and it runs under the unit tests as it runs for real.
#pragma once

#include <cstdint>

namespace telnet {

inline constexpr unsigned char iac = 255;
inline constexpr unsigned char dont = 254;
inline constexpr unsigned char do_ = 253;
inline constexpr unsigned char wont = 252;
inline constexpr unsigned char will = 251;
inline constexpr unsigned char sb = 250;
inline constexpr unsigned char se = 240;

inline constexpr unsigned char op_binario = 0;
inline constexpr unsigned char op_sem_ga = 3;  // SUPPRESS-GO-AHEAD
inline constexpr unsigned char op_porta = 44;  // COM-PORT-OPTION

// COM-PORT-OPTION commands; the server answers each with its code + 100.
inline constexpr unsigned char cmd_taxa = 1;
inline constexpr unsigned char cmd_bits = 2;
inline constexpr unsigned char cmd_paridade = 3;
inline constexpr unsigned char cmd_parada = 4;
inline constexpr unsigned char cmd_controle = 5;
inline constexpr unsigned char cmd_purga = 12;
inline constexpr unsigned char resposta_do_servidor = 100;

// SET-CONTROL values used here.
inline constexpr unsigned char controle_sem_fluxo = 1;
inline constexpr unsigned char controle_dtr_liga = 8;
inline constexpr unsigned char controle_dtr_desliga = 9;
inline constexpr unsigned char controle_rts_liga = 11;
inline constexpr unsigned char controle_rts_desliga = 12;
inline constexpr unsigned char controle_sem_fluxo_entrada = 14;
inline constexpr unsigned char purga_recepcao = 1;  // the server's buffer of bytes from the line

inline constexpr int tamanho_resposta = 96;  // refusals waiting to be sent

// Where the reader stands in the received stream, and what the server has
// said so far.
struct Estado {
  enum Fase : unsigned char { dados, comando, opcao, sub, sub_iac } fase = dados;
  unsigned char verbo = 0;     // WILL, WONT, DO or DONT whose option comes next
  unsigned char sub_buf[8]{};  // the start of a subnegotiation (longer ones are cut)
  int sub_n = 0;
  bool nosso[256]{};                           // options we do (said WILL)
  bool dele[256]{};                            // options the server does (we said DO)
  bool porta_aceita = false;                   // DO COM-PORT-OPTION came
  bool porta_recusada = false;                 // DONT COM-PORT-OPTION came
  std::uint32_t respostas = 0;                 // bit c set: the answer to command c came
  std::uint32_t taxa = 0;                      // the rate in the last SET-BAUDRATE answer
  unsigned char resposta[tamanho_resposta]{};  // to send back to the server
  int resposta_n = 0;
};

// The opening offers: WILL COM-PORT-OPTION, BINARY and SUPPRESS-GO-AHEAD
// both ways. Notes them in e as said. Returns the bytes written (out holds
// at least 15).
int abertura(Estado& e, unsigned char* out);

// Takes n received bytes in place: telnet commands are taken out and acted
// on (refusals queued in e.resposta), IAC IAC becomes one 0xFF. Returns how
// many data bytes are left at the start of buf. A command cut between two
// reads is carried in e.
int recebe(Estado& e, unsigned char* buf, int n);

// Copies data into out, doubling every 0xFF, as far as out has room (cap).
// Returns the bytes written; `usados` is how many of the n were taken.
int escapa(const unsigned char* dados, int n, unsigned char* out, int cap, int& usados);

// IAC SB COM-PORT-OPTION cmd VALUE IAC SE, 0xFF in the value doubled.
// Returns the bytes written (out holds at least 2 * n + 6).
int comando(unsigned char cmd, const unsigned char* valor, int n, unsigned char* out);

// SET-BAUDRATE: the rate as four bytes, most significant first.
int comando_taxa(std::uint32_t baud, unsigned char* out);

// True once the answer to cmd has come.
inline bool respondeu(const Estado& e, unsigned char cmd) { return (e.respostas >> cmd) & 1u; }

}  // namespace telnet
