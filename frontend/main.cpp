// xagterm: a serial terminal, hex file uploader and programming menu for
// boards with the XAG49 microcontroller.
#include <cstdio>
#include <cstring>

#include "frontend/argumentos.hpp"
#include "saida/saida.hpp"
#include "frontend/terminal.hpp"
#include "platform/plataforma.hpp"
#include "programming/confere.hpp"
#include "programming/upload.hpp"
#include "serial/porta.hpp"

namespace {

// Exit statuses.
constexpr int sai_bem = 0;
constexpr int sai_porta = 1;       // the port (or the --log file) could not be used
constexpr int sai_arquivo = 2;     // a refused argument; --batch: the hex file could not be read
constexpr int sai_sem_eco = 3;     // --batch: no echo, no answer, or the line lost
constexpr int sai_sem_fim = 4;     // --batch: the file ended with no end record

// The usage text, around the platform's own port names.
const char uso_inicio[] = "uso: xagterm [";
const char uso_argumentos[] =
    "] [b=TAXA] [ARQUIVO.hex | ARQUIVO.ihx] [opcoes]\n"
    "\n"
    "Terminal serial, gravador de arquivos Intel HEX e menu de programacao para\n"
    "placas com o microcontrolador XAG49.\n"
    "\n"
    "Argumentos, em qualquer ordem (o ultimo de cada tipo vale):\n";
const char uso_opcoes[] =
    "  b=TAXA                taxa de 300 a 115200 baud, 8N1; padrao 9600\n"
    "  ARQUIVO.hex, .ihx     arquivo Intel HEX enviado uma vez, logo ao iniciar\n"
    "\n"
    "Um argumento que comeca com - e nao e uma opcao e recusado; com --batch,\n"
    "tambem um argumento que seria ignorado, uma taxa fora da faixa e uma segunda\n"
    "porta ou um segundo arquivo hex.\n"
    "\n"
    "Opcoes:\n"
    "  --batch          envia o arquivo e sai, sem terminal (para make e scripts);\n"
    "                   a saida padrao nunca segura o envio: o que ela nao aceita\n"
    "                   na hora e descartado e contado no fim\n"
    "  --fast           para uma placa cujo firmware devolve o eco de cada\n"
    "                   caractere assim que chega: envia cada linha inteira e\n"
    "                   confere os ecos; numa placa que nao acompanha, um eco que\n"
    "                   falta ou difere e relatado e nada depois dele e enviado\n"
    "  --answer TEXTO   os tres caracteres com que a placa responde a uma linha que\n"
    "                   aceitou (escapes \\r, \\n, \\xHH); qualquer outra resposta\n"
    "                   para o envio\n"
    "  --log ARQUIVO    acrescenta ao ARQUIVO (um arquivo comum, ou novo) tudo o que\n"
    "                   aparece, mensagens de erro inclusive\n"
    "  --no-reconnect   quando a linha cai, nao espera que ela volte: diz\n"
    "                   \"linha perdida\" e sai com estado 3\n"
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
    "  1  a porta nao abriu, ou o arquivo de --log nao abriu ou nao serve\n"
    "  2  argumento recusado; --batch: o arquivo hex nao abriu, nao foi lido,\n"
    "     faltou ou foi recusado pela conferencia antes do envio\n"
    "  3  --batch: caractere sem eco ou com eco diferente, linha sem resposta\n"
    "     ou com resposta inesperada (--answer), ou linha perdida; com\n"
    "     --no-reconnect, a linha perdida\n"
    "  4  --batch: o arquivo acabou sem registro 01\n"
    "\n"
    "Exemplos:\n";

void mostra_uso() {
  mostra(uso_inicio);
  mostra(plat::ajuda_uso_porta());
  mostra(uso_argumentos);
  mostra(plat::ajuda_portas());
  mostra(uso_opcoes);
  mostra(plat::ajuda_exemplos());
}

// --log: a regular file, or a new one, and neither the port (the session
// would go down the line) nor the hex file (the upload would feed itself).
bool abre_registo(const Argumentos& args) {
  char caminho[512];
  const char* razao = nullptr;
  if (plat::porta_caminho(args.porta, caminho, sizeof caminho) &&
      plat::mesmo_arquivo(args.registo, caminho)) {
    razao = "e a porta serial";
  } else if (args.arquivo != nullptr && plat::mesmo_arquivo(args.registo, args.arquivo)) {
    razao = "e o arquivo hex";
  }
  if (razao != nullptr) {
    relata("%s: %s", args.registo, razao);
    return false;
  }
  return registo_abre(args.registo);
}

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

// How uploads are checked and paced, from the options.
void ajusta_envio(const Argumentos& args) {
  modo_envio.confere_arquivo = args.lote || args.rapido;
  modo_envio.confere_eco = args.lote || args.rapido;
  modo_envio.rapido = args.rapido;
  modo_envio.progresso = args.lote && plat::erro_terminal();
  modo_envio.julga_resposta = args.julga_resposta;
  std::memcpy(modo_envio.resposta, args.resposta, sizeof modo_envio.resposta);
}

// A serial-port server that set another rate than the one asked for says
// so; false then.
bool taxa_confere(const Argumentos& args) {
  int taxa = plat::porta_taxa_do_servidor(hcom);
  if (taxa == 0 || taxa == args.baud) return true;
  relata("%s: o servidor ficou em %d baud", args.porta, taxa);
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  // Everything shown is shown at once: nothing waits in a buffer while the
  // program waits for the line or the keyboard.
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  plat::processo_inicia();

  Argumentos args = le_argumentos(argc, argv);
  if (args.ajuda) {
    mostra_uso();
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
  if (args.erro_resposta != nullptr) {
    relata("--answer: %s; uso: --answer TEXTO (3 caracteres; \\r, \\n e \\xHH valem)",
           args.erro_resposta);
    return sai_arquivo;
  }
  if (args.registo != nullptr && !abre_registo(args)) return sai_porta;
  if (!confere_argumentos(argc, argv)) return sai_arquivo;
  if (args.lote && args.arquivo == nullptr) {
    relata("--batch sem arquivo hex; uso: xagterm --batch PORTA [b=TAXA] ARQUIVO.hex");
    return sai_arquivo;
  }

  ajusta_envio(args);
  // A file the board would not take is refused before the port is opened:
  // opening it may already reset the board.
  if (modo_envio.confere_arquivo && args.arquivo != nullptr) {
    int linhas = 0;
    int conferido = confere_hex(args.arquivo, linhas);
    if (conferido != 0) return status_do_envio(conferido);
  }

  hcom = AbreComm(args.porta, args.baud);
  if (hcom == plat::porta_invalida) return sai_porta;
  if (!taxa_confere(args) && args.lote) return sai_porta;

  if (args.lote) {  // no terminal: the console's settings are never touched
    saida_sem_esperar();
    mostra_banner(args);
    int status = status_do_envio(envia_hex(args.arquivo));
    relata_descartados();
    return status;
  }

  plat::ConsoleTeclas console;
  mostra_banner(args);
  if (args.arquivo != nullptr) envia_hex(args.arquivo);
  return terminal(args.porta, args.baud, args.reconecta);
}
