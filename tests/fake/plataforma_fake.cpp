#include <algorithm>
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
  int dormido_ms = 0;
  int baud = 0;
  bool falha_abrir = false;
  bool falha_configurar = false;
};

Estado e;

constexpr Micros tempo_limite_leitura = 1000;

void insere(std::deque<Evento>& fila, Evento ev) {
  auto depois = std::upper_bound(fila.begin(), fila.end(), ev.quando,
                                 [](Micros t, const Evento& x) { return t < x.quando; });
  fila.insert(depois, ev);
}

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
int dormido_ms() { return e.dormido_ms; }
const std::string& modos() { return e.modos; }
void porta_falha_ao_abrir(bool falha) { e.falha_abrir = falha; }
void porta_falha_ao_configurar(bool falha) { e.falha_configurar = falha; }
const std::string& porta_aberta() { return e.porta; }
int baud_configurado() { return e.baud; }

}  // namespace fake

namespace plat {

using fake::e;

Porta porta_abre(const char* nome) {
  e.porta = nome;
  return e.falha_abrir ? porta_invalida : 3;
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
  while (lidos < n && !e.linha.empty() && e.linha.front().quando <= prazo) {
    e.relogio = std::max(e.relogio, e.linha.front().quando);
    lidos += fake::toma(buf + lidos, 1, e.relogio);
  }
  if (lidos < n) e.relogio = prazo;
  return lidos;
}

int porta_le_disponivel(Porta, unsigned char* buf, int n) { return fake::toma(buf, n, e.relogio); }

void porta_escreve(Porta, const unsigned char* buf, int n) {
  for (int i = 0; i < n; ++i) {
    e.enviados.push_back(static_cast<char>(buf[i]));
    if (e.dispositivo) e.dispositivo(buf[i]);
  }
}

void console_inicia() { e.modos += 'I'; }
void console_termina() { e.modos += 'F'; }
void console_linha() { e.modos += 'L'; }
void console_teclas() { e.modos += 'T'; }

bool tecla_pronta() { return !e.teclado.empty() && e.teclado.front().quando <= e.relogio; }

int tecla_le() {
  if (e.teclado.empty()) return -1;
  e.relogio = std::max(e.relogio, e.teclado.front().quando);
  int c = e.teclado.front().byte;
  e.teclado.pop_front();
  return c;
}

void espera_entrada(Porta) {
  fake::Micros proximo = -1;
  if (!e.linha.empty()) proximo = e.linha.front().quando;
  if (!e.teclado.empty() && (proximo < 0 || e.teclado.front().quando < proximo)) {
    proximo = e.teclado.front().quando;
  }
  if (proximo < 0) throw fake::FimDoRoteiro{};
  e.relogio = std::max(e.relogio, proximo);
}

void dorme_ms(int ms) {
  e.dormido_ms += ms;
  e.relogio += static_cast<fake::Micros>(ms) * 1000;
}

}  // namespace plat
