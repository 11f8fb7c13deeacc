// The terminal loop: line to console, keys to line, and the command keys.
#pragma once

// Runs until Ctrl-X is pressed. `porta` and `baud` are the port's name and
// rate as it was opened: with `reconecta`, a line that is lost is closed and
// opened again with them once it is back.
void terminal(const char* porta, int baud, bool reconecta);
