// The fake platform for unit tests: a scripted serial line, a scripted
// keyboard and a test clock. Waits cost no real time: a 1 ms pause or a read
// time-out only moves the clock on.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace fake {

using Micros = std::int64_t;

// Everything back to the start: clock 0, empty line and keyboard, no device.
void reinicia();

Micros agora();

// Bytes that arrive on the line at the given time (default: now).
void chega(std::string_view bytes, Micros quando = -1);

// The device: called for every byte the program writes, at the moment it is
// written. It answers by calling chega().
void dispositivo(std::function<void(unsigned char)> d);

// A device that echoes every byte after `atraso` microseconds and, after
// each line feed, answers with `resposta` once the echo is out.
void dispositivo_eco(Micros atraso = 10, std::string resposta = "");

// Keys: each becomes available at the given time (default: now).
void teclas(std::string_view k, Micros quando = -1);

// What the program wrote to the line, in order.
const std::string& enviados();

// Port reads made with porta_le (each poll of the echo wait is one).
int leituras();
// Bytes each porta_le asked for, in order (20 for a reply read, 1 for a poll).
const std::string& pedidos();
// Sum of all pauses (dorme_ms, dorme_ate_us), in whole milliseconds.
int dormido_ms();

// From `quando` on (default: now) the line is gone, as an unplugged adapter:
// reads bring nothing, writes fail, aguarda reports plat::ev_perdida.
void perde_linha(Micros quando = -1);

// The lost line is back from `quando` on: porta_abre succeeds again and the
// port it opens works (the handle held when it was lost stays dead).
void volta_linha(Micros quando);

// From `de` until `ate` the line takes nothing: porta_escreve_agora returns 0
// and aguarda never reports plat::ev_escrita.
void trava_linha(Micros de, Micros ate);

// What was done to the port, in order: 'A' opened, 'a' refused, 'F' closed.
const std::string& porta_eventos();

// Console mode changes, in order: 'I' inicia, 'F' termina; 'L' then 'T'
// around a typed line (le_linha, which reads the scripted keys).
const std::string& modos();

// Standard error is a terminal (plat::erro_terminal); false until set.
void erro_terminal(bool sim);

// Port open/configure behaviour and what they were given.
void porta_falha_ao_abrir(bool falha);
void porta_falha_ao_configurar(bool falha);
const std::string& porta_aberta();
int baud_configurado();

// The port as a network one: its round trip, and the rate its server said
// it set (0: none said).
void rede(Micros ida_e_volta, int taxa_servidor);

// Thrown by aguarda (with no time limit) when nothing can ever arrive: the terminal loop
// would wait forever, so the test's script is over.
struct FimDoRoteiro {};

// Ctrl-C: from `quando` on, an interruption is noted while an upload holds it
// off (plat::interrupcao_segura); plat::termina_pela_interrupcao then throws
// Interrompido instead of ending the test.
void interrompe(Micros quando);
struct Interrompido {};

// The modem lines driven with plat::porta_linha_modem, in order, each as
// "D1@T " (DTR on), "D0@T", "R1@T", "R0@T" with T the virtual time in us.
const std::string& linhas_modem();
// The port has no modem lines: porta_linha_modem fails with `erro` (0: it
// has them again).
void sem_linhas_modem(int erro);

}  // namespace fake

// --- added by multi: scripted children ---

#include <vector>

namespace fake {

// A piece of a child's output: bytes on one of its streams
// (plat::canal_saida, plat::canal_erro) at a given time.
struct Pedaco {
  Micros quando;
  int canal;
  std::string bytes;
};

// No children, no scripts, no interruption.
void filhos_reinicia();

// The next child started follows this script: its pieces, then at `fim` its
// streams end and it exits with `status`. A child started with no script
// left fails to start (ENOENT).
void filho(std::vector<Pedaco> pedacos, Micros fim, int status);

// The arguments each child was started with, in order.
const std::vector<std::vector<std::string>>& filhos_argv();

// Ctrl-C at `quando`: every child that has not ended by then ends 1 ms later
// with status 130, its later pieces unwritten; plat::filhos_vigia(false)
// then throws Interrompido.
void interrompe_filhos(Micros quando);

// Children waited for with plat::filho_espera.
int filhos_esperados();

}  // namespace fake
