#include "platform/comum/telnet.hpp"

namespace telnet {

namespace {

// Only these are agreed to; everything else (ECHO too: the board echoes,
// not the server) is refused.
bool aceitamos(unsigned char op) { return op == op_binario || op == op_sem_ga; }

void responde(Estado& e, unsigned char verbo, unsigned char op) {
  if (e.resposta_n + 3 > tamanho_resposta) return;  // a server flooding requests gets no more answers
  e.resposta[e.resposta_n++] = iac;
  e.resposta[e.resposta_n++] = verbo;
  e.resposta[e.resposta_n++] = op;
}

// An option request from the server. Answers only a change of state, so that
// two sides never answer each other's answers for ever.
void pedido(Estado& e, unsigned char verbo, unsigned char op) {
  switch (verbo) {
    case do_:
      if (op == op_porta) e.porta_aceita = true;
      if (aceitamos(op) || op == op_porta) {
        if (!e.nosso[op]) responde(e, will, op);
        e.nosso[op] = true;
      } else {
        responde(e, wont, op);
      }
      break;
    case dont:
      if (op == op_porta) e.porta_recusada = true;
      if (e.nosso[op]) responde(e, wont, op);
      e.nosso[op] = false;
      break;
    case will:
      if (aceitamos(op)) {
        if (!e.dele[op]) responde(e, do_, op);
        e.dele[op] = true;
      } else {
        responde(e, dont, op);
      }
      break;
    default:  // WONT
      if (e.dele[op]) responde(e, dont, op);
      e.dele[op] = false;
      break;
  }
}

// A whole subnegotiation. Of COM-PORT-OPTION only the answers count; the
// line-state and modem-state notifications are of no use here.
void subnegociacao(Estado& e) {
  if (e.sub_n < 2 || e.sub_buf[0] != op_porta || e.sub_buf[1] <= resposta_do_servidor) return;
  unsigned cmd = e.sub_buf[1] - resposta_do_servidor;
  if (cmd >= 32) return;
  e.respostas |= 1u << cmd;
  if (cmd == cmd_taxa && e.sub_n >= 6) {
    e.taxa = (std::uint32_t{e.sub_buf[2]} << 24) | (std::uint32_t{e.sub_buf[3]} << 16) |
             (std::uint32_t{e.sub_buf[4]} << 8) | e.sub_buf[5];
  }
}

void guarda_sub(Estado& e, unsigned char c) {
  if (e.sub_n < static_cast<int>(sizeof e.sub_buf)) e.sub_buf[e.sub_n++] = c;
}

}  // namespace

int abertura(Estado& e, unsigned char* out) {
  const unsigned char ofertas[][2] = {
      {will, op_porta}, {will, op_binario}, {do_, op_binario}, {will, op_sem_ga}, {do_, op_sem_ga}};
  int n = 0;
  for (const auto& o : ofertas) {
    out[n++] = iac;
    out[n++] = o[0];
    out[n++] = o[1];
    if (o[0] == will) e.nosso[o[1]] = true;
    if (o[0] == do_) e.dele[o[1]] = true;
  }
  return n;
}

int recebe(Estado& e, unsigned char* buf, int n) {
  int dados_n = 0;
  for (int i = 0; i < n; ++i) {
    unsigned char c = buf[i];
    switch (e.fase) {
      case Estado::dados:
        if (c == iac) {
          e.fase = Estado::comando;
        } else {
          buf[dados_n++] = c;
        }
        break;
      case Estado::comando:
        e.fase = Estado::dados;
        if (c == iac) {
          buf[dados_n++] = c;
        } else if (c >= will) {
          e.verbo = c;
          e.fase = Estado::opcao;
        } else if (c == sb) {
          e.sub_n = 0;
          e.fase = Estado::sub;
        }  // NOP, GA, and the rest carry nothing for us
        break;
      case Estado::opcao:
        pedido(e, e.verbo, c);
        e.fase = Estado::dados;
        break;
      case Estado::sub:
        if (c == iac) {
          e.fase = Estado::sub_iac;
        } else {
          guarda_sub(e, c);
        }
        break;
      case Estado::sub_iac:
        if (c == iac) {
          guarda_sub(e, c);
          e.fase = Estado::sub;
        } else {  // SE, or a broken subnegotiation: either way it ends here
          subnegociacao(e);
          e.fase = Estado::dados;
        }
        break;
    }
  }
  return dados_n;
}

int escapa(const unsigned char* dados, int n, unsigned char* out, int cap, int& usados) {
  int escritos = 0;
  usados = 0;
  while (usados < n) {
    int precisa = dados[usados] == iac ? 2 : 1;
    if (escritos + precisa > cap) break;
    out[escritos++] = dados[usados];
    if (precisa == 2) out[escritos++] = iac;
    ++usados;
  }
  return escritos;
}

int comando(unsigned char cmd, const unsigned char* valor, int n, unsigned char* out) {
  int k = 0;
  out[k++] = iac;
  out[k++] = sb;
  out[k++] = op_porta;
  out[k++] = cmd;
  int usados = 0;
  k += escapa(valor, n, out + k, 2 * n, usados);
  out[k++] = iac;
  out[k++] = se;
  return k;
}

int comando_taxa(std::uint32_t baud, unsigned char* out) {
  const unsigned char valor[4] = {static_cast<unsigned char>(baud >> 24),
                                  static_cast<unsigned char>(baud >> 16),
                                  static_cast<unsigned char>(baud >> 8), static_cast<unsigned char>(baud)};
  return comando(cmd_taxa, valor, 4, out);
}

}  // namespace telnet
