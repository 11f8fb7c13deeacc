// The command line: port, baud rate and hex file.
#pragma once

struct Argumentos {
  const char* porta = "COM1";
  int baud = 9600;
  const char* arquivo = nullptr;  // the hex file to send at start, if any
};

// Reads argv[1..argc-1] in order; a later argument overrides an earlier one
// of its kind, and arguments that fit no rule are ignored.
Argumentos le_argumentos(int argc, char** argv);

// The last '.' of the text, or the start of the text when it has none.
const char* extencao(const char* texto);
