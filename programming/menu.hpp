// The programming menu (Ctrl-F) and its hex number entry.
#pragma once

#include <cstdint>

// Runs the baud-rate handshake, shows the menu, takes one key and carries
// out its action. Returns 0 when an action ran, -1 when the handshake failed,
// the key was not a menu key, or an entry was invalid. H ends the program.
int comando();

// Reads a hex number key by key, echoing each key. Returns its value (only
// the last eight digits count) or -1 when the entry was not ended by Enter
// after at least one digit.
std::int32_t lenum();

// The rate handshake: sends 'f' until the board echoes it, at most 7 times.
// False, with the failure text on standard output and its report, when it
// did not.
bool detecta_baud();
