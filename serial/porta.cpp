#include "serial/porta.hpp"

#include <cstdio>

plat::Porta hcom = plat::porta_invalida;

plat::Porta AbreComm(const char* nome, int baud) {
  plat::Porta p = plat::porta_abre(nome);
  if (p == plat::porta_invalida) {
    std::fprintf(stderr, "Nao abriu a %s\n", nome);
    return plat::porta_invalida;
  }
  if (!plat::porta_configura(p, baud)) {
    std::fputs("SetCommState", stderr);
    return plat::porta_invalida;  // the port stays open, unused, until exit
  }
  return p;
}
