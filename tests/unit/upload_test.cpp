#include "programming/upload.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/plataforma.hpp"
#include "serial/porta.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

const std::string dados1 = ":0300300002337A1E\r\n";
const std::string dados2 = ":10000000000102030405060708090A0B0C0D0E0F78\r\n";
const std::string fim = ":00000001FF\r\n";
const std::string zero04 = ":020000040000FA\r\n";

class Upload : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reinicia();
    modo_envio = ModoEnvio{};
  }
  void TearDown() override { modo_envio = ModoEnvio{}; }
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

TEST_F(Upload, TheLongestRecordGoesWholeAndWaitsForOneAnswer) {
  // 255 data bytes: 521 characters, then CR LF.
  std::string registro = ":FF000000" + std::string(510, 'A') + "CC";
  ArquivoTemporario f("p.hex", registro + "\r\n" + fim);
  dispositivo_que_responde();  // answers only after a line feed
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(fake::enviados(), registro + "\r\n" + fim);
  EXPECT_EQ(saida.texto(), registro + "\r\n.\r\n" + fim + ".\r\n");
}

TEST_F(Upload, WhatTheDeviceSaidBeforeIsShownNotTakenAsEchoes) {
  ArquivoTemporario f("p.hex", dados1 + fim);
  fake::chega("OK>\r\n");
  dispositivo_que_responde();
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(saida.texto(), "OK>\r\n" + dados1 + ".\r\n" + fim + ".\r\n");
  unsigned char resto = 0;  // every echo and answer was taken in its turn
  EXPECT_EQ(plat::porta_le_disponivel(0, &resto, 1), 0);
}

TEST_F(Upload, AnAnswerCharacterMayBeAnything) {
  ArquivoTemporario f("p.hex", fim);
  fake::dispositivo_eco(10, std::string("\0\xFF\n", 3));
  Captura saida(stdout);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), 0);
  EXPECT_EQ(saida.texto(), fim + std::string("\0\xFF\n", 3));
}

// A board's "no": judged, it stops the upload; unjudged, the outcome line
// counts it; with --any-answer, neither.
TEST_F(Upload, AnswersOtherThanALineTakensAreJudgedOrCounted) {
  const struct {
    const char* caso;
    ModoEnvio modo;
    std::string conteudo, resposta;
    int status;
    std::string relato;
  } casos[] = {
      {"unjudged, taken", {}, dados1 + fim, ".\r\n", 0, "2 linhas enviadas"},
      {"unjudged, refused",
       {},
       dados1 + fim,
       "R\r\n",
       0,
       "2 linhas enviadas, 2 recusadas (linha 1: \"R\\r\\n\")"},
      {"unjudged, one", {}, fim, "V\r\n", 0, "1 linhas enviadas, 1 recusada (linha 1: \"V\\r\\n\")"},
      {"any answer", {.qualquer_resposta = true}, dados1 + fim, "R\r\n", 0, "2 linhas enviadas"},
      {"judged",
       {.julga_resposta = true},
       dados1 + fim,
       "R\r\n",
       2,
       "linha 1: resposta \"R\\r\\n\", esperada \".\\r\\n\""},
      {"judged, its own",
       {.julga_resposta = true, .resposta = {'o', 'k', '\n'}},
       fim,
       "ok\n",
       0,
       "1 linhas enviadas"},
  };
  for (const auto& c : casos) {
    SCOPED_TRACE(c.caso);
    fake::reinicia();
    modo_envio = c.modo;
    ArquivoTemporario f("p.hex", c.conteudo);
    fake::dispositivo_eco(10, c.resposta);
    Captura saida(stdout);
    Captura erro(stderr);
    EXPECT_EQ(envia_hex(f.caminho().c_str()), c.status);
    EXPECT_EQ(erro.texto(), "xagterm: " + f.caminho() + ": " + c.relato + "\n");
  }
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

// --- how each upload ended, said on standard error ---------------------------

// Echoes the first `ecos` bytes only, answering each line feed among them.
void dispositivo_que_emudece_apos(int ecos) {
  fake::dispositivo([ecos, n = 0](unsigned char c) mutable {
    if (n++ >= ecos) return;
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
    if (c == '\n') fake::chega(".\r\n", fake::agora() + 20);
  });
}

struct Desfecho {
  const char* caso;
  std::string conteudo;
  int ecos;  // bytes the device echoes; -1: every one, and it never answers
  int status;
  std::string relato;    // after "xagterm: FILE: "
  std::string enviado;   // down the line
  bool confere = false;  // the file checked first (--batch, --fast)
};

TEST_F(Upload, EveryOutcomeIsSaidOnceOnStandardError) {
  const std::string cabe = std::string(600, '6') + "\r\n";  // 600 before its line end
  const std::string longa = std::string(601, '6') + "\n";   // 601
  const std::string ultima = std::string(600, '6');         // 600, no line end
  const std::string todos = dados1 + dados2 + fim;
  const Desfecho casos[] = {
      {"answered end record", todos, 1000, 0, "3 linhas enviadas", todos},
      {"a 600-character line", cabe + fim, 1000, 0, "2 linhas enviadas", cabe + fim},
      {"no end record", dados1 + dados2, 1000, 1, "fim do arquivo sem registro 01 (2 linhas enviadas)",
       dados1 + dados2},
      {"empty file", "", 1000, 1, "fim do arquivo sem registro 01 (0 linhas enviadas)", ""},
      {"last line without line end", dados1 + ultima, 1000, 1,
       "fim do arquivo sem registro 01 (1 linhas enviadas)", dados1},
      {"silent device", todos, 0, 2, "linha 1, caractere 1 sem eco", ":"},
      {"echoes stop in line 2", todos, 25, 2, "linha 2, caractere 7 sem eco", dados1 + dados2.substr(0, 7)},
      {"no answer", todos, -1, 2, "linha 1 sem resposta", dados1},
      {"a 601-character line", dados1 + longa + fim, 1000, -1,
       "linha 2: longa demais (mais de 600 caracteres)", dados1},
      {"a line with a NUL", dados1 + std::string(":00\0\r\n", 6) + fim, 1000, -1, "linha 2: byte 0x00",
       dados1},
      {"address records left out", zero04 + dados1 + ":0400000500000100F6\n" + fim, 1000, 0,
       "2 linhas enviadas, 2 registros de endereco omitidos", dados1 + fim, true},
      {"one address record left out", zero04 + fim, 1000, 0,
       "1 linhas enviadas, 1 registro de endereco omitido", fim, true},
  };
  for (const Desfecho& d : casos) {
    SCOPED_TRACE(d.caso);
    fake::reinicia();
    ArquivoTemporario f("p.hex", d.conteudo);
    if (d.ecos < 0) {
      fake::dispositivo_eco();
    } else {
      dispositivo_que_emudece_apos(d.ecos);
    }
    Captura saida(stdout);
    Captura erro(stderr);
    modo_envio.confere_arquivo = d.confere;
    EXPECT_EQ(envia_hex(f.caminho().c_str()), d.status);
    modo_envio.confere_arquivo = false;
    EXPECT_EQ(erro.texto(), "xagterm: " + f.caminho() + ": " + d.relato + "\n");
    EXPECT_EQ(fake::enviados(), d.enviado);
  }
}

TEST_F(Upload, TheFileSentIsTheFileCheckedAndNeverTheLog) {
  ArquivoTemporario f("p.hex", dados1 + fim);
  modo_envio.registo = f.caminho().c_str();
  dispositivo_que_responde();
  Captura saida(stdout);
  Captura erros(stderr);
  EXPECT_EQ(envia_hex(f.caminho().c_str()), -1);
  EXPECT_EQ(erros.texto(), "xagterm: " + f.caminho() + ": e o arquivo de --log, nao um arquivo hex\n");
  modo_envio = ModoEnvio{};
  modo_envio.confere_arquivo = true;
  ArquivoHex h;
  ASSERT_EQ(abre_hex_conferido(f.caminho().c_str(), h), 0);
  // Replaced under the same name after the check: the open file still goes.
  std::ofstream(f.caminho() + ".novo", std::ios::binary) << ":020000040001F9\n" + fim;
  std::error_code erro;
  std::filesystem::rename(f.caminho() + ".novo", f.caminho(), erro);
  EXPECT_EQ(envia_hex_aberto(f.caminho().c_str(), h), 0);
  modo_envio = ModoEnvio{};
  EXPECT_EQ(fake::enviados(), dados1 + fim);
  if (erro) GTEST_SKIP() << "an open file cannot be replaced here: " << erro.message();
}

// Echoes each byte of the end record, answering `resposta` before the echo
// of its character `antes` (13: after the line feed's echo, as ever).
void placa_que_responde_antes(int antes, std::string resposta) {
  fake::dispositivo([antes, resposta, n = 0](unsigned char c) mutable {
    if (n == antes) fake::chega(resposta, fake::agora() + 20);
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 20);
    if (++n == 13 && antes == 13) fake::chega(resposta, fake::agora() + 20);
  });
}

// Once the record is whole, what differs from the line end's echo starts the
// answer: up to its three characters, shown after the echoes, as from a
// board that echoes first.
TEST_F(Upload, AnAnswerBeforeTheLineEndsEchoIsTakenAsTheAnswer) {
  const struct {
    int antes;
    std::string resposta;
    int status;
    std::string relato;
  } casos[] = {
      {13, ".\r\n", 0, "1 linhas enviadas"},
      {12, ".\r\n", 0, "1 linhas enviadas"},
      {11, ".\r\n", 0, "1 linhas enviadas"},
      {10, ".\r\n", 2, "linha 1, caractere 11: eco 0x2E em vez de 0x46"},
      {12, "ab\rd", 2, "linha 1, caractere 13: eco 0x64 em vez de 0x0A"},
  };
  for (bool rapido : {false, true}) {
    for (const auto& c : casos) {
      SCOPED_TRACE(std::to_string(rapido) + " " + std::to_string(c.antes) + " " + c.resposta);
      fake::reinicia();
      modo_envio = ModoEnvio{
          .confere_eco = true, .rapido = rapido, .julga_resposta = true, .resposta = {'.', '\r', '\n'}};
      ArquivoTemporario f("p.hex", fim);
      placa_que_responde_antes(c.antes, c.resposta);
      Captura saida(stdout);
      Captura erro(stderr);
      EXPECT_EQ(envia_hex(f.caminho().c_str()), c.status);
      EXPECT_EQ(erro.texto(), "xagterm: " + f.caminho() + ": " + c.relato + "\n");
      if (c.status == 0) {
        EXPECT_EQ(saida.texto(), fim + ".\r\n");
      }
    }
  }
}

// A line that goes away mid-line, or before its answer, is said as lost.
TEST_F(Upload, ALostLineEndsTheUploadSayingSo) {
  nome_da_porta = "ttyUSB0";
  for (bool rapido : {false, true}) {
    for (int depois : {5, 13}) {
      fake::reinicia();
      modo_envio.rapido = rapido;
      ArquivoTemporario f("p.hex", dados1 + fim);
      fake::dispositivo([depois, n = 0](unsigned char c) mutable {
        fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
        if (++n == depois) fake::perde_linha(fake::agora() + 15);
      });
      Captura saida(stdout);
      Captura erro(stderr);
      EXPECT_EQ(envia_hex(f.caminho().c_str()), 2);
      EXPECT_EQ(erro.texto(), "xagterm: linha perdida: ttyUSB0\n");
    }
  }
}

// Ctrl-C once line 1's whole answer is in: line 1 went, line 2 did not.
TEST_F(Upload, CtrlCAfterAWholeAnswerCountsThatLineAsSent) {
  for (bool rapido : {false, true}) {
    fake::reinicia();
    modo_envio.rapido = rapido;
    ArquivoTemporario f("p.hex", dados1 + fim);
    fake::dispositivo([](unsigned char c) {
      fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
      if (c != '\n') return;
      fake::chega(".\r", fake::agora() + 20);
      fake::chega("\n", fake::agora() + 5000);  // with Ctrl-C
      fake::interrompe(fake::agora() + 5000);
    });
    Captura saida(stdout);
    Captura erro(stderr);
    EXPECT_THROW(envia_hex(f.caminho().c_str()), fake::Interrompido);
    EXPECT_EQ(erro.texto(), "xagterm: " + f.caminho() + ": interrompido na linha 2 (1 linhas enviadas)\n");
    EXPECT_EQ(fake::enviados(), dados1);
  }
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
  EXPECT_EQ(digita(f.caminho() + "\n"), "xagterm: " + f.caminho() + ": 1 linhas enviadas\n");
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
  const std::string enviado = "xagterm: " + f.caminho() + ": 1 linhas enviadas\n";
  const std::string cortado = "xagterm: nome cortado: \"" + f.caminho();
  EXPECT_EQ(digita(f.caminho() + " extra words\n"),
            cortado + " extra words\" -> \"" + f.caminho() + "\"\n" + enviado);
  EXPECT_EQ(resultado, 0);
  EXPECT_EQ(digita(f.caminho() + "\tx\n"), cortado + "\tx\" -> \"" + f.caminho() + "\"\n" + enviado);
  EXPECT_EQ(resultado, 0);
  EXPECT_EQ(digita(f.caminho() + "  \n"), enviado);  // blanks alone are cut without a word
}

TEST_F(UploadDigitado, ALeadingSpaceGivesAnEmptyName) {
  EXPECT_EQ(digita(" p.hex\n"), "xagterm: nome cortado: \" p.hex\" -> \"\"\nNo such file or directory\n");
  EXPECT_EQ(resultado, -1);
}

TEST_F(UploadDigitado, BytesFrom0x80UpEndTheNameBut0x7FDoesNot) {
  EXPECT_EQ(digita("ab\xE7"
                   "d.hex\n"),
            "xagterm: nome cortado: \"ab\xE7"
            "d.hex\" -> \"ab\"\nab: No such file or directory\n");
  EXPECT_EQ(digita("ab\x7F"
                   "d.hex\n"),
            "ab\x7F"
            "d.hex: No such file or directory\n");
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
