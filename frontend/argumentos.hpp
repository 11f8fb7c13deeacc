// The command line: port, baud rate and hex file, and the options.
#pragma once

struct Argumentos {
  const char* porta = "COM1";
  int baud = 9600;
  const char* arquivo = nullptr;  // the hex file to send at start, if any
  bool ajuda = false;             // --help, -h
  bool versao = false;            // --version
  bool lista = false;             // --list
  bool lote = false;              // --batch: send the file and exit
  bool reconecta = true;          // false with --no-reconnect
  const char* registo = nullptr;  // --log FILE
  bool falta_registo = false;     // --log was the last argument
  bool rapido = false;            // --fast: whole lines, echoes read as they come
  unsigned char resposta[3] = {}; // --answer TEXT: the answer to a line the board took
  bool julga_resposta = false;    // --answer was given
  const char* erro_resposta = nullptr;  // why --answer's TEXT was refused
};


// Reads argv[1..argc-1] in order; a later argument overrides an earlier one
// of its kind, and arguments that fit no rule are ignored. Beyond COMn,
// /dev/ paths and hex files, an argument that names a device (ttyUSB0, a
// symbolic link to one) is a port. Shows nothing.
Argumentos le_argumentos(int argc, char** argv);

// Goes over the same arguments and reports on standard error each one that
// fits no rule, and each rate outside 300..115200: warnings in a session.
// Refused, in every mode, an argument that starts with '-' and is no option
// (with a hint: "-b 115200" -> "use b=115200"); with --batch, everything
// warned of, and a second port or hex file. After a refusal, a usage line;
// false then: the program ends (status 2) without opening the port.
bool confere_argumentos(int argc, char** argv);

// The last '.' of the text, or the start of the text when it has none.
const char* extencao(const char* texto);
