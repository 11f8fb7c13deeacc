// The serial port: its program-wide handle and how it is opened.
#pragma once

#include "platform/plataforma.hpp"

// The one open port: set at start-up, and when the line is lost closed,
// set to plat::porta_invalida and set again once it is reopened (the
// terminal loop's reconnect). The process's end closes the last one.
extern plat::Porta hcom;

// The line's rate in baud, as the port was opened (9600 until then).
extern int taxa_da_linha;

// The port's name as given on the command line ("" until it is opened).
extern const char* nome_da_porta;

// Opens the port and gives it the line settings the device dialogue needs
// (baud, 8N1, no flow control characters, NUL bytes kept, DTR and RTS off).
// Notes its name. Returns the handle, or plat::porta_invalida after printing why on stderr.
plat::Porta AbreComm(const char* nome, int baud);
