#include <gtest/gtest.h>

#include <string>

#include "frontend/terminal.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

class Terminal : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reinicia();
    entrada_padrao("");
  }
  // Runs the loop until Ctrl-X (true) or until nothing more can happen.
  bool corre() {
    Captura captura(stdout);
    Captura captura_erro(stderr);
    bool saiu = true;
    try {
      terminal();
    } catch (const fake::FimDoRoteiro&) {
      saiu = false;
    }
    saida = captura.texto();
    erro = captura_erro.texto();
    return saiu;
  }
  std::string saida;
  std::string erro;
};

}  // namespace

TEST_F(Terminal, KeysGoDownTheLineUnchangedAndAreNotShown) {
  fake::teclas(std::string("a\r\x1a\x1c\x13\x11\0\xFF", 8));
  fake::teclas("\x18", 1000);
  EXPECT_TRUE(corre());
  EXPECT_EQ(fake::enviados(), std::string("a\r\x1a\x1c\x13\x11\0\xFF\x18", 9));
  EXPECT_EQ(saida, "");
}

TEST_F(Terminal, EveryByteFromTheLineIsShownAsItIs) {
  std::string todos;
  for (int b = 0; b < 256; ++b) todos.push_back(static_cast<char>(b));
  fake::chega(todos);
  fake::teclas("\x18", 5000);
  EXPECT_TRUE(corre());
  EXPECT_EQ(saida, todos);
}

TEST_F(Terminal, CtrlXIsSentAndThenEndsTheLoop) {
  fake::teclas("\x18" "after");
  EXPECT_TRUE(corre());
  EXPECT_EQ(fake::enviados(), "\x18");
}

TEST_F(Terminal, CommandBytesFromTheLineAreOnlyShown) {
  fake::chega("\x18\x15\x06");
  fake::teclas("k", 2000);
  EXPECT_FALSE(corre());
  EXPECT_EQ(saida, "\x18\x15\x06");
  EXPECT_EQ(fake::enviados(), "k");
}

TEST_F(Terminal, LineBytesArrivingLaterAreShownInOrder) {
  fake::chega("one ", 100);
  fake::chega("two", 50000);
  EXPECT_FALSE(corre());
  EXPECT_EQ(saida, "one two");
}

TEST_F(Terminal, CtrlFSendsItsByteBeforeTheHandshake) {
  fake::teclas("\x06");
  EXPECT_FALSE(corre());
  EXPECT_EQ(fake::enviados(), "\x06" "f");
  EXPECT_EQ(saida, "\nFalhou a detec\xE7\xE3o do baud-rate\n\n");
}

TEST_F(Terminal, CtrlUSendsItsByteAndAsksForAFileThenGoesOn) {
  fake::teclas("\x15\n");  // Enter at the name prompt: an empty name
  fake::teclas("z\x18", 1000000);
  EXPECT_TRUE(corre());
  EXPECT_EQ(fake::enviados(), "\x15z\x18");
  EXPECT_EQ(saida, "Envia arquivo hex.\nNome do arquivo=");
  EXPECT_EQ(erro, "No such file or directory\n");
}

TEST_F(Terminal, TheEchoOfCtrlUAfterAFailedOpenIsShownAndStartsNothing) {
  fake::dispositivo_eco();
  fake::teclas("\x15");
  EXPECT_FALSE(corre());
  EXPECT_EQ(saida, "Envia arquivo hex.\nNome do arquivo=\x15");
  EXPECT_EQ(fake::enviados(), "\x15");
}

TEST_F(Terminal, CtrlUUploadTakesTheWaitingEchoOfItsOwnKey) {
  ArquivoTemporario f("p.hex", ":00000001FF\n");
  fake::dispositivo_eco(10, ".\r\n");
  fake::teclas("\x15" + f.caminho() + "\n");
  EXPECT_FALSE(corre());
  // The 0x15 echo stands for the ':' echo; every later echo is one behind.
  EXPECT_EQ(fake::enviados(), "\x15:00000001FF\n");
  EXPECT_EQ(saida, "Envia arquivo hex.\nNome do arquivo=\x15:00000001FF\n.\r\n");
}
