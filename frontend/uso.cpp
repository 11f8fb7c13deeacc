#include "frontend/uso.hpp"

#include "platform/plataforma.hpp"
#include "saida/saida.hpp"

namespace {

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
    "tambem um argumento que seria ignorado, uma taxa fora da faixa e um segundo\n"
    "arquivo hex.\n"
    "\n"
    "Com --batch, varias portas (ttyUSB0 ttyUSB1, /dev/ttyUSB*) sao gravadas ao\n"
    "mesmo tempo, uma execucao por porta; cada relato diz a sua porta e um resumo\n"
    "fecha (\"2 de 3 placas gravadas; falhou: ttyUSB1 (status 3)\"). O estado de\n"
    "saida e o maior das placas. Porta repetida, mais de 32 portas ou --log com\n"
    "varias portas: recusado (estado 2).\n"
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
    "                   aceitou (escapes \\r, \\n, \\xHH; padrao '.\\r\\n'); com\n"
    "                   --batch, --fast e as opcoes do ciclo qualquer outra\n"
    "                   resposta para o envio; sem elas, o fim do envio conta as\n"
    "                   linhas recusadas\n"
    "  --any-answer     quaisquer tres caracteres valem como resposta\n"
    "  --quiet          com --batch, a saida padrao so tem o que --status e --dump\n"
    "                   mostram\n"
    "  --log ARQUIVO    acrescenta ao ARQUIVO (um arquivo comum, ou novo) tudo o que\n"
    "                   aparece, mensagens de erro inclusive\n"
    "  --no-reconnect   quando a linha cai, nao espera que ela volte: diz\n"
    "                   \"linha perdida\" e sai com estado 3\n"
    "  --list           lista as portas seriais presentes\n"
    "  --version        mostra a versao\n"
    "  -h, --help       mostra este texto\n"
    "\n"
    "Ciclo de gravacao, nesta ordem, antes do terminal (com --batch, em vez dele);\n"
    "a primeira falha para o ciclo. Com --erase, --clear-status, --status ou\n"
    "--dump, a deteccao do baud-rate ('f') vem antes do primeiro registro:\n"
    "  --reset SEQ      ao abrir a porta, aciona DTR e RTS: passos D1 D0 R1 R0 e\n"
    "                   W<ms>, separados por virgula (D1,R1,W100,R0,W200,D0)\n"
    "  --erase          antes do envio, apaga os blocos que os dados do arquivo\n"
    "                   tocam\n"
    "  --erase=LISTA    apaga esses blocos (0,2,4,8,C ou all), com ou sem arquivo\n"
    "  --clear-status   zera o byte de status (S do menu)\n"
    "  --status         mostra o byte de status e o vetor de boot (R do menu); com\n"
    "                   --clear-status, um byte diferente de 00 e falha\n"
    "  --dump INICIO:QUANTOS\n"
    "                   mostra a memoria (D do menu; hex, ate 10000)\n"
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
    "  1  a porta nao abriu, ou o arquivo de --log nao abriu ou nao serve, ou\n"
    "     --reset numa porta sem linhas de controle\n"
    "  2  argumento recusado; --batch: o arquivo hex nao abriu, nao foi lido,\n"
    "     faltou ou foi recusado pela conferencia antes do envio\n"
    "  3  --batch: caractere sem eco ou com eco diferente, linha sem resposta\n"
    "     ou com resposta inesperada, ou linha perdida; a deteccao do baud-rate,\n"
    "     um bloco, o byte de status ou um registro do ciclo que a placa nao\n"
    "     aceitou; com --no-reconnect, a linha perdida\n"
    "  4  --batch: o arquivo acabou sem registro 01\n"
    "\n"
    "Regra de make que grava uma placa do comeco ao fim:\n"
    "  flash: firmware.hex\n"
    "  \txagterm /dev/ttyUSB0 b=115200 firmware.hex --batch --fast --erase \\\n"
    "  \t        --clear-status --status\n"
    "\n"
    "Exemplos:\n";

}  // namespace

void mostra_uso() {
  mostra(uso_inicio);
  mostra(plat::ajuda_uso_porta());
  mostra(uso_argumentos);
  mostra(plat::ajuda_portas());
  mostra(uso_opcoes);
  mostra(plat::ajuda_exemplos());
}
