// Network ports on Linux. The socket is kept non-blocking, like the tty;
// every wait is a poll with a deadline.
#include "platform/linux/rede.hpp"

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/comum/guardados.hpp"
#include "platform/comum/telnet.hpp"
#include "platform/linux/linux.hpp"

namespace plat {

namespace {

constexpr long prazo_conexao_us = 3'000'000;    // connect, or give up
constexpr long prazo_respostas_us = 1'000'000;  // every answer of the opening, in all
constexpr long espera_recusa_us = 50'000;       // a tcp:// server that fails says so at once
constexpr int vivo_ocioso_s = 5;                // keep-alive probes after this much silence,
constexpr int vivo_intervalo_s = 1;             // this far apart,
constexpr int vivo_sondas = 3;                  // this many unanswered: the link is dead
constexpr int sem_confirmacao_ms = 10'000;      // data unacknowledged this long: dead too
constexpr int maximo_ligacoes = 4;

struct Ligacao {
  int fd = -1;
  bool telnet = false;
  bool fechada = false;
  int taxa_servidor = 0;
  timespec prazo_respostas{};
  telnet::Estado t;
  unsigned char guardados[2048]{};  // line bytes that came while the opening was awaited
  int guardados_n = 0;
  unsigned char pendente[2048]{};  // bytes for the server the socket has not taken yet
  int pendente_n = 0;
};

Ligacao ligacoes[maximo_ligacoes];
char razao[256];  // why the last network port did not open

Ligacao* ligacao(Porta p) {
  for (Ligacao& l : ligacoes) {
    if (l.fd >= 0 && l.fd == static_cast<int>(p)) return &l;
  }
  return nullptr;
}

Ligacao* livre() {
  for (Ligacao& l : ligacoes) {
    if (l.fd < 0) return &l;
  }
  return nullptr;
}

bool passou(timespec prazo) {
  timespec falta = ate(prazo);
  return falta.tv_sec <= 0 && falta.tv_nsec <= 0;
}

void da_razao(const char* texto) { std::snprintf(razao, sizeof razao, "%s", texto); }

// Waits for the socket until prazo; false when the time ran out.
bool espera(int fd, short eventos, timespec prazo) {
  for (;;) {
    timespec falta = ate(prazo);
    if (falta.tv_sec <= 0 && falta.tv_nsec <= 0) return false;
    pollfd f{fd, eventos, 0};
    int r = ppoll(&f, 1, &falta, nullptr);
    if (r > 0) return true;
    if (r < 0 && errno != EINTR) return false;
  }
}

void opcao(int fd, int nivel, int nome, int valor) { setsockopt(fd, nivel, nome, &valor, sizeof valor); }

// No waiting on the network's own timers, and a dead link found within
// about ten seconds.
void ajusta_socket(int fd) {
  opcao(fd, IPPROTO_TCP, TCP_NODELAY, 1);
  opcao(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
  opcao(fd, IPPROTO_TCP, TCP_KEEPIDLE, vivo_ocioso_s);
  opcao(fd, IPPROTO_TCP, TCP_KEEPINTVL, vivo_intervalo_s);
  opcao(fd, IPPROTO_TCP, TCP_KEEPCNT, vivo_sondas);
  opcao(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, sem_confirmacao_ms);
}

// Sends what waits for the server, as far as the socket takes it now.
void esvazia(Ligacao& l) {
  int enviados = 0;
  while (enviados < l.pendente_n && !l.fechada) {
    ssize_t r = send(l.fd, l.pendente + enviados, static_cast<size_t>(l.pendente_n - enviados),
                     MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r > 0) {
      enviados += static_cast<int>(r);
    } else if (r < 0 && errno == EINTR) {
      continue;
    } else {
      if (r < 0 && errno != EAGAIN) l.fechada = true;
      break;
    }
  }
  std::memmove(l.pendente, l.pendente + enviados, static_cast<size_t>(l.pendente_n - enviados));
  l.pendente_n -= enviados;
}

// Queues bytes for the server behind whatever waits already (so a command
// never lands between the two halves of a doubled 0xFF), then sends.
void manda(Ligacao& l, const unsigned char* bytes, int n) {
  if (l.pendente_n + n > static_cast<int>(sizeof l.pendente)) return;  // never with the few commands sent
  std::memcpy(l.pendente + l.pendente_n, bytes, static_cast<size_t>(n));
  l.pendente_n += n;
  esvazia(l);
}

void manda_comando(Ligacao& l, unsigned char cmd, unsigned char valor) {
  unsigned char buf[16];
  manda(l, buf, telnet::comando(cmd, &valor, 1, buf));
}

// One read off the socket, at most n bytes, with the telnet commands taken
// out. The acknowledgement is asked to go at once: a server that holds its
// next byte until the last one is acknowledged would otherwise wait for the
// delayed ACK.
int recebe(Ligacao& l, unsigned char* buf, int n) {
  if (l.fechada || n <= 0) return 0;
  opcao(l.fd, IPPROTO_TCP, TCP_QUICKACK, 1);
  for (;;) {
    ssize_t r = recv(l.fd, buf, static_cast<size_t>(n), MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 || (r < 0 && errno != EAGAIN)) l.fechada = true;
    if (r <= 0) return 0;
    if (!l.telnet) return static_cast<int>(r);
    int dados = telnet::recebe(l.t, buf, static_cast<int>(r));
    if (l.t.resposta_n > 0) {
      manda(l, l.t.resposta, l.t.resposta_n);
      l.t.resposta_n = 0;
    }
    return dados;
  }
}

// Reads into the bytes kept for later, while the opening is awaited.
void guarda(Ligacao& l) {
  int livres = static_cast<int>(sizeof l.guardados) - l.guardados_n;
  l.guardados_n += recebe(l, l.guardados + l.guardados_n, livres);
}

int tira_guardados(Ligacao& l, unsigned char* buf, int n) {
  return guardados::tira(l.guardados, l.guardados_n, buf, n);
}

// What a server that closed at once said (ser2net: "Device open failure:
// ..."), on one line.
void razao_do_servidor(Ligacao& l) {
  if (guardados::razao(l.guardados, l.guardados_n, razao, sizeof razao) == 0) {
    da_razao("o servidor fechou a conexao");
  }
}

// Waits until `pronto` holds, the connection closes, or prazo; the line's
// bytes meanwhile are kept.
template <typename Pronto>
void aguarda_servidor(Ligacao& l, timespec prazo, Pronto pronto) {
  while (!pronto() && !l.fechada && l.guardados_n < static_cast<int>(sizeof l.guardados)) {
    if (!espera(l.fd, POLLIN, prazo)) return;
    guarda(l);
  }
}

int conecta_endereco(const addrinfo* a, timespec prazo, int& erro) {
  int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
  if (fd < 0) {
    erro = errno;
    return -1;
  }
  if (connect(fd, a->ai_addr, a->ai_addrlen) != 0 && errno != EINPROGRESS) {
    erro = errno;
    close(fd);
    return -1;
  }
  erro = ETIMEDOUT;
  if (espera(fd, POLLOUT, prazo)) {
    socklen_t n = sizeof erro;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &erro, &n) != 0) erro = errno;
  }
  if (erro == 0) return fd;
  close(fd);
  return -1;
}

// Connects to the first of the host's addresses that answers, all within
// the one deadline. -1 with the reason given when none did.
int conecta(const endereco::Endereco& e) {
  addrinfo dica{};
  dica.ai_family = AF_UNSPEC;
  dica.ai_socktype = SOCK_STREAM;
  addrinfo* lista = nullptr;
  int r = getaddrinfo(e.host, e.servico, &dica, &lista);
  if (r != 0) {
    da_razao(r == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(r));
    return -1;
  }
  timespec prazo = instante_mais_us(agora(), prazo_conexao_us);
  int erro = ETIMEDOUT;
  int fd = -1;
  for (const addrinfo* a = lista; a != nullptr && fd < 0 && !passou(prazo); a = a->ai_next) {
    fd = conecta_endereco(a, prazo, erro);
  }
  freeaddrinfo(lista);
  if (fd < 0) da_razao(std::strerror(erro));
  return fd;
}

// rfc2217://: the offers, then the server's word on COM-PORT-OPTION.
// tcp://: a moment for a server that cannot open its device to say so.
void abertura(Ligacao& l) {
  if (l.telnet) {
    unsigned char buf[32];
    manda(l, buf, telnet::abertura(l.t, buf));
    aguarda_servidor(l, l.prazo_respostas, [&] { return l.t.porta_aceita || l.t.porta_recusada; });
  } else {
    aguarda_servidor(l, instante_mais_us(agora(), espera_recusa_us), [] { return false; });
  }
}

bool respondeu_tudo(const telnet::Estado& t) {
  return telnet::respondeu(t, telnet::cmd_taxa) && telnet::respondeu(t, telnet::cmd_bits) &&
         telnet::respondeu(t, telnet::cmd_paridade) && telnet::respondeu(t, telnet::cmd_parada);
}

}  // namespace

namespace rede {

bool e_rede(Porta p) { return ligacao(p) != nullptr; }

Porta abre(const char* nome) {
  razao[0] = '\0';
  endereco::Endereco e;
  if (!endereco::separa(nome, e)) {
    da_razao("endereco invalido; use HOST:PORTA");
    return porta_invalida;
  }
  Ligacao* l = livre();
  if (l == nullptr) {
    da_razao(std::strerror(EMFILE));
    return porta_invalida;
  }
  int fd = conecta(e);
  if (fd < 0) return porta_invalida;
  ajusta_socket(fd);
  *l = Ligacao{};
  l->fd = fd;
  l->telnet = e.telnet;
  l->prazo_respostas = instante_mais_us(agora(), prazo_respostas_us);
  abertura(*l);
  if (l->fechada) {
    razao_do_servidor(*l);
    fecha(fd);
    return porta_invalida;
  }
  return fd;
}

bool configura(Porta p, int baud) {
  Ligacao& l = *ligacao(p);
  if (!l.telnet || !l.t.porta_aceita) return !l.fechada;  // the rate is the server's
  unsigned char buf[96];
  manda(l, buf, telnet::comando_taxa(static_cast<std::uint32_t>(baud), buf));
  manda_comando(l, telnet::cmd_bits, 8);
  manda_comando(l, telnet::cmd_paridade, 1);  // none
  manda_comando(l, telnet::cmd_parada, 1);    // one stop bit
  manda_comando(l, telnet::cmd_controle, telnet::controle_sem_fluxo);
  manda_comando(l, telnet::cmd_controle, telnet::controle_sem_fluxo_entrada);
  manda_comando(l, telnet::cmd_controle, telnet::controle_dtr_desliga);
  manda_comando(l, telnet::cmd_controle, telnet::controle_rts_desliga);
  // SET-CONTROL goes unanswered where the device has no modem lines: only
  // the line settings are awaited.
  aguarda_servidor(l, l.prazo_respostas, [&] { return respondeu_tudo(l.t); });
  if (telnet::respondeu(l.t, telnet::cmd_taxa)) l.taxa_servidor = static_cast<int>(l.t.taxa);
  if (l.fechada) razao_do_servidor(l);
  return !l.fechada;
}

int le(Porta p, unsigned char* buf, int n) {
  Ligacao& l = *ligacao(p);
  timespec prazo = instante_mais_us(agora(), 1000);
  int lidos = tira_guardados(l, buf, n);
  for (;;) {
    lidos += recebe(l, buf + lidos, n - lidos);
    if (lidos >= n) return lidos;
    if (l.fechada) {
      dorme_ate(prazo);  // as a hung-up tty: the time-out is waited out
      return lidos;
    }
    if (!espera(l.fd, POLLIN, prazo)) return lidos;
  }
}

int le_disponivel(Porta p, unsigned char* buf, int n) {
  Ligacao& l = *ligacao(p);
  int lidos = tira_guardados(l, buf, n);
  return lidos + recebe(l, buf + lidos, n - lidos);
}

int escreve_agora(Porta p, const unsigned char* buf, int n) {
  Ligacao& l = *ligacao(p);
  esvazia(l);
  if (l.fechada) return -1;
  if (l.pendente_n > 0) return 0;
  unsigned char escapados[1024];
  int usados = n;
  int k = n;
  const unsigned char* sai = buf;
  if (l.telnet) {
    k = telnet::escapa(buf, n, escapados, sizeof escapados, usados);
    sai = escapados;
  }
  for (;;) {
    ssize_t r = send(l.fd, sai, static_cast<size_t>(k), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0 && errno == EAGAIN) return 0;
    if (r < 0) {
      l.fechada = true;
      return -1;
    }
    if (!l.telnet) return static_cast<int>(r);
    // Over telnet a doubled 0xFF may have been cut: the rest goes first next time.
    std::memcpy(l.pendente, sai + r, static_cast<size_t>(k - r));
    l.pendente_n = k - static_cast<int>(r);
    return usados;
  }
}

void fecha(Porta p) {
  Ligacao* l = ligacao(p);
  if (l == nullptr) return;
  close(l->fd);
  l->fd = -1;
}

bool caiu(Porta p) {
  Ligacao& l = *ligacao(p);
  return l.fechada && l.guardados_n == 0;
}

bool tem_dados(Porta p) { return ligacao(p)->guardados_n > 0; }

bool sinal(Porta p, bool dtr, bool liga) {
  Ligacao& l = *ligacao(p);
  if (!l.telnet) return false;
  unsigned char valor = dtr ? (liga ? telnet::controle_dtr_liga : telnet::controle_dtr_desliga)
                            : (liga ? telnet::controle_rts_liga : telnet::controle_rts_desliga);
  manda_comando(l, telnet::cmd_controle, valor);
  return !l.fechada;
}

}  // namespace rede

// --- added by rede ---

std::int64_t porta_ida_e_volta_us(Porta p) {
  Ligacao* l = ligacao(p);
  if (l == nullptr) return 0;
  tcp_info info{};
  socklen_t n = sizeof info;
  if (getsockopt(l->fd, IPPROTO_TCP, TCP_INFO, &info, &n) != 0) return 0;
  return info.tcpi_rtt;
}

const char* porta_razao(const char* nome) { return rede::e_url(nome) && razao[0] != '\0' ? razao : nullptr; }

int porta_taxa_do_servidor(Porta p) {
  Ligacao* l = ligacao(p);
  return l != nullptr ? l->taxa_servidor : 0;
}

}  // namespace plat
