#include "frontend/terminal.hpp"

#include <gtest/gtest.h>

#include <string>

#include "programming/upload.hpp"
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
  bool corre(bool reconecta = true) {
    Captura captura(stdout);
    Captura captura_erro(stderr);
    bool saiu = true;
    try {
      terminal("COM1", 9600, reconecta);
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
  fake::teclas(
      "\x18"
      "after");
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
  EXPECT_EQ(fake::enviados(),
            "\x06"
            "f");
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

// The echo of Ctrl-U, early or late (a slow line, keys piped in), is shown
// before the file's first byte goes, not taken as the echo of its ':'.
TEST_F(Terminal, CtrlUUploadShowsTheEchoOfItsOwnKeyFirst) {
  for (fake::Micros atraso : {10, 60'000}) {
    fake::reinicia();
    modo_envio.confere_eco = true;
    ArquivoTemporario f("p.hex", ":00000001FF\n");
    fake::dispositivo([atraso](unsigned char c) {
      fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + (c == 0x15 ? atraso : 10));
      if (c == '\n') fake::chega(".\r\n", fake::agora() + 10);
    });
    fake::teclas("\x15" + f.caminho() + "\n");
    EXPECT_FALSE(corre());
    modo_envio = ModoEnvio{};
    EXPECT_EQ(fake::enviados(), "\x15:00000001FF\n");
    EXPECT_EQ(saida, "Envia arquivo hex.\nNome do arquivo=\x15:00000001FF\n.\r\n");
  }
}

// Ctrl-X while the menu drains a reply ends the action there, and the
// terminal takes it as typed to it.
TEST_F(Terminal, CtrlXDuringTheMenusReplyDrainLeaves) {
  fake::dispositivo_eco();
  fake::teclas("\x06S");
  fake::teclas("\x18", 50'000);
  EXPECT_TRUE(corre());
  EXPECT_EQ(fake::enviados(),
            "\x06"
            "f:010000830478\x18");
}

// --- a line that goes away, and one that stops taking bytes -----------------

constexpr fake::Micros ms = 1000;
const std::string perdida = "xagterm: linha perdida: COM1; esperando que volte (Ctrl-X sai)\n";

TEST_F(Terminal, LostLineIsClosedThenReopenedWithItsSettingsAndTheLoopGoesOn) {
  fake::chega("before");
  fake::perde_linha(10 * ms);
  fake::volta_linha(1000 * ms);
  fake::chega("after", 1100 * ms);
  fake::teclas("away", 500 * ms);  // dropped, not queued
  fake::teclas("k\x18", 1500 * ms);
  EXPECT_TRUE(corre());
  EXPECT_EQ(saida, "beforeafter");
  EXPECT_EQ(erro, perdida + "xagterm: reconectado: COM1\n");
  EXPECT_EQ(fake::enviados(), "k\x18");
  EXPECT_EQ(fake::porta_aberta(), "COM1");
  EXPECT_EQ(fake::baud_configurado(), 9600);
  // Closed first (its lock released), then tried at most every 250 ms.
  const std::string& eventos = fake::porta_eventos();
  ASSERT_GE(eventos.size(), 2u);
  EXPECT_EQ(eventos.front(), 'F');
  EXPECT_EQ(eventos.substr(eventos.size() - 1), "A");
  EXPECT_LE(eventos.size() - 1, 1000u / 250 + 1) << eventos;
}

TEST_F(Terminal, KeyTheLineDoesNotTakeIsDroppedAfterTwoSecondsWhileTheLineIsShown) {
  fake::trava_linha(0, 2500 * ms);
  fake::teclas("a");
  fake::teclas("b", 500 * ms);
  fake::chega("shown meanwhile", 1000 * ms);
  fake::teclas("c\x18", 3000 * ms);
  EXPECT_TRUE(corre());
  EXPECT_EQ(saida, "shown meanwhile");
  EXPECT_EQ(erro, "xagterm: linha bloqueada: 2 bytes descartados\n");
  EXPECT_EQ(fake::enviados(), "c\x18");
}
