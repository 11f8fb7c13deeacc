// The check of a hex file before any of it is sent.
#pragma once

// Reads the file up to its first end record (type 01): every line must be an
// Intel HEX record of type 00 or 01, its count and checksum right, ending in
// LF or CR LF, with at most 600 characters before the line end. Lines after
// the end record are not looked at. Returns 0, with the number of lines up to
// and including the end record in `linhas`; otherwise says why on standard
// error and returns -1 (the file cannot be read, or a line the board would
// not take) or 1 (no end record), as the upload would.
int confere_hex(const char* path, int& linhas);
