#include <gtest/gtest.h>

#include <csignal>

#include "sim/opcoes.hpp"
#include "sim/processo.hpp"

namespace xagsim {
namespace {

using Args = std::vector<std::string>;

TEST(Opcoes, PorOmissao) {
  LeituraOpcoes l = le_opcoes({});
  ASSERT_TRUE(l.opcoes);
  EXPECT_FALSE(l.opcoes->mudo || l.opcoes->sem_respostas || l.opcoes->desliga_apos || l.opcoes->byte_eco ||
               l.opcoes->baud);
  EXPECT_EQ(l.opcoes->estado, 0xFF);
  EXPECT_EQ(l.opcoes->vetor_arranque, 0x00);
  EXPECT_TRUE(l.opcoes->comando.empty());
}

TEST(Opcoes, Todas) {
  LeituraOpcoes l = le_opcoes({"--silent",
                               "--no-answer",
                               "--hangup-after",
                               "7",
                               "--send",
                               "A\\n",
                               "--flood=1000",
                               "--echo-delay",
                               "15",
                               "--answer-delay=3",
                               "--echo-byte",
                               "0",
                               "--image",
                               "i.hex",
                               "--log",
                               "l.txt",
                               "--baud",
                               "115200",
                               "--status",
                               "0x3c",
                               "--boot-vector",
                               "250",
                               "--send",
                               "B",
                               "--replug-after",
                               "40",
                               "1500",
                               "--drop",
                               "0.25",
                               "--garble=1",
                               "--stall-after",
                               "9",
                               "0",
                               "--chatter",
                               "250",
                               "--seed",
                               "0xfeed",
                               "--wire",
                               "--latency",
                               "2",
                               "--answer-on-checksum",
                               "--preload",
                               "p.hex",
                               "--erase-time=250",
                               "--",
                               "xagterm",
                               "--port",
                               "{port}",
                               "--"});
  ASSERT_TRUE(l.opcoes) << l.erro;
  const Opcoes& o = *l.opcoes;
  EXPECT_TRUE(o.mudo && o.sem_respostas);
  EXPECT_EQ(o.desliga_apos, 7u);
  EXPECT_EQ(o.envio_inicial, "A\nB") << "each --send adds to what is sent";
  EXPECT_EQ(o.inundacao, 1000u);
  EXPECT_EQ(o.atraso_eco, Ms{15});
  EXPECT_EQ(o.atraso_resposta, Ms{3});
  EXPECT_EQ(o.byte_eco, 0x00);
  EXPECT_EQ(o.imagem, "i.hex");
  EXPECT_EQ(o.diario, "l.txt");
  EXPECT_EQ(o.baud, 115200);
  EXPECT_EQ(o.estado, 0x3C);
  EXPECT_EQ(o.vetor_arranque, 250);
  EXPECT_EQ(o.religa, (Depois{40, Ms{1500}}));
  EXPECT_EQ(o.perde, 0.25);
  EXPECT_EQ(o.deturpa, 1.0);
  EXPECT_EQ(o.para, (Depois{9, Ms{0}}));
  EXPECT_EQ(o.conversa, Ms{250});
  EXPECT_EQ(o.semente, 0xFEEDu);
  EXPECT_TRUE(o.fio && o.responde_no_checksum);
  EXPECT_EQ(o.latencia, Ms{2});
  EXPECT_EQ(o.carga, "p.hex");
  EXPECT_EQ(o.tempo_apagamento, Ms{250});
  EXPECT_EQ(o.comando, (Args{"xagterm", "--port", "{port}", "--"}));
}

TEST(Opcoes, Invalidas) {
  for (const Args& a : std::initializer_list<Args>{{"--nope"},
                                                   {"stray"},
                                                   {"--"},
                                                   {"--baud"},
                                                   {"--baud", "fast"},
                                                   {"--baud", "0"},
                                                   {"--echo-byte", "256"},
                                                   {"--status", "0x100"},
                                                   {"--boot-vector", "-1"},
                                                   {"--hangup-after", "0"},
                                                   {"--flood", "12x"},
                                                   {"--echo-delay", ""},
                                                   {"--echo-delay", "9999999"},
                                                   {"--send", "\\q"},
                                                   {"--send", "\\x4"},
                                                   {"--send", "abc\\"},
                                                   {"--image="},
                                                   {"--silent=yes"},
                                                   {"--replug-after", "5"},
                                                   {"--replug-after", "0", "10"},
                                                   {"--replug-after", "5", "x"},
                                                   {"--drop", "1.5"},
                                                   {"--garble", "-0.1"},
                                                   {"--drop", "nan"},
                                                   {"--garble", "1/2"},
                                                   {"--chatter", "0"},
                                                   {"--stall-after", "1"},
                                                   {"--seed", "-1"},
                                                   {"--latency", "x"},
                                                   {"--preload="},
                                                   {"--erase-time", "x"}}) {
    LeituraOpcoes l = le_opcoes(a);
    EXPECT_FALSE(l.opcoes || l.ajuda) << a[0];
    EXPECT_FALSE(l.erro.empty()) << a[0];
  }
  EXPECT_TRUE(le_opcoes({"--help", "--nope"}).ajuda);
  EXPECT_TRUE(le_opcoes({"-h"}).ajuda);
}

TEST(Opcoes, Escapes) {
  EXPECT_EQ(decodifica_escapes("a\\r\\n\\t\\\\b"), "a\r\n\t\\b");
  EXPECT_EQ(decodifica_escapes("\\x00\\xff\\x7F"), std::string("\0\xff\x7f", 3));
  EXPECT_FALSE(decodifica_escapes("\\xg0"));
  EXPECT_FALSE(decodifica_escapes("\\0"));
}

TEST(Processo, PortaSubstituidaEmTodoLado) {
  EXPECT_EQ(com_porta({"x", "{port}", "--line={port},{port}", "{por}"}, "/dev/pts/7"),
            (Args{"x", "/dev/pts/7", "--line=/dev/pts/7,/dev/pts/7", "{por}"}));
  EXPECT_EQ(com_porta({"{port}{port}"}, "{port}"), (Args{"{port}{port}"}))
      << "the path is not expanded again";
}

TEST(Processo, EstadoDeSaida) {
  EXPECT_EQ(estado_de_saida(0), 0);
  EXPECT_EQ(estado_de_saida(3 << 8), 3);
  EXPECT_EQ(estado_de_saida(SIGTERM), 128 + SIGTERM);
}

}  // namespace
}  // namespace xagsim
