// The terminal loop: line to console, keys to line, and the command keys.
#pragma once

// Runs until Ctrl-X is pressed.
void terminal();
