#include <gtest/gtest.h>

#include <string>

#include "platform/plataforma.hpp"
#include "programming/upload.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

const std::string dados1 = ":0300300002337A1E\r\n";
const std::string dados2 = ":10000000000102030405060708090A0B0C0D0E0F78\r\n";
const std::string fim = ":00000001FF\r\n";

class Upload : public ::testing::Test {
 protected:
  void SetUp() override { fake::reinicia(); }
};

// Echoes every byte and answers ".\r\n" after each line feed.
void dispositivo_que_responde() { fake::dispositivo_eco(10, ".\r\n"); }

}  // namespace

TEST_F(Upload, FileEndingWithAnAnsweredEndRecordGivesZero) {
  ArquivoTemporario f("p.hex", dados1 + dados2 + fim);
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), dados1 + dados2 + fim);
  // Echo of each line, then its three answer characters.
  EXPECT_EQ(saida.texto(), dados1 + ".\r\n" + dados2 + ".\r\n" + fim + ".\r\n");
}

TEST_F(Upload, LinesAfterTheEndRecordAreNeverSent) {
  ArquivoTemporario f("p.hex", dados1 + fim + dados2);
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), dados1 + fim);
}

TEST_F(Upload, EmptyFileGivesOneAndSendsNothing) {
  ArquivoTemporario f("vazio.hex", "");
  dispositivo_que_responde();
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 1);
  EXPECT_EQ(fake::enviados(), "");
}

TEST_F(Upload, LastLineWithoutLineEndIsNotSent) {
  ArquivoTemporario f("p.hex", dados1 + ":00000001FF");
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 1);
  EXPECT_EQ(fake::enviados(), dados1);
}

TEST_F(Upload, LfOnlyLineEndsGoOutAsStored) {
  ArquivoTemporario f("p.hex", ":0300300002337A1E\n:00000001FF\n");
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), ":0300300002337A1E\n:00000001FF\n");
}

TEST_F(Upload, ShortAndBlankLinesAreSentAndNeverEndTheUpload) {
  // Nothing but characters 7 and 8 of a line is looked at.
  ArquivoTemporario f("p.hex", "\r\nhello\r\n:000000\r\n" + fim);
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), "\r\nhello\r\n:000000\r\n" + fim);
}

TEST_F(Upload, AnyLineWithTypeZeroOneEndsTheUpload) {
  ArquivoTemporario f("p.hex", "garbage01 here\n" + dados1);
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), "garbage01 here\n");
}

TEST_F(Upload, LongLinesGoOutInPiecesOf79EachWaitingForItsOwnAnswer) {
  // A 78-character record and CR LF: 78 characters and the CR, then the LF.
  std::string registro = ":" + std::string(77, 'A');
  ArquivoTemporario f("p.hex", registro + "\r\n" + ":00000001FF\n");
  fake::dispositivo([](unsigned char c) {
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
    if (c == '\r' || c == '\n') fake::chega("abc", fake::agora() + 20);
  });
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(saida.texto(), registro + "\r" + "abc" + "\n" + "abc" + ":00000001FF\n" + "abc");
}

TEST_F(Upload, APieceWithoutAnswerStopsTheUploadBeforeItsLineEnd) {
  std::string registro = ":" + std::string(77, 'A');
  ArquivoTemporario f("p.hex", registro + "\r\n" + fim);
  dispositivo_que_responde();  // answers only after a line feed
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 2);
  EXPECT_EQ(fake::enviados(), registro + "\r");
}

TEST_F(Upload, ALastPieceOfExactly79CharactersIsSentWithoutLineEnd) {
  std::string pedaco(79, 'B');
  ArquivoTemporario f("p.hex", dados1 + pedaco);
  fake::dispositivo([](unsigned char c) {
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
    if (c == '\n' || c == 'B') fake::chega("...", fake::agora() + 20);
  });
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 1);
  EXPECT_EQ(fake::enviados(), dados1 + pedaco);
}

TEST_F(Upload, SilentDeviceGetsOneCharacterAndGivesTwo) {
  ArquivoTemporario f("p.hex", dados1 + fim);
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 2);
  EXPECT_EQ(fake::enviados(), ":");
  EXPECT_EQ(saida.texto(), "");
}

TEST_F(Upload, DeviceThatNeverAnswersStopsAfterTheFirstLine) {
  ArquivoTemporario f("p.hex", dados1 + dados2 + fim);
  fake::dispositivo_eco();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 2);
  EXPECT_EQ(fake::enviados(), dados1);
}

TEST_F(Upload, AnAnswerCharacterMayBeAnything) {
  ArquivoTemporario f("p.hex", fim);
  fake::dispositivo_eco(10, std::string("\0\xFF\n", 3));
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(saida.texto(), fim + std::string("\0\xFF\n", 3));
}

// Each answer character has its own wait of 501 polls (a 1 ms pause and a
// read of up to 1 ms each, about a second).
void dispositivo_com_terceira_resposta_em(fake::Micros atraso) {
  fake::dispositivo([atraso](unsigned char c) {
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
    if (c == '\n') fake::chega("ab", fake::agora() + 20);
    if (c == '\n') fake::chega("c", fake::agora() + atraso);
  });
}

TEST_F(Upload, AnAnswerCharacterMayTakeAlmostASecond) {
  ArquivoTemporario f("p.hex", fim);
  dispositivo_com_terceira_resposta_em(900000);
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(saida.texto(), fim + "abc");
}

TEST_F(Upload, AnAnswerCharacterLaterThanItsWaitStopsTheUpload) {
  ArquivoTemporario f("p.hex", fim + dados1);
  dispositivo_com_terceira_resposta_em(1100000);
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 2);
  EXPECT_EQ(saida.texto(), fim + "ab");
}

TEST_F(Upload, FileThatCannotBeOpenedIsReportedWithTheSystemsText) {
  Captura erro(stderr);
  EXPECT_EQ(envia_hex("/nonexistent/x.hex"), -1);
  EXPECT_EQ(erro.texto(), "/nonexistent/x.hex: No such file or directory\n");
  EXPECT_EQ(fake::enviados(), "");
}

TEST_F(Upload, EmptyNameReportsOnlyTheReason) {
  Captura erro(stderr);
  EXPECT_EQ(envia_hex(""), -1);
  EXPECT_EQ(erro.texto(), "No such file or directory\n");
}

TEST_F(Upload, AReadErrorEndsTheUploadWithoutSendingAnything) {
  ArquivoTemporario f("x", "");
  std::string pasta = f.pasta();  // a folder: the open (Windows) or every read (Linux) fails
  dispositivo_que_responde();
  Captura erro(stderr);
  EXPECT_EQ(envia_hex(pasta.c_str()), -1);
  EXPECT_EQ(erro.texto(), pasta + ": " + erro_de_pasta + "\n");
  EXPECT_EQ(fake::enviados(), "");
}

// --- Ctrl-U: the name typed by the user --------------------------------------

class UploadDigitado : public Upload {
 protected:
  // Runs the prompt with `digitado` on standard input; returns stderr.
  std::string digita(const std::string& digitado) {
    fake::teclas(digitado);
    return corre();
  }
  std::string corre() {
    Captura saida(stdout);
    Captura erro(stderr);
    resultado = envia_hex_digitado(buf, sizeof buf);
    prompt = saida.texto();
    return erro.texto();
  }
  char buf[80] = {};
  int resultado = 0;
  std::string prompt;
};

TEST_F(UploadDigitado, PromptsThenSendsTheTypedFile) {
  ArquivoTemporario f("p.hex", fim);
  dispositivo_que_responde();
  EXPECT_EQ(digita(f.caminho() + "\n"), "");
  EXPECT_EQ(resultado, 0);
  EXPECT_EQ(prompt, "Envia arquivo hex.\nNome do arquivo=" + fim + ".\r\n");
  EXPECT_EQ(fake::enviados(), fim);
}

TEST_F(UploadDigitado, TheNameIsReadWithTheConsolesOwnLineSettings) {
  digita("\n");
  EXPECT_EQ(fake::modos(), "LT");
}

TEST_F(UploadDigitado, NameEndsAtTheFirstSpaceOrControlCharacter) {
  ArquivoTemporario f("p.hex", fim);
  dispositivo_que_responde();
  EXPECT_EQ(digita(f.caminho() + " extra words\n"), "");
  EXPECT_EQ(resultado, 0);
  EXPECT_EQ(digita(f.caminho() + "\tx\n"), "");
  EXPECT_EQ(resultado, 0);
}

TEST_F(UploadDigitado, ALeadingSpaceGivesAnEmptyName) {
  EXPECT_EQ(digita(" p.hex\n"), "No such file or directory\n");
  EXPECT_EQ(resultado, -1);
}

TEST_F(UploadDigitado, BytesFrom0x80UpEndTheNameBut0x7FDoesNot) {
  EXPECT_EQ(digita("ab\xE7""d.hex\n"), "ab: No such file or directory\n");
  EXPECT_EQ(digita("ab\x7F""d.hex\n"), "ab\x7F""d.hex: No such file or directory\n");
}

TEST_F(UploadDigitado, EnterAloneAndEndOfInputGiveAnEmptyName) {
  EXPECT_EQ(digita("\n"), "No such file or directory\n");
  EXPECT_EQ(digita(""), "No such file or directory\n");
  EXPECT_EQ(resultado, -1);
  EXPECT_EQ(fake::enviados(), "");
}

TEST_F(UploadDigitado, AnOverLongNameIsRefusedWholeAndItsRestDropped) {
  std::string longo(80, 'n');
  fake::teclas(longo + "rest.hex\nq");
  EXPECT_EQ(corre(), "xagterm: nome de arquivo longo demais (mais de 79 caracteres)\n");
  EXPECT_EQ(resultado, -1);
  EXPECT_EQ(fake::enviados(), "");
  EXPECT_EQ(plat::tecla_le(), 'q');  // what was typed after the line is left for the terminal
}
