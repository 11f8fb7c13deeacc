#include "serial/porta.hpp"

#include <cerrno>
#include <cstring>

#include "saida/saida.hpp"

plat::Porta hcom = plat::porta_invalida;
int taxa_da_linha = 9600;
const char* nome_da_porta = "";

namespace {

// "NAME: REASON" after the fixed message, with the device path the name
// opens when it is another ("COM9 (/dev/ttyS8): REASON"), and after a
// refused permission the group that would give it.
void relata_causa(const char* nome) {
  if (const char* razao = plat::porta_razao(nome)) return erro_de(nome, razao);  // a network port's own words
  int codigo = plat::porta_erro();
  const char* razao = plat::porta_erro_texto();
  char caminho[512];
  if (plat::porta_caminho(nome, caminho, sizeof caminho) && std::strcmp(caminho, nome) != 0) {
    erro_f("%s (%s): %s\n", nome, caminho, razao);
  } else {
    erro_de(nome, razao);
  }
  if (codigo != EACCES) return;
  const char* grupo = plat::porta_grupo(nome);
  if (grupo != nullptr) {
    relata("para ter acesso: sudo usermod -aG %s $USER (e entre de novo na sessao)", grupo);
  }
}

}  // namespace

plat::Porta AbreComm(const char* nome, int baud) {
  plat::Porta p = plat::porta_abre(nome);
  if (p == plat::porta_invalida) {
    erro_f("Nao abriu a %s\n", nome);
    relata_causa(nome);
    return plat::porta_invalida;
  }
  if (!plat::porta_configura(p, baud)) {
    erro("SetCommState\n");
    relata_causa(nome);
    return plat::porta_invalida;  // the port stays open, unused, until exit
  }
  taxa_da_linha = baud;
  nome_da_porta = nome;
  return p;
}
