// The usage text of --help. It is the one source of the options' list: the
// README's options table and the manual page are checked against what this
// prints, so an option added here and not there fails the tests.
#pragma once

// The usage text on standard output, around the platform's own port names
// and examples.
void mostra_uso();
