// xagterm: a serial terminal, hex file uploader and programming menu for
// boards with the XAG49 microcontroller.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "frontend/argumentos.hpp"
#include "saida/saida.hpp"
#include "frontend/terminal.hpp"
#include "platform/plataforma.hpp"
#include "programming/upload.hpp"
#include "serial/porta.hpp"

namespace {

// Exit statuses.
constexpr int sai_bem = 0;
constexpr int sai_porta = 1;       // the port (or the --log file) could not be used
constexpr int sai_arquivo = 2;     // --batch: the hex file could not be read, or none was named
constexpr int sai_sem_eco = 3;     // --batch: no echo, no answer, or the line lost
constexpr int sai_sem_fim = 4;     // --batch: the file ended with no end record

const char uso[] =
    "uso: xagterm [COMn | /dev/CAMINHO] [b=TAXA] [ARQUIVO.hex | ARQUIVO.ihx] [opcoes]\n"
    "\n"
    "Terminal serial, gravador de arquivos Intel HEX e menu de programacao para\n"
    "placas com o microcontrolador XAG49.\n"
    "\n"
    "Argumentos, em qualquer ordem (o ultimo de cada tipo vale):\n"
    "  COMn, comn, \\\\.\\COMn  porta serial n (no Linux COM1 e /dev/ttyS0); padrao COM1\n"
    "  /dev/CAMINHO          porta serial pelo caminho: /dev/ttyUSB0, /dev/ttyACM0\n"
    "  b=TAXA                taxa de 300 a 115200 baud, 8N1; padrao 9600\n"
    "  ARQUIVO.hex, .ihx     arquivo Intel HEX enviado uma vez, logo ao iniciar\n"
    "\n"
    "Opcoes:\n"
    "  --batch          envia o arquivo e sai, sem terminal (para make e scripts)\n"
    "  --log ARQUIVO    acrescenta ao ARQUIVO tudo o que aparece, mensagens de erro\n"
    "                   inclusive\n"
    "  --no-reconnect   quando a linha cai, nao espera que ela volte\n"
    "  --list           lista as portas seriais presentes\n"
    "  --version        mostra a versao\n"
    "  -h, --help       mostra este texto\n"
    "\n"
    "Teclas:\n"
    "  Ctrl-X  sai\n"
    "  Ctrl-U  envia um arquivo hex: digite o nome e Enter\n"
    "  Ctrl-F  menu de programacao (deteccao do baud-rate com 'f'), e nele:\n"
    "          E apaga um bloco, S zera o byte de status, D mostra dados,\n"
    "          R le o byte de status e o vetor de boot, H termina o programa\n"
    "  As outras teclas vao pela linha; aparece o que a linha devolve.\n"
    "\n"
    "Estado de saida:\n"
    "  0  fim normal (Ctrl-X, H); com --batch, arquivo enviado e respondido\n"
    "  1  a porta, ou o arquivo de --log, nao abriu\n"
    "  2  --batch: o arquivo hex nao abriu ou nao foi lido, ou faltou\n"
    "  3  --batch: caractere sem eco, linha sem resposta ou linha perdida\n"
    "  4  --batch: o arquivo acabou sem registro 01\n"
    "\n"
    "Exemplos:\n"
    "  xagterm /dev/ttyUSB0 b=115200\n"
    "  xagterm /dev/ttyUSB0 b=115200 programa.hex --batch\n"
    "  xagterm /dev/ttyUSB0 b=115200 --log sessao.log\n"
    "  xagterm /dev/ttyUSB0 --no-reconnect\n";

// --list: the ports present, or a word that there are none.
int lista_portas() {
  static char lista[16384];
  if (plat::portas_presentes(lista, sizeof lista) == 0) {
    relata("nenhuma porta serial encontrada");
  } else {
    // The system's own words (makers, products), already in its encoding.
    mostra_bytes(reinterpret_cast<const unsigned char*>(lista), std::strlen(lista));
  }
  return sai_bem;
}

void mostra_banner(const Argumentos& args) {
  mostra_f("Terminal %s %d baud\nCtrl-X para sair\nCtrl-U Grava arquivo hex\n"
           "Ctrl-F Menu de programacao do XAG49\n",
           args.porta, args.baud);
}

// --batch: the upload's outcome as the exit status.
int status_do_envio(int resultado) {
  switch (resultado) {
    case 0: return sai_bem;
    case 1: return sai_sem_fim;
    case 2: return sai_sem_eco;
    default: return sai_arquivo;
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Everything shown is shown at once: nothing waits in a buffer while the
  // program waits for the line or the keyboard.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  plat::processo_inicia();

  Argumentos args = le_argumentos(argc, argv);
  if (args.ajuda) {
    mostra(uso);
    return sai_bem;
  }
  if (args.versao) {
    mostra("xagterm " XAGTERM_VERSAO "\n");
    return sai_bem;
  }
  if (args.lista) return lista_portas();
  if (args.falta_registo) {
    relata("--log sem nome de arquivo; uso: --log ARQUIVO");
    return sai_arquivo;
  }
  if (args.registo != nullptr && !registo_abre(args.registo)) {
    relata("%s: %s", args.registo, std::strerror(errno));
    return sai_porta;
  }
  avisa_argumentos(argc, argv);
  if (args.lote && args.arquivo == nullptr) {
    relata("--batch sem arquivo hex; uso: xagterm --batch PORTA [b=TAXA] ARQUIVO.hex");
    return sai_arquivo;
  }

  hcom = AbreComm(args.porta, args.baud);
  if (hcom == plat::porta_invalida) return sai_porta;

  if (args.lote) {  // no terminal: the console's settings are never touched
    mostra_banner(args);
    return status_do_envio(envia_hex(args.arquivo));
  }

  plat::ConsoleTeclas console;
  mostra_banner(args);
  if (args.arquivo != nullptr) envia_hex(args.arquivo);
  return terminal(args.porta, args.baud, args.reconecta);
}
