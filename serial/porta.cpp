#include "serial/porta.hpp"

#include <cstdio>

#include "frontend/saida.hpp"

plat::Porta hcom = plat::porta_invalida;

plat::Porta AbreComm(const char* nome, int baud) {
  plat::Porta p = plat::porta_abre(nome);
  if (p == plat::porta_invalida) {
    char texto[300];
    std::snprintf(texto, sizeof texto, "Nao abriu a %s\n", nome);
    erro(texto);
    return plat::porta_invalida;
  }
  if (!plat::porta_configura(p, baud)) {
    erro("SetCommState");
    return plat::porta_invalida;  // the port stays open, unused, until exit
  }
  return p;
}
