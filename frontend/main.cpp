// xagterm: a serial terminal, hex file uploader and programming menu for
// boards with the XAG49 microcontroller.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "frontend/argumentos.hpp"
#include "frontend/placas.hpp"
#include "frontend/terminal.hpp"
#include "frontend/uso.hpp"
#include "platform/plataforma.hpp"
#include "programming/ciclo.hpp"
#include "programming/progresso.hpp"
#include "programming/upload.hpp"
#include "saida/saida.hpp"
#include "serial/porta.hpp"

namespace {

// Exit statuses.
constexpr int sai_bem = 0;
constexpr int sai_porta = 1;    // the port (or the --log file) could not be used
constexpr int sai_arquivo = 2;  // a refused argument; --batch: the hex file could not be read
constexpr int sai_sem_eco = 3;  // --batch: no echo, no answer, or the line lost
constexpr int sai_sem_fim = 4;  // --batch: the file ended with no end record

// --log: a regular file, or a new one, and neither the port (the session
// would go down the line) nor the hex file (the upload would feed itself).
bool abre_registo(const Argumentos& args) {
  char caminho[512];
  const char* razao = nullptr;
  if (plat::porta_caminho(args.porta, caminho, sizeof caminho) &&
      plat::mesmo_arquivo(args.registo, caminho)) {
    razao = "e a porta serial";
  } else if (args.arquivo != nullptr && plat::mesmo_arquivo(args.registo, args.arquivo)) {
    razao = "e o arquivo hex";
  }
  if (razao != nullptr) {
    relata("%s: %s", args.registo, razao);
    return false;
  }
  return registo_abre(args.registo);
}

// --list: the ports present, or a word that there are none.
int lista_portas() {
  static char lista[16384];
  if (plat::portas_presentes(lista, sizeof lista) == 0) {
    relata("nenhuma porta serial encontrada");
  } else {
    // The system's own words (makers, products): UTF-16 on a Windows
    // console, else the bytes as they are.
    if (!plat::saida_console_utf8(lista, std::strlen(lista))) {
      mostra_bytes(reinterpret_cast<const unsigned char*>(lista), std::strlen(lista));
    }
  }
  return sai_bem;
}

void mostra_banner(const Argumentos& args) {
  mostra_f(
      "Terminal %s %d baud\nCtrl-X para sair\nCtrl-U Grava arquivo hex\n"
      "Ctrl-F Menu de programacao do XAG49\n",
      args.porta, args.baud);
}

// --batch: the upload's outcome as the exit status.
int status_do_envio(int resultado) {
  switch (resultado) {
    case 0: return sai_bem;
    case 1: return sai_sem_fim;
    case 2: return sai_sem_eco;
    default: return sai_arquivo;
  }
}

// How uploads are checked and paced, from the options.
void ajusta_envio(const Argumentos& args) {
  // --erase needs the blocks the file touches, which only the whole-file
  // check learns.
  modo_envio.confere_arquivo = args.lote || args.rapido || args.apaga_do_arquivo;
  modo_envio.confere_eco = modo_envio.confere_arquivo;
  modo_envio.rapido = args.rapido;
  modo_envio.progresso = args.lote && (plat::erro_terminal() || args.conta_ao_pai);
  modo_envio.julga_resposta = julga_respostas(args);
  modo_envio.qualquer_resposta = args.qualquer_resposta;
  modo_envio.registo = args.registo;
  if (args.julga_resposta) std::memcpy(modo_envio.resposta, args.resposta, sizeof modo_envio.resposta);
}

// The flash cycle's steps the command line asked for, in their order, the
// file checked before the port opened being the file sent. Its ciclo_*
// status, which is --batch's exit status.
int corre_ciclo_pedido(const Argumentos& args, ArquivoHex& hex) {
  Ciclo c;
  c.porta = args.porta;
  c.reinicio = args.reinicia ? &args.reinicio : nullptr;
  c.apaga = args.apaga_do_arquivo ? hex.conferencia.blocos : args.apaga;
  c.arquivo = args.arquivo;
  c.hex = &hex;
  c.zera_status = args.zera_status;
  c.le_status = args.le_status;
  c.mostra_faixa = args.mostra_faixa;
  c.inicio = args.inicio;
  c.quantos = args.quantos;
  c.julga_resposta = modo_envio.julga_resposta;
  std::memcpy(c.resposta, modo_envio.resposta, sizeof c.resposta);
  return corre_ciclo(c);
}

// A serial-port server that set another rate than the one asked for says
// so; false then.
bool taxa_confere(const Argumentos& args) {
  int taxa = plat::porta_taxa_do_servidor(hcom);
  if (taxa == 0 || taxa == args.baud) return true;
  relata("%s: o servidor ficou em %d baud", args.porta, taxa);
  return false;
}

// --batch with several ports: one child per port, each this same program
// with its port and every other argument as given, all at once.
int grava_varias(const Argumentos& args, int argc, char** argv) {
  static const char* outros[256];
  int n = 0;
  for (int i = 1; i < argc && n < static_cast<int>(std::size(outros)); ++i) {
    const char* const* fim = args.portas + args.quantas_portas;
    if (std::find(args.portas, fim, argv[i]) == fim) outros[n++] = argv[i];
  }
  return grava_placas(Lote{nullptr, args.portas, args.quantas_portas, outros, n, plat::erro_terminal()});
}

}  // namespace

int main(int argc, char** argv) {
  // Everything shown is shown at once: nothing waits in a buffer while the
  // program waits for the line or the keyboard.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  plat::processo_inicia();

  Argumentos args = le_argumentos(argc, argv);
  if (args.ajuda) {
    mostra_uso();
    return sai_bem;
  }
  if (args.versao) {
    mostra("xagterm " XAGTERM_VERSAO "\n");
    return sai_bem;
  }
  if (args.lista) return lista_portas();
  if (args.falta_registo) {
    relata("--log sem nome de arquivo; uso: --log ARQUIVO");
    return sai_arquivo;
  }
  if (args.erro_resposta != nullptr) {
    relata("--answer: %s; uso: --answer TEXTO (3 caracteres; \\r, \\n e \\xHH valem)", args.erro_resposta);
    return sai_arquivo;
  }
  if (!argumentos_aceitos(args)) {
    relata_argumentos(args);
    return sai_arquivo;
  }
  if (args.lote && args.arquivo == nullptr && !pede_ciclo(args)) {
    relata("--batch sem arquivo hex; uso: xagterm --batch PORTA [b=TAXA] ARQUIVO.hex");
    return sai_arquivo;
  }
  // Every argument accepted: only now is the log created, and the warnings
  // go into it too.
  if (args.registo != nullptr && !abre_registo(args)) return sai_porta;
  relata_argumentos(args);

  ajusta_envio(args);
  // A file the board would not take is refused before the port is opened:
  // opening it may already reset the board. The file checked stays open and
  // is the file sent.
  ArquivoHex hex;
  if (modo_envio.confere_arquivo && args.arquivo != nullptr) {
    int conferido = abre_hex_conferido(args.arquivo, hex);
    if (conferido != 0) return status_do_envio(conferido);
  }
  // Several boards: checked once here, and no port is opened by this
  // process; each child takes its own.
  if (args.lote && args.quantas_portas > 1) {
    if (hex.f != nullptr) std::fclose(hex.f);
    return grava_varias(args, argc, argv);
  }
  if (args.conta_ao_pai) progresso_ao_pai(true);

  if (plat::porta_e_console(args.porta)) {  // it would eat Ctrl-X and stay raw
    relata("%s: e o proprio console, nao uma porta serial", args.porta);
    return sai_porta;
  }
  hcom = AbreComm(args.porta, args.baud);
  if (hcom == plat::porta_invalida) return sai_porta;
  if (!taxa_confere(args) && args.lote) return sai_porta;

  if (args.lote) {  // no terminal: the console's settings are never touched
    saida_sem_esperar();
    cala_saida(args.calado);
    mostra_banner(args);
    int status = pede_ciclo(args) ? corre_ciclo_pedido(args, hex)
                                  : status_do_envio(envia_hex_aberto(args.arquivo, hex));
    relata_descartados();
    return status;
  }

  plat::ConsoleTeclas console;
  mostra_banner(args);
  if (pede_ciclo(args)) {  // its reports said, the terminal follows whatever the outcome
    corre_ciclo_pedido(args, hex);
  } else if (hex.f != nullptr) {
    envia_hex_aberto(args.arquivo, hex);
  } else if (args.arquivo != nullptr) {
    envia_hex(args.arquivo);
  }
  return terminal(args.porta, args.baud, args.reconecta);
}
