#include "programming/menu.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "platform/plataforma.hpp"
#include "saida/saida.hpp"
#include "tests/fake/fake.hpp"
#include "tests/unit/apoio.hpp"

namespace {

const std::string menu =
    "\n*** Menu de programacao do XAG49: ***\nE: Apagar bloco\nS: Zerar Byte de Status\n"
    "D: Mostrar Dados\nR: Ler byte de Status e Vetor de boot\nH: Programar arquivo *.hex\n\n";
const std::string falhou = "\nFalhou a detec\xE7\xE3o do baud-rate\n\n";
const std::string sem_eco =
    "xagterm: nenhum eco do 'f': placa desligada, fora do firmware de programacao ou linha "
    "interrompida\n";
std::string eco_errado(int tentativas) {
  return "xagterm: eco errado do 'f' (tentativas: " + std::to_string(tentativas) +
         "): a placa deve estar em outra taxa\n";
}

class Menu : public ::testing::Test {
 protected:
  void SetUp() override { fake::reinicia(); }

  // Runs comando() with these keys; keeps what it showed and returned.
  int corre(const std::string& teclas) {
    fake::teclas(teclas);
    Captura captura(stdout);
    Captura captura_erro(stderr);
    resultado = comando();
    mostra_adiado();  // the last echo, as the terminal loop shows it before it waits
    saida = captura.texto();
    erros = captura_erro.texto();
    return resultado;
  }
  // What went down the line after the handshake.
  std::string registros() const { return fake::enviados().substr(fake::enviados().find_first_not_of('f')); }

  int resultado = 0;
  std::string saida;
  std::string erros;
};

}  // namespace

// --- handshake ---------------------------------------------------------------

TEST_F(Menu, DeviceThatEchoesTheFirstFGetsOneAndSeesTheMenu) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("x"), -1);
  EXPECT_EQ(fake::enviados(), "f");
  EXPECT_EQ(saida, "f" + menu);
}

TEST_F(Menu, SilentDeviceGetsOneFThenTheFailureText) {
  EXPECT_EQ(corre("E"), -1);
  EXPECT_EQ(fake::enviados(), "f");
  EXPECT_EQ(saida, falhou);
  EXPECT_EQ(erros, sem_eco);
}

TEST_F(Menu, DeviceAtAnotherRateGetsSevenFsEachEchoShown) {
  fake::dispositivo([](unsigned char) { fake::chega("\x9C"); });
  EXPECT_EQ(corre("E"), -1);
  EXPECT_EQ(fake::enviados(), "fffffff");
  EXPECT_EQ(saida, std::string(7, '\x9C') + falhou);
  EXPECT_EQ(erros, eco_errado(7));
}

TEST_F(Menu, ANulEchoEndsTheHandshake) {
  fake::dispositivo([](unsigned char) { fake::chega(std::string(1, '\0')); });
  EXPECT_EQ(corre("E"), -1);
  EXPECT_EQ(fake::enviados(), "f");
  EXPECT_EQ(saida, falhou);
  EXPECT_EQ(erros, eco_errado(1));
}

TEST_F(Menu, AWaitingEchoOfCtrlFIsShownBeforeTheFirstF) {
  fake::chega("\x06");
  fake::dispositivo_eco();
  EXPECT_EQ(corre("x"), -1);
  EXPECT_EQ(fake::enviados(), "f");
  EXPECT_EQ(saida,
            "\x06"
            "f" +
                menu);
  EXPECT_EQ(erros, "");
}

TEST_F(Menu, EndOfKeyboardInputAtTheMenuIsNotAMenuKey) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre(""), -1);
  EXPECT_EQ(fake::enviados(), "f");
}

TEST_F(Menu, AnArrowKeyCountsAsItsFirstByteAndLeavesTheRestWaiting) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("\x1b[A"), -1);
  EXPECT_EQ(plat::tecla_le(), '[');
  EXPECT_EQ(plat::tecla_le(), 'A');
}

// --- actions -----------------------------------------------------------------

TEST_F(Menu, EraseBlockEightSendsItsRecord) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("E8\r"), 0);
  EXPECT_EQ(registros(), ":020000830180FA\n");
  EXPECT_EQ(saida, "f" + menu +
                       "Apagar Bloco:\n0=[0000.1FFF] 2=[2000.3FFF] 4=[4000.7FFF] 8=[8000.BFFF] "
                       "C=[C000.FFFF]\nBlock = 8\r\n:020000830180FA\n");
}

TEST_F(Menu, WhatIsLeftOnTheLineIsShownBeforeTheFirstRecord) {
  // A second echo of the handshake's 'f' still waits when the record goes.
  fake::dispositivo([](unsigned char c) {
    fake::chega(c == 'f' ? "ff" : std::string(1, static_cast<char>(c)), fake::agora() + 10);
  });
  EXPECT_EQ(corre("E8\r"), 0);
  EXPECT_EQ(registros(), ":020000830180FA\n");
  const std::string fim = "Block = 8\r\nf:020000830180FA\n";
  EXPECT_EQ(saida.substr(saida.size() - fim.size()), fim);
  unsigned char resto = 0;  // each echo of the record was taken in its turn
  EXPECT_EQ(plat::porta_le_disponivel(0, &resto, 1), 0);
}

TEST_F(Menu, EraseBlockPicksByTheLow28BitsOfTheNumber) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("e8000000c\n"), 0);
  EXPECT_EQ(registros(), ":0200008301C0BA\n");
  fake::reinicia();
  fake::dispositivo_eco();
  EXPECT_EQ(corre("E0004\r"), 0);
  EXPECT_EQ(registros(), ":0200008301403A\n");
}

TEST_F(Menu, EraseWithANumberThatIsNoBlockSendsNothing) {
  for (const char* teclas : {"E1\r", "EC0\r", "E\r", "E\x1b", "E8 "}) {
    fake::reinicia();
    fake::dispositivo_eco();
    EXPECT_EQ(corre(teclas), -1) << teclas;
    EXPECT_EQ(fake::enviados(), "f") << teclas;
    EXPECT_EQ(saida.substr(saida.size() - 17), "\nBloco Invalido\n\n") << teclas;
  }
}

TEST_F(Menu, DisplaySendsTheRangeFromStartForCount) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("D100\r10\r"), 0);
  EXPECT_EQ(registros(), ":050000840100010F0066\n");
  EXPECT_NE(saida.find("Mostrar Dados:\nEndere\xE7o inicial = 100\r\nNumero de bytes (hex) =10\r\n"),
            std::string::npos);
}

TEST_F(Menu, DisplayWithCountZeroAtZeroEndsAtFFFF) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("d0\r0\r"), 0);
  EXPECT_EQ(registros(), ":050000840000FFFF0079\n");
}

TEST_F(Menu, DisplayWithAnEmptyStartDoesNotAskForTheCount) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("D\r"), -1);
  EXPECT_EQ(saida.find("Numero de bytes"), std::string::npos);
  EXPECT_EQ(fake::enviados(), "f");
}

TEST_F(Menu, DisplayRefusesANegativeNumber) {
  fake::dispositivo_eco();
  EXPECT_EQ(corre("D80000000\r"), -1);
  fake::reinicia();
  fake::dispositivo_eco();
  EXPECT_EQ(corre("D0\rFFFFFFFF\r"), -1);
  EXPECT_EQ(fake::enviados(), "f");
}

TEST_F(Menu, ReadStatusAndBootVector) {
  fake::dispositivo([](unsigned char c) {
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
    if (c == '\n') fake::chega("5A\r\n", fake::agora() + 3000);
  });
  EXPECT_EQ(corre("r"), 0);
  EXPECT_EQ(registros(), ":02000085070171\n:02000085070270");
  EXPECT_EQ(saida, "f" + menu + ":02000085070171\n\nStatus=5A\r\n:02000085070270\nBoot vector=");
}

TEST_F(Menu, ARecordWithoutEchoIsSaidOncePerActionAndTheActionGoesOn) {
  for (const char* tecla_e_registro : {"s:010000830478", "r:02000085070171\\n"}) {
    fake::reinicia();
    fake::dispositivo([](unsigned char c) { fake::chega(c == 'f' ? "f" : ""); });  // the handshake only
    EXPECT_EQ(corre(std::string(1, tecla_e_registro[0])), 0);
    EXPECT_EQ(erros.substr(erros.find('x')),
              "xagterm: registro sem eco: " + std::string(tecla_e_registro + 1) + "\n");
  }
}

TEST_F(Menu, ClearStatusSendsItsFourRecordsInOrderEachReplyShown) {
  int registro = 0;
  fake::dispositivo([&registro](unsigned char c) {
    fake::chega(std::string(1, static_cast<char>(c)), fake::agora() + 10);
    if (c == ':') ++registro;
    // The reply of each record arrives once its last character is echoed.
    if (c == '8' || c == '3' || c == 'B') fake::chega("", fake::agora());
  });
  EXPECT_EQ(corre("S"), 0);
  EXPECT_EQ(registros(), ":010000830478:030000830601C0B3:030000830601F083:030000830601F87B");
  EXPECT_EQ(registro, 4);
  EXPECT_EQ(saida.substr(0, 1 + menu.size() + 20), "f" + menu + "Zerar byte de Status");
  // 10 reads of 20 bytes after each of the first three records.
  EXPECT_EQ(std::count(fake::pedidos().begin(), fake::pedidos().end(), '\x14'), 30);
}

TEST_F(Menu, HEndsTheProgramWithStatusZero) {
  fake::dispositivo_eco();
  fake::teclas("h");
  EXPECT_EXIT(comando(), ::testing::ExitedWithCode(0), "");
}

// --- hex number entry --------------------------------------------------------

class Lenum : public ::testing::Test {
 protected:
  void SetUp() override { fake::reinicia(); }
  std::int32_t le(const std::string& teclas) {
    fake::teclas(teclas);
    Captura captura(stdout);
    std::int32_t v = lenum();
    eco = captura.texto();
    return v;
  }
  std::string eco;
};

TEST_F(Lenum, HexDigitsEndedByEnterOrLineFeed) {
  EXPECT_EQ(le("1a\r"), 0x1A);
  EXPECT_EQ(eco, "1A\r\n");
  EXPECT_EQ(le("C0\n"), 0xC0);
  EXPECT_EQ(eco, "C0\n\n");
  EXPECT_EQ(le("0\r"), 0);
}

TEST_F(Lenum, OnlyTheLastEightDigitsCount) {
  EXPECT_EQ(le("123456789\r"), 0x23456789);
  EXPECT_EQ(le("7FFFFFFF\r"), 0x7FFFFFFF);
  EXPECT_EQ(le("80000000\r"), static_cast<std::int32_t>(0x80000000u));
  EXPECT_EQ(le("FFFFFFFF\r"), -1);
}

TEST_F(Lenum, NoDigitOrAnyOtherEndingKeyIsInvalid) {
  EXPECT_EQ(le("\r"), -1);
  EXPECT_EQ(eco, "\r\n");
  EXPECT_EQ(le("12\b"), -1);
  EXPECT_EQ(eco, "12\b\n");
  EXPECT_EQ(le("12\x1b"), -1);
  EXPECT_EQ(le("12 "), -1);
  EXPECT_EQ(le("12g"), -1);
  EXPECT_EQ(eco, "12G\n");
}

TEST_F(Lenum, EndOfKeyboardInputEndsTheEntryAsInvalid) {
  EXPECT_EQ(le("12"), -1);
  EXPECT_EQ(eco, "12\n");
}
