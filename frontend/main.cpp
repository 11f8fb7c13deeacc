// xagterm: a serial terminal, hex file uploader and programming menu for
// boards with the XAG49 microcontroller.
#include <cstdio>
#include <cstring>

#include "frontend/argumentos.hpp"
#include "frontend/saida.hpp"
#include "frontend/terminal.hpp"
#include "platform/plataforma.hpp"
#include "programming/upload.hpp"
#include "serial/porta.hpp"

int main(int argc, char** argv) {
  // Everything shown is shown at once: nothing waits in a buffer while the
  // program waits for the line or the keyboard.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  plat::processo_inicia();

  Argumentos args = le_argumentos(argc, argv);
  hcom = AbreComm(args.porta, args.baud);
  if (hcom == plat::porta_invalida) return 1;

  plat::ConsoleTeclas console;
  mostra_f("Terminal %s %d baud\nCtrl-X para sair\nCtrl-U Grava arquivo hex\n"
           "Ctrl-F Menu de programacao do XAG49\n",
           args.porta, args.baud);
  if (args.arquivo != nullptr) envia_hex(args.arquivo);
  bool reconecta = true;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--no-reconnect") == 0) reconecta = false;
  }
  terminal(args.porta, args.baud, reconecta);
  return 0;
}
