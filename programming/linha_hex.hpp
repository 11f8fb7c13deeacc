// Reading a hex file line by line, as the upload and its check both do.
#pragma once

#include <cstdio>

// A line holds up to 600 characters before its line end (LF or CR LF): the
// longest Intel HEX record (255 data bytes) is 521, with room to spare.
inline constexpr int maximo_da_linha = 600;
// The characters, a CR, the LF and the NUL.
inline constexpr int tamanho_linha_hex = maximo_da_linha + 3;

enum Leitura { lida, fim_do_arquivo, falta_fim_de_linha, longa_demais, com_nul, falhou };

// Opens the hex file in binary mode; says why it cannot, on standard error.
std::FILE* abre_hex(const char* path);

// Reads the next line with its line end into linha (NUL-terminated, n its
// length). A line that meets the end of the file (the last one, with no line
// end) is not taken: falta_fim_de_linha; one with more than 600 characters
// before its line end, or with a byte 0x00, is not read further.
Leitura le_linha_hex(std::FILE* f, char* linha, int& n);

// Says on standard error why line `numero` cannot be sent (longa_demais,
// com_nul, falta_fim_de_linha or falhou).
void relata_leitura(const char* path, int numero, Leitura leitura);
