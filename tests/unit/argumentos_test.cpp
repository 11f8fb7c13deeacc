#include "frontend/argumentos.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/unit/apoio.hpp"

namespace {

// Keeps the argument texts alive, as argv does.
struct Linha {
  std::vector<std::string> textos;
  std::vector<char*> argv;
  Argumentos r;
  explicit Linha(std::vector<std::string> args) : textos(std::move(args)) {
    textos.insert(textos.begin(), "xagterm");
    for (auto& t : textos) argv.push_back(t.data());
    argv.push_back(nullptr);
    r = le_argumentos(static_cast<int>(textos.size()), argv.data());
  }
  // What relata_argumentos reports on standard error, and whether it let
  // the program go on.
  bool segue = true;
  std::string avisos() {
    Captura erros(stderr);
    segue = argumentos_aceitos(r);
    relata_argumentos(r);
    return erros.texto();
  }
  std::string porta() const { return r.porta; }
  std::string arquivo() const { return r.arquivo ? r.arquivo : "(none)"; }
};

}  // namespace

TEST(Argumentos, NoArgumentsGiveCom1At9600AndNoFile) {
  Linha l({});
  EXPECT_EQ(l.porta(), "COM1");
  EXPECT_EQ(l.r.baud, 9600);
  EXPECT_EQ(l.arquivo(), "(none)");
}

TEST(Argumentos, BaudRangeIs300To115200) {
  EXPECT_EQ(Linha({"b=100"}).r.baud, 9600);
  EXPECT_EQ(Linha({"b=299"}).r.baud, 9600);
  EXPECT_EQ(Linha({"b=300"}).r.baud, 300);
  EXPECT_EQ(Linha({"b=115200"}).r.baud, 115200);
  EXPECT_EQ(Linha({"b=115201"}).r.baud, 9600);
  EXPECT_EQ(Linha({"b=200000"}).r.baud, 9600);
}

TEST(Argumentos, BaudIsReadLikeAtoiAfterTheFirstEquals) {
  EXPECT_EQ(Linha({"baud=57600"}).r.baud, 57600);
  EXPECT_EQ(Linha({"bits=19200"}).r.baud, 19200);
  EXPECT_EQ(Linha({"b==4800"}).r.baud, 9600);  // reads 0 after the first '='
  EXPECT_EQ(Linha({"b=-9600"}).r.baud, 9600);  // negative
  EXPECT_EQ(Linha({"b=115200x"}).r.baud, 115200);
  EXPECT_EQ(Linha({"b=4295067296"}).r.baud, 9600);  // too large for an int: out of range, never wrapped
  EXPECT_EQ(Linha({"b= 2400"}).r.baud, 2400);       // leading white space skipped
  EXPECT_EQ(Linha({"b="}).r.baud, 9600);
  EXPECT_EQ(Linha({"b=abc"}).r.baud, 9600);
  EXPECT_EQ(Linha({"b19200"}).r.baud, 9600);  // no '=': not a baud argument
}

TEST(Argumentos, UpperCaseBIsNeitherBaudNorFile) {
  Linha l({"B=115200"});
  EXPECT_EQ(l.r.baud, 9600);
  EXPECT_EQ(l.arquivo(), "(none)");
  EXPECT_EQ(l.porta(), "COM1");
}

TEST(Argumentos, LaterArgumentsOverrideEarlierOnes) {
  Linha l({"COM2", "b=2400", "a.hex", "COM5", "b=4800", "b.ihx"});
  EXPECT_EQ(l.porta(), "COM5");
  EXPECT_EQ(l.r.baud, 4800);
  EXPECT_EQ(l.arquivo(), "b.ihx");
}

TEST(Argumentos, AnOutOfRangeRateLaterResetsAnEarlierGoodOne) {
  EXPECT_EQ(Linha({"b=2400", "b=10"}).r.baud, 9600);
}

TEST(Argumentos, PortNeedsComOrcomAndADigit) {
  EXPECT_EQ(Linha({"com12"}).porta(), "com12");
  EXPECT_EQ(Linha({"COM3x"}).porta(), "COM3x");  // taken as typed
  EXPECT_EQ(Linha({"Com2"}).porta(), "COM1");    // mixed case is not a port
  EXPECT_EQ(Linha({"COM"}).porta(), "COM1");
  EXPECT_EQ(Linha({"COMx"}).porta(), "COM1");
}

TEST(Argumentos, ComNIsAlwaysThePortAndAnyOtherHexNameTheFile) {
  Linha l({"com1.hex"});
  EXPECT_EQ(l.porta(), "com1.hex");
  EXPECT_EQ(l.arquivo(), "(none)");
  Linha caminho({"/dev/shm/fw.hex", "ttyUSB0.ihx"});
  EXPECT_EQ(caminho.porta(), "COM1");
  EXPECT_EQ(caminho.arquivo(), "ttyUSB0.ihx");
}

TEST(Argumentos, DevicePathsArePorts) {
  EXPECT_EQ(Linha({"/dev/ttyUSB0"}).porta(), "/dev/ttyUSB0");
  EXPECT_EQ(Linha({"/dev/ttyUSB0", "COM4"}).porta(), "COM4");
  EXPECT_EQ(Linha({"COM4", "/dev/pts/3"}).porta(), "/dev/pts/3");
}

TEST(Argumentos, HexFileByExactCaseSensitiveExtension) {
  EXPECT_EQ(Linha({"COMx.hex"}).arquivo(), "COMx.hex");
  EXPECT_EQ(Linha({"prog.HEX"}).arquivo(), "(none)");
  EXPECT_EQ(Linha({"a.b.hex"}).arquivo(), "a.b.hex");
  EXPECT_EQ(Linha({"a.hex.txt"}).arquivo(), "(none)");
  EXPECT_EQ(Linha({"hex"}).arquivo(), "(none)");
  EXPECT_EQ(Linha({".hex"}).arquivo(), ".hex");
  EXPECT_EQ(Linha({"*.hex"}).arquivo(), "*.hex");  // an unmatched pattern, as typed
}

TEST(Argumentos, BaudArgumentWithHexExtensionIsBoth) {
  Linha l({"b=9600.hex"});
  EXPECT_EQ(l.r.baud, 9600);
  EXPECT_EQ(l.arquivo(), "b=9600.hex");
  Linha m({"b=4800.ihx"});
  EXPECT_EQ(m.r.baud, 4800);
  EXPECT_EQ(m.arquivo(), "b=4800.ihx");
}

TEST(Argumentos, WindowsDeviceFormIsAPort) {
  EXPECT_EQ(Linha({"\\\\.\\COM3"}).porta(), "\\\\.\\COM3");
  EXPECT_EQ(Linha({"\\\\.\\com12.hex"}).arquivo(), "(none)");
  EXPECT_EQ(Linha({"\\\\.\\COMx"}).porta(), "COM1");
}

TEST(Argumentos, OptionsAreTakenWholeAndNeverAsPortRateOrFile) {
  Linha l({"--batch", "--no-reconnect", "--log", "b=1.hex", "COM2"});
  EXPECT_TRUE(l.r.lote);
  EXPECT_FALSE(l.r.reconecta);
  EXPECT_STREQ(l.r.registo, "b=1.hex");  // the log's name, not a rate or a hex file
  EXPECT_EQ(l.r.baud, 9600);
  EXPECT_EQ(l.arquivo(), "(none)");
  EXPECT_EQ(l.porta(), "COM2");
  EXPECT_TRUE(Linha({"--log"}).r.falta_registo);
  EXPECT_TRUE(Linha({"-h"}).r.ajuda);
  EXPECT_TRUE(Linha({"--help"}).r.ajuda);
  EXPECT_TRUE(Linha({"--version"}).r.versao);
  EXPECT_TRUE(Linha({"--list"}).r.lista);
  Linha nada({});
  EXPECT_FALSE(nada.r.lote || nada.r.ajuda || nada.r.versao || nada.r.lista || nada.r.falta_registo);
  EXPECT_TRUE(nada.r.reconecta);
}

TEST(Argumentos, WarnsOfEachIgnoredArgumentAndRefusesWhatBatchCannotGuess) {
  struct Caso {
    std::vector<std::string> args;
    std::string avisos;
    bool segue;  // false: refused, a usage line, status 2
  };
  const std::string uso =
      "xagterm: uso: xagterm [COMn | /dev/CAMINHO] [b=TAXA] [ARQUIVO.hex] [opcoes]; veja xagterm --help\n";
  const Caso casos[] = {
      {{"COM2", "b=9600", "a.hex", "--batch", "--no-reconnect", "--log", "x", "--fast", "--answer", "-x"},
       "",
       true},
      {{"FW.HEX"}, "xagterm: argumento ignorado: FW.HEX\n", true},
      {{"B=115200", "Com2"},
       "xagterm: argumento ignorado: B=115200\nxagterm: argumento ignorado: Com2\n",
       true},
      {{"b=230400"}, "xagterm: b=230400: taxa fora de 300..115200, usando 9600\n", true},
      {{"b=10.hex"}, "xagterm: b=10.hex: taxa fora de 300..115200, usando 9600\n", true},
      {{"COM2", "COM3", "a.hex", "b.hex"}, "", true},  // later overrides earlier, as ever
      {{"-b", "115200"}, "xagterm: opcao desconhecida: -b; use b=115200\n" + uso, false},
      {{"--baud=57600", "-D", "/dev/ttyUSB0"},
       "xagterm: opcao desconhecida: --baud=57600; use b=57600\n"
       "xagterm: opcao desconhecida: -D; de a porta sem opcao: xagterm /dev/ttyUSB0\n" +
           uso,
       false},
      {{"--bach", "--verbose"},
       "xagterm: opcao desconhecida: --bach; quis dizer --batch?\n"
       "xagterm: opcao desconhecida: --verbose; veja xagterm --help\n" +
           uso,
       false},
      {{"--batch", "FW.HEX", "a.hex"}, "xagterm: argumento ignorado: FW.HEX\n" + uso, false},
      {{"a.hex", "b=230400", "--batch"},
       "xagterm: b=230400: taxa fora de 300..115200, usando 9600\n" + uso,
       false},
      {{"b=11520O"}, "xagterm: b=11520O: taxa mal escrita, usando 11520\n", true},
      {{"b=11520O", "--batch", "a.hex"}, "xagterm: b=11520O: taxa mal escrita, usando 11520\n" + uso, false},
      {{"b=1200.hex"}, "", true},
      {{"115200"}, "xagterm: argumento ignorado: 115200; use b=115200\n", true},
      {{"--log", "--batch", "a.hex"}, "", true},  // refused in main: --log without its FILE
      {{"--batch", "a.hex", "b.hex", "COM2", "COM3"},
       "xagterm: mais de um arquivo hex: a.hex e b.hex\n" + uso,
       false},
      {{"--batch", "a.hex", "COM2", "COM3"}, "", true},  // a board each
      {{"--batch", "a.hex", "COM2", "COM3", "--log", "x"},
       "xagterm: --log vale para uma porta so\n" + uso,
       false},
      {{"COM2", "COM3", "--log", "x"}, "", true},  // no --batch: the last port, as ever
      {{"--batch", "a.hex", "COM2", "--log", "x", "--counts-to-parent"}, "", true},
      {{"--erase=all", "--clear-status", "--status", "--dump", "0:10", "--reset", "D1,W5,D0", "--quiet",
        "--batch", "--any-answer"},
       "",
       true},
      {{"--erase=0,x"},
       "xagterm: --erase=0,x: lista de blocos invalida; use 0,2,4,8,C separados por virgula, ou all\n" + uso,
       false},
      {{"--erase"}, "xagterm: --erase sem arquivo hex; use --erase=LISTA (0,2,4,8,C ou all)\n" + uso, false},
      {{"--quiet", "--status"}, "xagterm: --quiet so com --batch\n" + uso, false},
      {{"--reset", "D2"},
       "xagterm: --reset D2: sequencia invalida; passos D0 D1 R0 R1 W<ms> separados por virgula\n" + uso,
       false},
      {{"--dump", "FFF0:11"},
       "xagterm: --dump FFF0:11: faixa invalida; INICIO:QUANTOS em hex, no maximo ate 10000\n" + uso,
       false},
      {{"--dump", "--status"}, "xagterm: --dump sem faixa; uso: --dump INICIO:QUANTOS (hex)\n" + uso, false},
      {{"--erace", "--reset"},
       "xagterm: opcao desconhecida: --erace; quis dizer --erase?\n"
       "xagterm: --reset sem sequencia; uso: --reset D1,R1,W100,R0\n" +
           uso,
       false},
  };
  for (const auto& c : casos) {
    Linha l(c.args);
    EXPECT_EQ(l.avisos(), c.avisos) << testing::PrintToString(c.args);
    EXPECT_EQ(l.segue, c.segue) << testing::PrintToString(c.args);
  }
}

// The cycle's steps as taken, and whether a board's answer is judged.
TEST(Argumentos, FlashCycleStepsAndAnswerJudging) {
  struct {
    std::vector<std::string> args;
    unsigned apaga;
    bool do_arquivo, ciclo, julga;
  } casos[] = {
      {{}, 0, false, false, false},
      {{"a.hex"}, 0, false, false, false},
      {{"--batch", "a.hex"}, 0, false, false, true},
      {{"--fast"}, 0, false, false, true},
      {{"--batch", "a.hex", "--any-answer"}, 0, false, false, false},
      {{"--any-answer", "--answer", "xyz"}, 0, false, false, true},
      {{"--answer", "xyz", "--any-answer"}, 0, false, false, false},
      {{"--erase=0,8"}, 0x09, false, true, true},
      {{"--erase=C", "--erase", "a.hex"}, 0, true, true, true},
      {{"--erase", "--erase=c"}, 0x10, false, true, true},
      {{"--status"}, 0, false, true, true},
      {{"--clear-status", "--any-answer"}, 0, false, true, false},
      {{"--reset", "D1"}, 0, false, true, true},
      {{"--dump", "10:20"}, 0, false, true, true},
  };
  for (const auto& c : casos) {
    Linha l(c.args);
    SCOPED_TRACE(testing::PrintToString(c.args));
    EXPECT_EQ(l.r.apaga, c.apaga);
    EXPECT_EQ(l.r.apaga_do_arquivo, c.do_arquivo);
    EXPECT_EQ(pede_ciclo(l.r), c.ciclo);
    EXPECT_EQ(julga_respostas(l.r), c.julga);
  }
  Linha d({"--dump", "FFF0:10", "--reset", "R1,W7"});
  EXPECT_TRUE(d.r.mostra_faixa && d.r.inicio == 0xFFF0 && d.r.quantos == 0x10);
  EXPECT_TRUE(d.r.reinicia && d.r.reinicio.quantos == 2);
}

TEST(Argumentos, WhatLooksLikeAPortIsThePortPresentOrNot) {
  const std::pair<const char*, const char*> casos[] = {
      {"ttyUSB0", "ttyUSB0"},  // in the fake /dev
      {"ttyACM3", "ttyACM3"},  // not there: its open fails and says so
      {"/dev/ttyUSB7", "/dev/ttyUSB7"},
      {"rfc2217://placa:4000", "rfc2217://placa:4000"},
      {"tcp://10.0.0.2:23", "tcp://10.0.0.2:23"},
      {"placa", "COM1"},  // an ordinary name (a file that exists too)
      {"tty-x", "COM1"},
      {"://x", "COM1"},
      {"a b://x", "COM1"},
  };
  for (const auto& [arg, porta] : casos) EXPECT_EQ(Linha({arg}).porta(), porta) << arg;
  ArquivoTemporario f("notas", "texto");
  EXPECT_EQ(Linha({f.caminho()}).porta(), "COM1");
  EXPECT_EQ(Linha({"ttyUSB0", "COM4"}).porta(), "COM4");
}

TEST(Argumentos, EveryPortIsKeptAndThoseBeyondTheCapRefusedWithBatch) {
  Linha l({"ttyUSB0", "a.hex", "--log", "COM9", "COM4", "ttyUSB0"});
  EXPECT_EQ(l.r.quantas_portas, 3);  // COM9 is the log's name
  EXPECT_EQ(std::vector<std::string>(l.r.portas, l.r.portas + 3),
            (std::vector<std::string>{"ttyUSB0", "COM4", "ttyUSB0"}));
  for (int n : {plat::filhos_maximo, plat::filhos_maximo + 1}) {
    std::vector<std::string> args{"--batch", "a.hex"};
    for (int i = 1; i <= n; ++i) args.push_back("COM" + std::to_string(i));
    Linha m(args);
    EXPECT_EQ(m.r.quantas_portas, n);
    std::string recusa = n > plat::filhos_maximo ? "xagterm: 33 portas; no maximo 32 de uma vez\n" : "";
    EXPECT_EQ(m.avisos().substr(0, recusa.size()), recusa);
    EXPECT_EQ(m.segue, recusa.empty());
  }
}

TEST(Extencao, PointsAtTheLastDotOrTheStart) {
  const char* t = "a.b.hex";
  EXPECT_EQ(extencao(t), t + 3);
  const char* s = "semponto";
  EXPECT_EQ(extencao(s), s);
  const char* v = "";
  EXPECT_EQ(extencao(v), v);
}
