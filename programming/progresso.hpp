// The upload's progress line on standard error (--batch on a terminal): one
// line rewritten in place, then cleared for the outcome line.
#pragma once

// An upload of `linhas` lines starts (0: no progress line). Only standard
// error on a terminal gets one: in a pipe or a file, a line redrawn ten
// times a second would only be noise before the outcome line.
void progresso_inicia(int linhas);

// `enviadas` lines have been sent and answered: the line is rewritten, at
// most 10 times a second (lines sent of the total, per cent, elapsed time).
void progresso_linha(int enviadas);

// Clears the progress line, if one is shown, so the outcome line takes its
// place.
void progresso_apaga();
