// Waiting for the line and the keyboard together on Linux: one poll on the
// port and standard input.
#include <poll.h>
#include <sys/ioctl.h>

#include "platform/linux/linux.hpp"
#include "platform/linux/rede.hpp"
#include "platform/plataforma.hpp"

namespace plat {

namespace {

// A line that hung up or failed: bytes it still holds are read first.
unsigned linha_caida(int fd, unsigned eventos) {
  int esperando = 0;
  if ((eventos & ev_linha) != 0 && ioctl(fd, FIONREAD, &esperando) == 0 && esperando > 0) return ev_linha;
  return ev_perdida;
}

}  // namespace

unsigned aguarda(Porta p, unsigned eventos, int ms) {
  // Bytes a network port has already taken off its socket wait in its buffer.
  if ((eventos & ev_linha) != 0 && rede::e_rede(p) && rede::tem_dados(p)) return ev_linha;
  if ((eventos & ev_tecla) != 0 && tecla_guardada()) return ev_tecla;
  const bool olha_porta = (eventos & (ev_linha | ev_escrita)) != 0 && p != porta_invalida;
  const int fd = static_cast<int>(p);
  if (olha_porta && porta_falhou(fd)) return linha_caida(fd, eventos);
  pollfd f[2]{};
  nfds_t quantos = 0;
  int da_porta = -1;
  int do_teclado = -1;
  if (olha_porta) {
    short quer = 0;
    if (eventos & ev_linha) quer |= POLLIN;
    if (eventos & ev_escrita) quer |= POLLOUT;
    da_porta = static_cast<int>(quantos);
    f[quantos++] = {fd, quer, 0};
  }
  if ((eventos & ev_tecla) != 0 && !teclado_acabou()) {
    do_teclado = static_cast<int>(quantos);
    f[quantos++] = {teclado(), POLLIN, 0};
  }
  if (quantos == 0) {
    if (ms > 0) dorme_ms(ms);
    return 0;
  }
  int r = poll(f, quantos, ms);
  if (r <= 0) return 0;
  unsigned achou = 0;
  if (do_teclado >= 0 && (f[do_teclado].revents & (POLLIN | POLLHUP | POLLERR)) != 0) achou |= ev_tecla;
  if (da_porta >= 0) {
    short v = f[da_porta].revents;
    if ((v & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      achou |= linha_caida(fd, eventos);
    } else {
      if (v & POLLIN) achou |= ev_linha;
      if (v & POLLOUT) achou |= ev_escrita;
    }
  }
  return achou;
}

}  // namespace plat
