#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "platform/plataforma.hpp"
#include "tests/fake/fake.hpp"

namespace fake {

namespace {

struct Evento {
  Micros quando;
  unsigned char byte;
};

struct Estado {
  Micros relogio = 0;
  std::deque<Evento> linha;    // bytes on their way to the program, by arrival time
  std::deque<Evento> teclado;  // keys, by the time they are typed
  std::function<void(unsigned char)> dispositivo;
  std::string enviados;
  std::string pedidos;
  std::string modos;
  std::string porta;
  int leituras = 0;
  Micros dormido_us = 0;
  Micros perdida_em = -1;  // the line is lost from this time on (-1: never)
  Micros volta_em = -1;    // and can be opened again from this time on (-1: never)
  Micros trava_de = -1;    // the line takes nothing from trava_de until trava_ate
  Micros trava_ate = -1;
  std::string eventos_porta;
  int baud = 0;
  bool falha_abrir = false;
  bool erro_terminal = false;  // standard error is a terminal
  bool falha_configurar = false;
  Micros interrompe_em = -1;  // Ctrl-C from this time on (-1: never)
  bool segura = false;        // an upload holds interruptions off
  std::string linhas_modem;   // what porta_linha_modem drove, and when
  int erro_linhas = 0;        // porta_linha_modem fails with this (0: it works)
  Micros ida_e_volta = 0;     // a network port's round trip (0: a local port)
  int taxa_servidor = 0;      // the rate a serial-port server said it set
};

Estado e;

constexpr Micros tempo_limite_leitura = 1000;

void insere(std::deque<Evento>& fila, Evento ev) {
  auto depois = std::upper_bound(fila.begin(), fila.end(), ev.quando,
                                 [](Micros t, const Evento& x) { return t < x.quando; });
  fila.insert(depois, ev);
}

bool perdida() { return e.perdida_em >= 0 && e.relogio >= e.perdida_em; }
bool travada() { return e.relogio >= e.trava_de && e.relogio < e.trava_ate; }

// Takes up to n bytes that have arrived by `ate`.
int toma(unsigned char* buf, int n, Micros ate) {
  int lidos = 0;
  while (lidos < n && !e.linha.empty() && e.linha.front().quando <= ate) {
    buf[lidos++] = e.linha.front().byte;
    e.linha.pop_front();
  }
  return lidos;
}

}  // namespace

void reinicia() { e = Estado{}; }
void erro_terminal(bool sim) { e.erro_terminal = sim; }
Micros agora() { return e.relogio; }

void chega(std::string_view bytes, Micros quando) {
  if (quando < 0) quando = e.relogio;
  for (char c : bytes) insere(e.linha, {quando, static_cast<unsigned char>(c)});
}

void dispositivo(std::function<void(unsigned char)> d) { e.dispositivo = std::move(d); }

void dispositivo_eco(Micros atraso, std::string resposta) {
  dispositivo([atraso, resposta](unsigned char c) {
    chega(std::string_view(reinterpret_cast<const char*>(&c), 1), e.relogio + atraso);
    if (c == '\n') chega(resposta, e.relogio + atraso);
  });
}

void teclas(std::string_view k, Micros quando) {
  if (quando < 0) quando = e.relogio;
  for (char c : k) insere(e.teclado, {quando, static_cast<unsigned char>(c)});
}

const std::string& enviados() { return e.enviados; }
int leituras() { return e.leituras; }
const std::string& pedidos() { return e.pedidos; }
int dormido_ms() { return static_cast<int>(e.dormido_us / 1000); }
void perde_linha(Micros quando) { e.perdida_em = quando < 0 ? e.relogio : quando; }
void volta_linha(Micros quando) { e.volta_em = quando; }
void trava_linha(Micros de, Micros ate) {
  e.trava_de = de;
  e.trava_ate = ate;
}
const std::string& porta_eventos() { return e.eventos_porta; }
const std::string& modos() { return e.modos; }
void porta_falha_ao_abrir(bool falha) { e.falha_abrir = falha; }
void porta_falha_ao_configurar(bool falha) { e.falha_configurar = falha; }
const std::string& porta_aberta() { return e.porta; }
int baud_configurado() { return e.baud; }
void rede(Micros ida_e_volta, int taxa_servidor) {
  e.ida_e_volta = ida_e_volta;
  e.taxa_servidor = taxa_servidor;
}

}  // namespace fake

namespace plat {

using fake::e;

Porta porta_abre(const char* nome) {
  e.porta = nome;
  bool ausente = fake::perdida() && (e.volta_em < 0 || e.relogio < e.volta_em);
  if (e.falha_abrir || ausente) {
    e.eventos_porta += 'a';
    return porta_invalida;
  }
  e.perdida_em = -1;  // back: the port opened now works
  e.volta_em = -1;
  e.eventos_porta += 'A';
  return 3;
}

bool porta_configura(Porta, int baud) {
  e.baud = baud;
  return !e.falha_configurar;
}

// Returns as soon as n bytes are there, or after the 1 ms time-out.
int porta_le(Porta, unsigned char* buf, int n) {
  ++e.leituras;
  e.pedidos.push_back(static_cast<char>(n));
  fake::Micros prazo = e.relogio + fake::tempo_limite_leitura;
  int lidos = 0;
  if (fake::perdida()) {
    e.relogio = prazo;
    return 0;
  }
  while (lidos < n && !e.linha.empty() && e.linha.front().quando <= prazo) {
    e.relogio = std::max(e.relogio, e.linha.front().quando);
    lidos += fake::toma(buf + lidos, 1, e.relogio);
  }
  if (lidos < n) e.relogio = prazo;
  return lidos;
}

int porta_le_disponivel(Porta, unsigned char* buf, int n) {
  if (fake::perdida()) return 0;
  return fake::toma(buf, n, e.relogio);
}

int porta_escreve_agora(Porta, const unsigned char* buf, int n) {
  if (fake::perdida()) return -1;
  if (fake::travada()) return 0;
  for (int i = 0; i < n; ++i) {
    e.enviados.push_back(static_cast<char>(buf[i]));
    if (e.dispositivo) e.dispositivo(buf[i]);
  }
  return n;
}

int porta_escreve(Porta p, const unsigned char* buf, int n) {
  constexpr fake::Micros prazo_escrita = 2'000'000;
  if (fake::travada()) {
    if (e.trava_ate - e.relogio > prazo_escrita) {
      e.relogio += prazo_escrita;
      return 0;
    }
    e.relogio = e.trava_ate;
  }
  int r = porta_escreve_agora(p, buf, n);
  return r < 0 ? 0 : r;
}

int porta_erro() { return e.falha_abrir ? ENOENT : EINVAL; }
const char* porta_erro_texto() { return std::strerror(porta_erro()); }
const char* porta_grupo(const char*) { return nullptr; }
void porta_fecha(Porta) { e.eventos_porta += 'F'; }

int portas_presentes(char* buf, std::size_t tamanho) {
  if (tamanho > 0) buf[0] = '\0';
  return 0;
}

void processo_inicia() {}
bool saida_utf8() { return false; }
bool saida_console(const char*, std::size_t) { return false; }
bool saida_console_utf8(const char*, std::size_t) { return false; }
bool saida_terminal() { return false; }
bool erro_terminal() { return e.erro_terminal; }
void temporizador_fino(bool) {}

std::FILE* arquivo_abre(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  return std::fopen(caminho, "rb");
}

void console_inicia() { e.modos += 'I'; }
void console_termina() { e.modos += 'F'; }

bool tecla_pronta() { return !e.teclado.empty() && e.teclado.front().quando <= e.relogio; }

int tecla_le() {
  if (e.teclado.empty()) return -1;
  e.relogio = std::max(e.relogio, e.teclado.front().quando);
  int c = e.teclado.front().byte;
  e.teclado.pop_front();
  return c;
}

// A typed line, from the scripted keyboard, up to its line feed.
int le_linha(char* buf, int tamanho) {
  e.modos += 'L';
  int n = 0;
  bool longa = false;
  bool leu = false;
  for (int c; (c = tecla_le()) >= 0;) {
    leu = true;
    if (c == '\n' || c == '\r') break;
    if (n < tamanho - 1) {
      buf[n++] = static_cast<char>(c);
    } else {
      longa = true;
    }
  }
  buf[n] = '\0';
  e.modos += 'T';
  if (!leu) return -1;
  return longa ? tamanho : n;
}

// Moves the clock to the first asked event, or by ms when none comes sooner.
unsigned aguarda(Porta, unsigned eventos, int ms) {
  const fake::Micros nunca = -1;
  auto mais_cedo = [](fake::Micros a, fake::Micros b) { return a < 0 ? b : (b < 0 ? a : std::min(a, b)); };
  fake::Micros proximo = nunca;
  bool porta = (eventos & (ev_linha | ev_escrita)) != 0;
  if (porta && e.perdida_em >= 0) proximo = mais_cedo(proximo, std::max(e.perdida_em, e.relogio));
  if ((eventos & ev_escrita) != 0 && !fake::perdida())
    proximo = mais_cedo(proximo, fake::travada() ? e.trava_ate : e.relogio);
  if ((eventos & ev_linha) != 0 && !e.linha.empty() && !fake::perdida())
    proximo = mais_cedo(proximo, std::max(e.linha.front().quando, e.relogio));
  if ((eventos & ev_tecla) != 0 && !e.teclado.empty())
    proximo = mais_cedo(proximo, std::max(e.teclado.front().quando, e.relogio));
  fake::Micros limite = ms < 0 ? nunca : e.relogio + static_cast<fake::Micros>(ms) * 1000;
  if (proximo == nunca || (limite != nunca && proximo > limite)) {
    if (limite == nunca) throw fake::FimDoRoteiro{};
    e.relogio = limite;
    return 0;
  }
  e.relogio = proximo;
  unsigned achou = 0;
  if (porta && fake::perdida()) return ev_perdida;
  if ((eventos & ev_escrita) != 0 && !fake::travada()) achou |= ev_escrita;
  if ((eventos & ev_linha) != 0 && !e.linha.empty() && e.linha.front().quando <= e.relogio) achou |= ev_linha;
  if ((eventos & ev_tecla) != 0 && tecla_pronta()) achou |= ev_tecla;
  return achou;
}

void dorme_ms(int ms) { dorme_ate_us(e.relogio + static_cast<fake::Micros>(ms) * 1000); }

std::int64_t agora_us() { return e.relogio; }

void dorme_ate_us(std::int64_t instante) {
  if (instante <= e.relogio) return;
  e.dormido_us += instante - e.relogio;
  e.relogio = instante;
}

bool console_perdido() { return false; }

}  // namespace plat

// --- Ctrl-C during an upload --------------------------------------------------

namespace fake {
void interrompe(Micros quando) { e.interrompe_em = quando; }
}  // namespace fake

namespace plat {

void interrupcao_segura(bool liga) { e.segura = liga; }

bool interrompido() { return e.segura && e.interrompe_em >= 0 && e.relogio >= e.interrompe_em; }

void termina_pela_interrupcao() {
  e.segura = false;
  e.interrompe_em = -1;
  throw fake::Interrompido{};
}

}  // namespace plat

// Port names, standard output during --batch, the --log file and --help.
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace plat {

// The fake /dev holds ttyUSB0 and tty (the console); any other tty* name is
// placed there all the same, and any other name is its own path.
bool porta_nomeia_dispositivo(const char* nome) {
  return std::string_view(nome) == "ttyUSB0" || std::string_view(nome) == "tty";
}

// The fake console is /dev/tty, also by its bare name.
bool porta_e_console(const char* nome) {
  return std::string_view(nome) == "tty" || std::string_view(nome) == "/dev/tty";
}

bool porta_caminho(const char* nome, char* buf, std::size_t tamanho) {
  std::string_view n(nome);
  bool tty = n.substr(0, 3) == "tty" && n.find('/') == std::string_view::npos;
  std::string caminho = tty ? std::string("/dev/") + nome : std::string(nome);
  if (caminho.size() >= tamanho) return false;
  caminho.copy(buf, caminho.size());
  buf[caminho.size()] = '\0';
  return true;
}

std::size_t saida_escreve_sem_esperar(const void* buf, std::size_t n) {
  return std::fwrite(buf, 1, n, stdout);
}

std::FILE* arquivo_acrescenta(const char* caminho, bool& nao_comum) {
  nao_comum = false;
  return std::fopen(caminho, "ab");
}

bool mesmo_arquivo(const char* a, const char* b) {
  std::error_code erro;
  return std::filesystem::equivalent(a, b, erro);
}

const char* ajuda_uso_porta() { return "COMn | /dev/CAMINHO"; }
const char* ajuda_portas() { return "  COMn  porta serial n\n"; }
const char* ajuda_exemplos() { return "  xagterm COM3 b=115200\n"; }

// Network ports: a round trip and a server's rate, as a test sets them.
std::int64_t porta_ida_e_volta_us(Porta) { return e.ida_e_volta; }
const char* porta_razao(const char*) { return nullptr; }
int porta_taxa_do_servidor(Porta) { return e.taxa_servidor; }

}  // namespace plat

// --- the modem lines -----------------------------------------------------------

namespace fake {
const std::string& linhas_modem() { return e.linhas_modem; }
void sem_linhas_modem(int erro) { e.erro_linhas = erro; }
}  // namespace fake

namespace plat {

int porta_linha_modem(Porta, int linha, bool liga) {
  if (e.erro_linhas != 0) return e.erro_linhas;
  e.linhas_modem += linha == linha_dtr ? 'D' : 'R';
  e.linhas_modem += liga ? '1' : '0';
  e.linhas_modem += '@' + std::to_string(e.relogio) + ' ';
  return 0;
}

}  // namespace plat
