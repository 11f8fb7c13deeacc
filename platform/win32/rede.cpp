// Network ports on Windows, on Winsock 2. The socket is non-blocking (its
// event chosen with WSAEventSelect makes it so); every wait is a select or a
// wait on that event, with a deadline.

// Winsock's headers before windows.h (win32.hpp), which would bring the old
// ones in.
#include <winsock2.h>
// Then the ones that build on it.
#include <ws2tcpip.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/comum/guardados.hpp"
#include "platform/comum/telnet.hpp"
#include "platform/win32/rede.hpp"
#include "platform/win32/win32.hpp"

namespace plat {

namespace {

constexpr std::int64_t prazo_conexao_us = 3'000'000;    // connect, or give up
constexpr std::int64_t prazo_respostas_us = 1'000'000;  // every answer of the opening, in all
constexpr std::int64_t espera_recusa_us = 50'000;       // a tcp:// server that fails says so at once
constexpr std::int64_t prazo_escrita_us = 2'000'000;    // the link took nothing for this long: give up
constexpr std::int64_t tempo_leitura_us = 1000;         // a read returns after 1 ms with whatever came
constexpr ULONG vivo_ocioso_ms = 5000;                  // keep-alive probes after this much silence,
constexpr ULONG vivo_intervalo_ms = 1000;               // this far apart,
constexpr int vivo_sondas = 3;                          // this many unanswered: the link is dead
constexpr int maximo_ligacoes = 4;

// The socket controls by their numbers: the SDK headers give the newer ones
// only to programs built for the Windows 10 that has them, and this one runs
// on Windows 7 too, where they are refused and the older way is kept.
constexpr DWORD controle_entra = 0x80000000;  // IOC_IN
constexpr DWORD controle_sai = 0x40000000;    // IOC_OUT
constexpr DWORD controle_do_fabricante = 0x18000000;
constexpr DWORD sio_keepalive_vals = controle_entra | controle_do_fabricante | 4;
constexpr DWORD sio_tcp_set_ack_frequency = controle_entra | controle_do_fabricante | 23;
constexpr DWORD sio_tcp_info = controle_entra | controle_sai | controle_do_fabricante | 39;
constexpr int tcp_keepcnt = 16;  // Windows 10 1703 and later; before, ten probes

struct Vivo {  // tcp_keepalive
  ULONG liga;
  ULONG ocioso_ms;
  ULONG intervalo_ms;
};

struct InfoTcp {  // TCP_INFO_v0, as SIO_TCP_INFO fills it
  int estado;
  ULONG mss;
  ULONG64 conectada_ms;
  BOOLEAN marcas_de_tempo;
  ULONG ida_e_volta_us;
  ULONG menor_ida_e_volta_us;
  ULONG em_voo;
  ULONG janela_de_congestao;
  ULONG janela_de_envio;
  ULONG janela_de_recepcao;
  ULONG buffer_de_recepcao;
  ULONG64 bytes_enviados;
  ULONG64 bytes_recebidos;
  ULONG fora_de_ordem;
  ULONG retransmitidos;
  ULONG retransmissoes_rapidas;
  ULONG acks_repetidos;
  ULONG estouros;
  UCHAR syns_repetidos;
};

struct Ligacao {
  SOCKET s = INVALID_SOCKET;
  WSAEVENT evento = WSA_INVALID_EVENT;
  bool telnet = false;
  bool fechada = false;
  bool cheia = false;           // the last send met a full socket: wait for FD_WRITE
  bool sem_info_tcp = false;    // the system has no SIO_TCP_INFO
  std::int64_t conexao_us = 0;  // the round trip the connect took
  int taxa_servidor = 0;
  std::int64_t prazo_respostas = 0;
  telnet::Estado t;
  unsigned char guardados[2048]{};  // line bytes taken off the socket, not read yet
  int guardados_n = 0;
  unsigned char pendente[2048]{};  // bytes for the server the socket has not taken yet
  int pendente_n = 0;
};

Ligacao ligacoes[maximo_ligacoes];
char razao[256];  // why the last network port did not open

Ligacao* ligacao(Porta p) {
  for (Ligacao& l : ligacoes) {
    if (l.s != INVALID_SOCKET && static_cast<Porta>(l.s) == p) return &l;
  }
  return nullptr;
}

Ligacao* livre() {
  for (Ligacao& l : ligacoes) {
    if (l.s == INVALID_SOCKET) return &l;
  }
  return nullptr;
}

void da_razao(const char* texto) { std::snprintf(razao, sizeof razao, "%s", texto); }

// Winsock once, for the whole run.
bool inicia_winsock() {
  static bool iniciado = false;
  WSADATA dados{};
  if (!iniciado) iniciado = WSAStartup(MAKEWORD(2, 2), &dados) == 0;
  return iniciado;
}

// Waits for the socket (to read, or with `escrita` to write) until prazo;
// false when the time ran out. A failed connect counts as ready: its error
// is read next.
bool espera(SOCKET s, bool escrita, std::int64_t prazo) {
  for (;;) {
    std::int64_t falta = prazo - agora_us();
    if (falta <= 0) return false;
    fd_set pronto;
    fd_set erro;
    FD_ZERO(&pronto);
    FD_ZERO(&erro);
    FD_SET(s, &pronto);
    FD_SET(s, &erro);
    timeval t{static_cast<long>(falta / 1'000'000), static_cast<long>(falta % 1'000'000)};
    int r = select(0, escrita ? nullptr : &pronto, escrita ? &pronto : nullptr, &erro, &t);
    if (r > 0) return true;
    if (r < 0) return false;
  }
}

void opcao(SOCKET s, int nivel, int nome, int valor) {
  setsockopt(s, nivel, nome, reinterpret_cast<const char*>(&valor), sizeof valor);
}

void controle(SOCKET s, DWORD codigo, void* dado, DWORD tamanho) {
  DWORD n = 0;
  WSAIoctl(s, codigo, dado, tamanho, nullptr, 0, &n, nullptr, nullptr);
}

// No waiting on the network's own timers, and a dead link found within
// about ten seconds. Each a wish: a system without it goes on without it.
void ajusta_socket(SOCKET s) {
  opcao(s, IPPROTO_TCP, TCP_NODELAY, 1);
  opcao(s, SOL_SOCKET, SO_KEEPALIVE, 1);
  Vivo vivo{1, vivo_ocioso_ms, vivo_intervalo_ms};
  controle(s, sio_keepalive_vals, &vivo, sizeof vivo);
  opcao(s, IPPROTO_TCP, tcp_keepcnt, vivo_sondas);
  // Every segment acknowledged at once: a server that holds its next byte
  // until the last one is acknowledged would otherwise wait for the delayed
  // ACK.
  UCHAR frequencia = 1;
  controle(s, sio_tcp_set_ack_frequency, &frequencia, sizeof frequencia);
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);  // not for child programs
}

// Sends what waits for the server, as far as the socket takes it now.
void esvazia(Ligacao& l) {
  int enviados = 0;
  while (enviados < l.pendente_n && !l.fechada) {
    int r = send(l.s, reinterpret_cast<const char*>(l.pendente + enviados), l.pendente_n - enviados, 0);
    if (r > 0) {
      enviados += r;
      continue;
    }
    if (WSAGetLastError() == WSAEWOULDBLOCK) {
      l.cheia = true;
    } else {
      l.fechada = true;
    }
    break;
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
// out.
int recebe(Ligacao& l, unsigned char* buf, int n) {
  if (l.fechada || n <= 0) return 0;
  int r = recv(l.s, reinterpret_cast<char*>(buf), n, 0);
  if (r == 0 || (r < 0 && WSAGetLastError() != WSAEWOULDBLOCK)) l.fechada = true;
  if (r <= 0) return 0;
  if (!l.telnet) return r;
  int dados = telnet::recebe(l.t, buf, r);
  if (l.t.resposta_n > 0) {
    manda(l, l.t.resposta, l.t.resposta_n);
    l.t.resposta_n = 0;
  }
  return dados;
}

// Reads into the bytes kept for later.
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
void aguarda_servidor(Ligacao& l, std::int64_t prazo, Pronto pronto) {
  while (!pronto() && !l.fechada && l.guardados_n < static_cast<int>(sizeof l.guardados)) {
    if (!espera(l.s, false, prazo)) return;
    guarda(l);
  }
}

// A non-blocking connect to one address, waited for until prazo. The time
// it took is the link's first round trip (the handshake's).
SOCKET conecta_endereco(const addrinfo* a, std::int64_t prazo, int& erro, std::int64_t& levou_us) {
  SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
  if (s == INVALID_SOCKET) {
    erro = WSAGetLastError();
    return INVALID_SOCKET;
  }
  u_long sem_bloqueio = 1;
  ioctlsocket(s, FIONBIO, &sem_bloqueio);
  std::int64_t inicio = agora_us();
  if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0 && WSAGetLastError() != WSAEWOULDBLOCK) {
    erro = WSAGetLastError();
    closesocket(s);
    return INVALID_SOCKET;
  }
  erro = WSAETIMEDOUT;
  if (espera(s, true, prazo)) {
    int n = sizeof erro;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&erro), &n) != 0)
      erro = WSAGetLastError();
  }
  levou_us = agora_us() - inicio;
  if (erro == 0) return s;
  closesocket(s);
  return INVALID_SOCKET;
}

// Connects to the first of the host's addresses that answers, all within
// the one deadline. INVALID_SOCKET with the reason given when none did.
SOCKET conecta(const endereco::Endereco& e, std::int64_t& levou_us) {
  addrinfo dica{};
  dica.ai_family = AF_UNSPEC;
  dica.ai_socktype = SOCK_STREAM;
  dica.ai_protocol = IPPROTO_TCP;
  addrinfo* lista = nullptr;
  if (int r = getaddrinfo(e.host, e.servico, &dica, &lista); r != 0) {
    da_razao(win32::texto_do_erro(static_cast<DWORD>(r)));
    return INVALID_SOCKET;
  }
  std::int64_t prazo = agora_us() + prazo_conexao_us;
  int erro = WSAETIMEDOUT;
  SOCKET s = INVALID_SOCKET;
  for (const addrinfo* a = lista; a != nullptr && s == INVALID_SOCKET && agora_us() < prazo; a = a->ai_next) {
    s = conecta_endereco(a, prazo, erro, levou_us);
  }
  freeaddrinfo(lista);
  if (s == INVALID_SOCKET) da_razao(win32::texto_do_erro(static_cast<DWORD>(erro)));
  return s;
}

// rfc2217://: the offers, then the server's word on COM-PORT-OPTION.
// tcp://: a moment for a server that cannot open its device to say so.
void abertura(Ligacao& l) {
  if (l.telnet) {
    unsigned char buf[32];
    manda(l, buf, telnet::abertura(l.t, buf));
    aguarda_servidor(l, l.prazo_respostas, [&] { return l.t.porta_aceita || l.t.porta_recusada; });
  } else {
    aguarda_servidor(l, agora_us() + espera_recusa_us, [] { return false; });
  }
}

bool respondeu_tudo(const telnet::Estado& t) {
  return telnet::respondeu(t, telnet::cmd_taxa) && telnet::respondeu(t, telnet::cmd_bits) &&
         telnet::respondeu(t, telnet::cmd_paridade) && telnet::respondeu(t, telnet::cmd_parada);
}

void solta(Ligacao& l) {
  closesocket(l.s);
  if (l.evento != WSA_INVALID_EVENT) WSACloseEvent(l.evento);
  l.s = INVALID_SOCKET;
  l.evento = WSA_INVALID_EVENT;
}

// True when the connection has closed or failed and every byte it brought
// has been read.
bool caiu(const Ligacao& l) { return l.fechada && l.guardados_n == 0; }

// The events asked for that hold now; bytes on the socket are taken into
// the ones kept, so that a closed connection is seen once they are read.
unsigned achados(Ligacao& l, unsigned eventos) {
  unsigned r = 0;
  if ((eventos & ev_tecla) != 0 && win32::tecla_na_frente()) r |= ev_tecla;
  if ((eventos & (ev_linha | ev_escrita)) == 0) return r;
  if ((eventos & ev_linha) != 0) {
    if (l.guardados_n == 0) guarda(l);
    if (l.guardados_n > 0) r |= ev_linha;
  }
  if ((eventos & ev_escrita) != 0) {
    esvazia(l);
    if (l.pendente_n == 0 && !l.cheia) r |= ev_escrita;
  }
  if (caiu(l)) r |= ev_perdida;
  return r;
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
    da_razao(win32::texto_do_erro(WSAEMFILE));
    return porta_invalida;
  }
  if (!inicia_winsock()) {
    da_razao(win32::texto_do_erro(static_cast<DWORD>(WSAGetLastError())));
    return porta_invalida;
  }
  std::int64_t levou_us = 0;
  SOCKET s = conecta(e, levou_us);
  if (s == INVALID_SOCKET) return porta_invalida;
  ajusta_socket(s);
  *l = Ligacao{};
  l->s = s;
  l->conexao_us = levou_us;
  l->telnet = e.telnet;
  l->evento = WSACreateEvent();
  WSAEventSelect(s, l->evento, FD_READ | FD_WRITE | FD_CLOSE);
  l->prazo_respostas = agora_us() + prazo_respostas_us;
  abertura(*l);
  if (l->fechada) {
    razao_do_servidor(*l);
    solta(*l);
    return porta_invalida;
  }
  return static_cast<Porta>(s);
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
  std::int64_t prazo = agora_us() + tempo_leitura_us;
  int lidos = tira_guardados(l, buf, n);
  for (;;) {
    lidos += recebe(l, buf + lidos, n - lidos);
    if (lidos >= n) return lidos;
    if (l.fechada) {
      dorme_ate_us(prazo);  // as a port whose line is gone: the time-out is waited out
      return lidos;
    }
    if (!espera(l.s, false, prazo)) return lidos;
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
  int r = send(l.s, reinterpret_cast<const char*>(sai), k, 0);
  if (r < 0 && WSAGetLastError() == WSAEWOULDBLOCK) {
    l.cheia = true;
    return 0;
  }
  if (r < 0) {
    l.fechada = true;
    return -1;
  }
  if (!l.telnet) return r;
  // Over telnet a doubled 0xFF may have been cut: the rest goes first next time.
  std::memcpy(l.pendente, sai + r, static_cast<size_t>(k - r));
  l.pendente_n = k - r;
  return usados;
}

int escreve(Porta p, const unsigned char* buf, int n) {
  Ligacao& l = *ligacao(p);
  int enviados = 0;
  std::int64_t prazo = agora_us() + prazo_escrita_us;
  while (enviados < n) {
    int r = escreve_agora(p, buf + enviados, n - enviados);
    if (r < 0) return enviados;  // the connection has failed
    if (r > 0) {
      enviados += r;
      prazo = agora_us() + prazo_escrita_us;
      continue;
    }
    if (!espera(l.s, true, prazo)) return enviados;  // stalled
    l.cheia = false;
  }
  return enviados;
}

void fecha(Porta p) {
  if (Ligacao* l = ligacao(p)) solta(*l);
}

unsigned aguarda(Porta p, unsigned eventos, int ms) {
  Ligacao& l = *ligacao(p);
  const std::int64_t prazo = ms < 0 ? -1 : agora_us() + 1000LL * ms;
  for (;;) {
    if (unsigned r = achados(l, eventos); r != 0) return r;
    DWORD falta = prazo < 0 ? INFINITE : static_cast<DWORD>(em_ms(prazo - agora_us()));
    if (falta == 0) return 0;
    HANDLE alcas[2] = {l.evento, nullptr};
    DWORD quantas = 1;
    if ((eventos & ev_tecla) != 0 && win32::teclado() != nullptr) alcas[quantas++] = win32::teclado();
    WSAWaitForMultipleEvents(quantas, alcas, FALSE, falta, FALSE);
    WSANETWORKEVENTS vistos{};
    if (WSAEnumNetworkEvents(l.s, l.evento, &vistos) == 0 && (vistos.lNetworkEvents & FD_WRITE) != 0) {
      l.cheia = false;
    }
  }
}

bool sinal(Porta p, bool dtr, bool liga) {
  Ligacao& l = *ligacao(p);
  if (!l.telnet) return false;
  unsigned char valor = dtr ? (liga ? telnet::controle_dtr_liga : telnet::controle_dtr_desliga)
                            : (liga ? telnet::controle_rts_liga : telnet::controle_rts_desliga);
  manda_comando(l, telnet::cmd_controle, valor);
  return !l.fechada;
}

}  // namespace rede

// The system's own estimate where it gives one (Windows 10 1703 and later),
// otherwise the round trip the connect took.
std::int64_t porta_ida_e_volta_us(Porta p) {
  Ligacao* l = ligacao(p);
  if (l == nullptr) return 0;
  if (!l->sem_info_tcp) {
    DWORD versao = 0;
    InfoTcp info{};
    DWORD n = 0;
    if (WSAIoctl(l->s, sio_tcp_info, &versao, sizeof versao, &info, sizeof info, &n, nullptr, nullptr) == 0) {
      return info.ida_e_volta_us;
    }
    l->sem_info_tcp = true;  // not asked again
  }
  return l->conexao_us;
}

const char* porta_razao(const char* nome) { return rede::e_url(nome) && razao[0] != '\0' ? razao : nullptr; }

int porta_taxa_do_servidor(Porta p) {
  Ligacao* l = ligacao(p);
  return l != nullptr ? l->taxa_servidor : 0;
}

}  // namespace plat
