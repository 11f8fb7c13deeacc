// The command line of xagsim.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/saida.hpp"

namespace xagsim {

// After `bytes` received from the program, something happens for `tempo`.
struct Depois {
  std::uint64_t bytes = 0;
  Ms tempo{0};
  bool operator==(const Depois&) const = default;
};

struct Opcoes {
  bool mudo = false;                          // --silent
  std::optional<std::uint64_t> desliga_apos;  // --hangup-after
  std::optional<Depois> religa;               // --replug-after
  std::string envio_inicial;                  // --send, escapes decoded
  std::uint64_t inundacao = 0;                // --flood
  Ms atraso_eco{0};                           // --echo-delay
  Ms atraso_resposta{0};                      // --answer-delay
  bool sem_respostas = false;                 // --no-answer
  std::optional<std::uint8_t> byte_eco;       // --echo-byte
  std::string imagem;                         // --image
  std::string diario;                         // --log
  std::optional<long> baud;                   // --baud
  std::uint8_t estado = 0xFF;                 // --status
  std::uint8_t vetor_arranque = 0x00;         // --boot-vector
  double perde = 0;                           // --drop, 0 to 1
  double deturpa = 0;                         // --garble, 0 to 1
  std::optional<Depois> para;                 // --stall-after
  std::optional<Ms> conversa;                 // --chatter
  std::uint64_t semente = 1;                  // --seed
  bool fio = false;                           // --wire
  Ms latencia{0};                             // --latency
  bool responde_no_checksum = false;          // --answer-on-checksum
  std::string carga;                          // --preload
  Ms tempo_apagamento{0};                     // --erase-time
  std::vector<std::string> comando;           // after "--"
};

struct LeituraOpcoes {
  std::optional<Opcoes> opcoes;  // nullopt: erro says why, or ajuda is set
  bool ajuda = false;
  std::string erro;
};

// args excludes the program name.
LeituraOpcoes le_opcoes(const std::vector<std::string>& args);

// Decodes \n \r \t \\ and \xHH; nullopt on any other escape.
std::optional<std::string> decodifica_escapes(const std::string& texto);

// The text of --help.
const char* texto_uso();

}  // namespace xagsim
