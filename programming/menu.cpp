#include "programming/menu.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/plataforma.hpp"
#include "programming/registros.hpp"
#include "saida/saida.hpp"
#include "serial/troca.hpp"

namespace {

constexpr int caractere_de_deteccao = 'f';
constexpr int tentativas_de_deteccao = 7;
constexpr int ctrl_f = 0x06;  // the key that opened the menu

bool relatou_sem_eco = false;  // this action has said a record went without its echo

int maiuscula(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// Says on standard error why the handshake failed: nothing came back at all,
// or only other bytes (a board at another rate echoes garbled characters).
void relata_falha_de_deteccao(bool houve_eco, int tentativas) {
  if (!houve_eco) {
    relata(
        "nenhum eco do 'f': placa desligada, fora do firmware de programacao "
        "ou linha interrompida");
  } else {
    relata("eco errado do 'f' (tentativas: %d): a placa deve estar em outra taxa", tentativas);
  }
}

}  // namespace

// Sends 'f' until the device echoes it back: a device at another rate
// echoes something else; none at all, or a NUL, ends the attempts.
bool detecta_baud() {
  int eco = -1;
  int tentativas = 0;
  bool houve_eco = false;
  do {
    eco = escreve_ser(caractere_de_deteccao);
    ++tentativas;
    houve_eco = houve_eco || eco >= 0;
  } while (eco != caractere_de_deteccao && eco > 0 && tentativas < tentativas_de_deteccao);
  if (eco == caractere_de_deteccao) return true;
  mostra("\nFalhou a detec\xE7\xE3o do baud-rate\n\n");
  relata_falha_de_deteccao(houve_eco, tentativas);
  return false;
}

namespace {

// A record of the action; with `retem` an answer that comes before its last
// echo waits for mostra_resposta, after the label that names it. The action
// goes on without an echo, but says so once: "RECORD", its line end as \n.
void envia(const char* registro, bool retem = false) {
  if (programa_registro(registro, retem) == 0 || relatou_sem_eco) return;
  relatou_sem_eco = true;
  int n = static_cast<int>(std::strlen(registro));
  bool fim_de_linha = n > 0 && registro[n - 1] == '\n';
  relata("registro sem eco: %.*s%s", fim_de_linha ? n - 1 : n, registro, fim_de_linha ? "\\n" : "");
}

// The first record of an action: what is still waiting on the line (the
// echo of a second 'f', an answer) is shown first, not taken as its echoes.
void envia_primeiro(const char* registro, bool retem = false) {
  mostra_pendentes();
  envia(registro, retem);
}

int mostra_dados() {
  mostra("Mostrar Dados:\nEndere\xE7o inicial = ");
  std::int32_t inicio = lenum();
  if (inicio < 0) return -1;
  mostra("Numero de bytes (hex) =");
  std::int32_t quantos = lenum();
  if (quantos < 0) return -1;
  std::uint32_t fim = static_cast<std::uint32_t>(inicio) + static_cast<std::uint32_t>(quantos) - 1;
  char registro[tamanho_registro];
  registro_mostra(registro, inicio, static_cast<std::int32_t>(fim));
  envia_primeiro(registro);
  return 0;
}

int apaga_bloco() {
  mostra(
      "Apagar Bloco:\n0=[0000.1FFF] 2=[2000.3FFF] 4=[4000.7FFF] 8=[8000.BFFF] "
      "C=[C000.FFFF]\nBlock = ");
  // Times 16 in 32 bits: only the low 28 bits of the number pick a block.
  std::int32_t codigo = static_cast<std::int32_t>(static_cast<std::uint32_t>(lenum()) << 4);
  for (int i = blocos - 1; i >= 0; --i) {
    if (bloco[i] == codigo) {
      char registro[tamanho_registro];
      registro_apaga(registro, codigo);
      envia_primeiro(registro);
      return 0;
    }
  }
  mostra("Bloco Invalido\n\n");
  return -1;
}

[[noreturn]] void pronto_para_hex() {
  mostra("\nPronto para programar um arquivo *.hex:\n");
  std::exit(0);
}

// Ctrl-X while a reply is drained ends the action there; the terminal then
// takes the key as typed to it, and leaves.
int le_status_e_boot() {
  envia_primeiro(registro_le_status, true);
  mostra("\nStatus=");
  mostra_resposta();
  if (!esperares()) return 0;
  envia(registro_le_boot, true);
  mostra("\nBoot vector=");
  mostra_resposta();
  return 0;  // the second answer is shown by the terminal loop
}

int zera_status() {
  mostra("Zerar byte de Status");
  envia_primeiro(registro_zera_status[0]);
  for (int i = 1; i < 4; ++i) {  // the four records, a drain between each two
    if (!esperares()) return 0;
    envia(registro_zera_status[i]);
  }
  return 0;  // its answer is shown by the terminal loop
}

}  // namespace

std::int32_t lenum() {
  std::uint32_t valor = 0;
  bool viu_digito = false;
  for (;;) {
    int tecla = plat::tecla_le();
    if (tecla >= 0) {
      tecla = maiuscula(tecla);
      mostra_byte(tecla);
    }
    int digito = digito_hex(tecla);  // upper case already
    if (digito < 0) {
      mostra("\n");
      bool fim_valido = tecla == '\r' || tecla == '\n';
      return (viu_digito && fim_valido) ? static_cast<std::int32_t>(valor) : -1;
    }
    valor = valor * 16 + static_cast<std::uint32_t>(digito);
    viu_digito = true;
  }
}

int comando() {
  relatou_sem_eco = false;
  // What the board said before, then the echo of Ctrl-F, which a slow line
  // brings only now: it is not taken as the echo of the first 'f'.
  mostra_ate(ctrl_f);
  if (!detecta_baud()) return -1;
  mostra(
      "\n*** Menu de programacao do XAG49: ***\nE: Apagar bloco\nS: Zerar Byte de Status\n"
      "D: Mostrar Dados\nR: Ler byte de Status e Vetor de boot\nH: Programar arquivo *.hex\n\n");
  switch (maiuscula(plat::tecla_le())) {
    case 'D': return mostra_dados();
    case 'E': return apaga_bloco();
    case 'H': pronto_para_hex();
    case 'R': return le_status_e_boot();
    case 'S': return zera_status();
    default: return -1;
  }
}
