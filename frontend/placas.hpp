// Several boards programmed at once: the parent runs one child per port
// (this same program with that port and the other arguments, an upload with
// --batch each) and gathers what they show, each line whole and naming its
// port, then says how many boards were programmed.
#pragma once

// What the parent is given, already read from the command line.
struct Lote {
  const char* programa = nullptr;       // what each child runs; nullptr: this same program
  const char* const* portas = nullptr;  // one child per port
  int quantas = 0;
  const char* const* outros = nullptr;  // passed to every child after its port
  int n_outros = 0;
  bool progresso = false;  // one progress line for all (standard error is a terminal)
};

// Runs the children, all at once, until every one has ended. Returns 0 when
// every board was programmed, else the highest exit status of a child; 2
// without starting any when a port is named twice, there are more ports than
// plat::filhos_maximo, or more other arguments than fit.
int grava_placas(const Lote& lote);

// Given to each child after the other arguments when the parent shows
// progress: the child then says how far its upload has gone in count lines
// (progresso_ao_pai), which the parent reads and never shows. Internal: not
// in --help.
inline constexpr char opcao_contagem[] = "--counts-to-parent";
