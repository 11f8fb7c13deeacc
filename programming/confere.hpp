// The check of a hex file's records before any of them is sent.
#pragma once

// The longest reason a record is refused for.
inline constexpr int tamanho_razao = 240;

// What the check of a whole file learnt, handed to its upload.
struct Conferencia {
  int linhas = 0;       // lines up to and including the end record
  int omitidos = 0;     // address records that mean nothing here, not sent
  unsigned blocos = 0;  // erase blocks the data records touch: bit i for the
                        // i-th of [0000.1FFF] [2000.3FFF] [4000.7FFF]
                        // [8000.BFFF] [C000.FFFF]
};

enum Julgamento { registro_envia, registro_omite, registro_fim, registro_recusado };

// Judges one line as read with its line end (LF or CR LF): an Intel HEX
// record whose count and checksum are right, of type 00 (data: its blocks
// go into c.blocos) or 01 (the end), is sent; a type 04 or 02 of value 0
// and a type 03 or 05 (a start address) mean nothing on a 64 KiB chip and
// are left out (counted in c.omitidos). Anything else is refused, its
// reason written into razao (tamanho_razao bytes).
Julgamento julga_registro(const char* linha, int n, char* razao, Conferencia& c);
