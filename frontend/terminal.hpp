// The terminal loop: line to console, keys to line, and the command keys.
#pragma once

// Runs until Ctrl-X is pressed or the console goes away (status 0).
// `porta` and `baud` are the port's name and rate as it was opened: with
// `reconecta`, a line that is lost is closed and opened again with them once
// it is back; without it, a lost line is reported and ends the loop with
// status 3. Returns the program's exit status.
int terminal(const char* porta, int baud, bool reconecta);
