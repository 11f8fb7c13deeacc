// The upload's progress line on standard error (--batch on a terminal): one
// line rewritten in place, then cleared for the outcome line. A child of
// several boards at once instead tells its parent how far it has gone.
#pragma once

// A line of a child's counts starts with it: "\x1F12/34\n", 12 lines of 34
// sent and answered. Never a byte of a report, so the parent tells them
// apart and never shows a count.
inline constexpr char marca_contagem = '\x1F';

// With true, from then on the uploads' progress goes to the parent as count
// lines on standard error, pipe or not, and no line is drawn.
void progresso_ao_pai(bool sim);

// An upload of `linhas` lines starts (0: no progress line). Only standard
// error on a terminal gets one (or the parent its counts): in a pipe or a
// file, a line redrawn ten times a second would only be noise before the
// outcome line.
void progresso_inicia(int linhas);

// `enviadas` lines have been sent and answered: the line is rewritten, at
// most 10 times a second (lines sent of the total, per cent, elapsed time).
// The parent gets its count as often, and the last line's always: a board
// done must not stay short of its total while the others go on.
void progresso_linha(int enviadas);

// Clears the progress line, if one is shown, so the outcome line takes its
// place.
void progresso_apaga();
