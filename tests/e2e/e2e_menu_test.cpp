// The programming menu (Ctrl-F): the baud-rate handshake, then one action.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {
namespace {

const std::string kMenu = crlf(
    "\n*** Menu de programacao do XAG49: ***\nE: Apagar bloco\nS: Zerar Byte de Status\n"
    "D: Mostrar Dados\nR: Ler byte de Status e Vetor de boot\nH: Programar arquivo *.hex\n\n");
const std::string kHandshakeFailed = crlf("\nFalhou a detec\xE7\xE3o do baud-rate\n\n");
const std::string kInvalidBlock = crlf("Bloco Invalido\n\n");

const std::string kNoEcho =
    "xagterm: nenhum eco do 'f': placa desligada, fora do firmware de programacao ou linha "
    "interrompida\n";
const std::string kWrongEcho =
    "xagterm: eco errado do 'f' (tentativas: 7): a placa deve estar em outra taxa\n";

// A command record as the menu sends it: Intel HEX of type 8x at address 0.
std::string command(unsigned type, std::string_view data, bool line_end = true) {
  return record(type, 0x0000, data) + (line_end ? "\n" : "");
}

class MenuTest : public SessionTest {
 protected:
  // xagterm on xagsim, the menu open.
  void open_menu(std::vector<std::string> sim_options = {}, const std::string& rate = "b=9600") {
    ASSERT_NO_FATAL_FAILURE(start_on_xagsim(std::move(sim_options), {"{port}", rate}));
    term->type(std::string(1, kCtrlF));
    ASSERT_TRUE(term->console_shows(kMenu)) << printable(term->console());
  }

  // Types the keys once the console shows the prompt.
  void answer(std::string_view prompt, std::string_view keys) {
    ASSERT_TRUE(term->console_shows(crlf(prompt))) << printable(term->console());
    term->type(keys);
  }

  // Waits until the console shows `text` after `marker`.
  bool shows_after(std::string_view marker, std::string_view text) {
    return term->console_becomes([&](const std::string& c) {
      std::size_t at = c.find(marker);
      return at != std::string::npos && c.find(text, at + marker.size()) != std::string::npos;
    });
  }

  // What went down the line after Ctrl-F and the handshake: the echo of the
  // Ctrl-F is awaited, so one 'f' does.
  std::string sent_after_handshake() {
    const std::string sent = sent_down_the_line();
    const std::string handshake = kCtrlF + std::string("f");
    if (sent.compare(0, handshake.size(), handshake) == 0) return sent.substr(handshake.size());
    return "<no handshake> " + sent;
  }

  // Waits until the console holds `count` answers of a good record.
  bool good_answers(std::size_t count) {
    return term->console_becomes([&](const std::string& c) {
      const std::string good = crlf(".\r\n");
      std::size_t n = 0;
      for (std::size_t at = c.find(good); at != std::string::npos; at = c.find(good, at + 1)) ++n;
      return n >= count;
    });
  }
};

// --- the handshake -----------------------------------------------------------

TEST_F(MenuTest, EchoingDeviceOpensTheMenuAtOnce) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  EXPECT_EQ(printable(after_banner().substr(0, 2 + kMenu.size())), printable(kCtrlF + ("f" + kMenu)));
  term->type("x");  // not a menu key: back to the terminal, nothing sent
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_after_handshake()), printable(std::string(1, kCtrlX)));
  EXPECT_EQ(term->errors(), "");
}

TEST_F(MenuTest, SilentDeviceGetsOneTryThenTheFailure) {
  ASSERT_NO_FATAL_FAILURE(start_on_xagsim({"--silent"}, {"{port}"}));
  term->type(std::string(1, kCtrlF));
  ASSERT_TRUE(term->console_shows(kHandshakeFailed)) << printable(term->console());
  term->type("k");  // the terminal goes on
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_down_the_line()), printable(kCtrlF + std::string("fk") + kCtrlX));
  EXPECT_EQ(printable(after_banner()), printable(kHandshakeFailed));
  EXPECT_EQ(term->errors(), kNoEcho);
}

TEST_F(MenuTest, DeviceAtAnotherRateGetsSevenTries) {
  ASSERT_NO_FATAL_FAILURE(start_on_xagsim({"--baud", "19200"}, {"{port}"}));
  term->type(std::string(1, kCtrlF));
  ASSERT_TRUE(term->console_shows(kHandshakeFailed)) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  const auto log = wire();
  EXPECT_EQ(printable(logged_bytes(log, true)), printable(kCtrlF + std::string(7, 'f') + kCtrlX));
  // The garbled answers are shown as they come, then the failure: the seven
  // to the 'f's, and before them the one to Ctrl-F when it came in time.
  const std::string garbled = logged_bytes(log, false);
  ASSERT_GE(garbled.size(), 8u);
  const std::string shown = after_banner();
  const std::string seven = crlf(garbled.substr(0, 7)) + kHandshakeFailed;
  const std::string eight = crlf(garbled.substr(0, 8)) + kHandshakeFailed;
  EXPECT_TRUE(shown.compare(0, seven.size(), seven) == 0 || shown.compare(0, eight.size(), eight) == 0)
      << printable(shown);
  EXPECT_EQ(term->errors(), kWrongEcho);
}

TEST_F(MenuTest, NulEchoEndsTheHandshake) {
  ASSERT_NO_FATAL_FAILURE(start_on_xagsim({"--echo-byte", "0"}, {"{port}"}));
  term->type(std::string(1, kCtrlF));
  ASSERT_TRUE(term->console_shows(kHandshakeFailed)) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_down_the_line()), printable(kCtrlF + std::string("f") + kCtrlX));
  // Before the failure at most the NUL echo of Ctrl-F, when it came in time.
  const std::string shown = after_banner();
  EXPECT_TRUE(shown.find(kHandshakeFailed) == 0 || shown.find(std::string(1, '\0') + kHandshakeFailed) == 0)
      << printable(shown);
}

// --- the actions ---------------------------------------------------------------

struct Block {
  const char* typed;
  unsigned code;
};

void PrintTo(const Block& b, std::ostream* os) { *os << b.typed << " -> " << b.code; }

class EraseTest : public MenuTest, public ::testing::WithParamInterface<Block> {};

TEST_P(EraseTest, TypedBlockIsErased) {
  const Block block = GetParam();
  const char data[2] = {'\x01', static_cast<char>(block.code)};
  const std::string erase = command(0x83, std::string_view(data, 2));
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("e");
  ASSERT_NO_FATAL_FAILURE(answer("Block = ", std::string(block.typed) + kEnter));
  // Every character of the record has been echoed.
  ASSERT_TRUE(shows_after("Block = ", crlf(erase))) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  const std::string upper = block.typed[0] == 'c' ? "C" : block.typed;
  EXPECT_TRUE(shows_after("Block = ", upper + "\r"))
      << "the number is not echoed in capitals: " << printable(term->console());
  EXPECT_EQ(printable(sent_after_handshake()), printable(erase + kCtrlX));
}

INSTANTIATE_TEST_SUITE_P(Blocks, EraseTest,
                         ::testing::Values(Block{"0", 0x00}, Block{"2", 0x20}, Block{"4", 0x40},
                                           Block{"8", 0x80}, Block{"c", 0xC0}),
                         [](const auto& info) { return "Block" + std::to_string(info.param.code); });

class InvalidBlockTest : public MenuTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(InvalidBlockTest, NothingIsErased) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("E");
  ASSERT_NO_FATAL_FAILURE(answer("Block = ", GetParam()));
  ASSERT_TRUE(term->console_shows(kInvalidBlock)) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_after_handshake()), printable(std::string(1, kCtrlX)));
}

INSTANTIATE_TEST_SUITE_P(Entries, InvalidBlockTest,
                         ::testing::Values("1\r", "\r", "8\x7f", "8\x1b", "8 ", "g"),
                         [](const auto& info) { return "Entry" + std::to_string(info.index); });

TEST_F(MenuTest, ARecordWaitsForEachEchoEvenAfterTheHandshake) {
  // With slow echoes the Ctrl-F echo answers the first 'f', and the echo of
  // the second comes only after the menu: it waits on the line meanwhile.
  const std::string erase = command(0x83, std::string("\x01\x80", 2));
  ASSERT_NO_FATAL_FAILURE(open_menu({"--echo-delay", "5"}));
  std::this_thread::sleep_for(Millis{200});  // as long as a person takes to read the menu
  term->type("e");
  ASSERT_NO_FATAL_FAILURE(answer("Block = ", std::string("8") + kEnter));
  ASSERT_TRUE(shows_after("Block = ", crlf(erase))) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  const std::string sent = sent_down_the_line();
  ASSERT_EQ(printable(sent_after_handshake()), printable(erase + kCtrlX));
  EXPECT_EQ(sent_before_its_turn(wire(), sent.find(':'), erase.size()), "");
}

TEST_F(MenuTest, DisplaySendsTheTypedRange) {
  const std::string display = command(0x84, std::string("\x01\xA0\x01\xAF\x00", 5));
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("D");
  ASSERT_NO_FATAL_FAILURE(answer("Mostrar Dados:\nEndere\xE7o inicial = ", "1a0\r"));
  ASSERT_NO_FATAL_FAILURE(answer("Numero de bytes (hex) =", "10\r"));
  ASSERT_TRUE(shows_after("Numero de bytes (hex) =", crlf(display))) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_TRUE(shows_after("Endere\xE7o inicial = ", "1A0\r")) << printable(term->console());
  EXPECT_EQ(printable(sent_after_handshake()), printable(display + kCtrlX));
}

TEST_F(MenuTest, DisplayShowsTheDeviceMemory) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("d");
  ASSERT_NO_FATAL_FAILURE(answer("Endere\xE7o inicial = ", "1a0\r"));
  ASSERT_NO_FATAL_FAILURE(answer("Numero de bytes (hex) =", "10\r"));
  ASSERT_TRUE(term->console_shows("01A0: FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF FF"))
      << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(MenuTest, DisplayWithAnInvalidCountSendsNothing) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("d");
  ASSERT_NO_FATAL_FAILURE(answer("Endere\xE7o inicial = ", "100\r"));
  ASSERT_NO_FATAL_FAILURE(answer("Numero de bytes (hex) =", "1 "));
  ASSERT_TRUE(shows_after("Numero de bytes (hex) =", "1 \r\n")) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_after_handshake()), printable(std::string(1, kCtrlX)));
}

TEST_F(MenuTest, ReadAsksForStatusAndBootVector) {
  const std::string status = command(0x85, "\x07\x01");
  const std::string boot = command(0x85, "\x07\x02", false);
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("r");
  ASSERT_TRUE(shows_after(kMenu, "\r\nStatus=")) << printable(term->console());
  ASSERT_TRUE(shows_after("\r\nStatus=", "\r\nBoot vector=")) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_after_handshake()), printable(status + boot + kCtrlX));
}

// A board fast, or paced at the line's rate and answering after the echo of
// the line end or as soon as the checksum is in: the same screen, one 'f'.
class ReadTest : public MenuTest, public ::testing::WithParamInterface<std::vector<std::string>> {};

TEST_P(ReadTest, ShowsStatusAndBootVectorWhole) {
  std::vector<std::string> sim{"--status", "0x5A", "--boot-vector", "0x12"};
  sim.insert(sim.end(), GetParam().begin() + 1, GetParam().end());
  ASSERT_NO_FATAL_FAILURE(open_menu(sim, GetParam()[0]));
  term->type("R");
  ASSERT_TRUE(shows_after("\r\nBoot vector=", "12\r\r\n")) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(shown_before_quit()),
            printable(kCtrlF + std::string("f") + kMenu +
                      crlf(":02000085070171\n\nStatus=5A\r\n:02000085070270\nBoot vector=12\r\n")));
  const std::string records = command(0x85, "\x07\x01") + command(0x85, "\x07\x02", false);
  EXPECT_EQ(printable(sent_after_handshake().substr(0, records.size())), printable(records));
  EXPECT_EQ(term->errors(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Boards, ReadTest,
    ::testing::Values(std::vector<std::string>{"b=9600"},
                      std::vector<std::string>{"b=9600", "--wire", "--answer-on-checksum"},
                      std::vector<std::string>{"b=300", "--wire", "--answer-on-checksum"},
                      std::vector<std::string>{"b=300", "--wire"}));

TEST_F(MenuTest, ClearingTheStatusSendsItsFourRecords) {
  const std::string last = command(0x83, "\x06\x01\xF8", false);
  const std::string clear = command(0x83, "\x04", false) + command(0x83, "\x06\x01\xC0", false) +
                            command(0x83, "\x06\x01\xF0", false) + last;
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("S");
  ASSERT_TRUE(shows_after("Zerar byte de Status", last)) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_after_handshake()), printable(clear + kCtrlX));
}

TEST_F(MenuTest, ClearedStatusReadsBackAsZero) {
  ASSERT_NO_FATAL_FAILURE(open_menu({"--status", "0x5A"}));
  term->type("s");
  ASSERT_TRUE(term->console_shows("Zerar byte de Status")) << printable(term->console());
  ASSERT_TRUE(good_answers(4)) << printable(term->console());
  std::size_t from = term->console().size();
  term->type(std::string(1, kCtrlF));
  ASSERT_TRUE(term->console_shows(kMenu, from)) << printable(term->console());
  term->type("r");
  ASSERT_TRUE(shows_after("\r\nStatus=", "00\r\r\n")) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(MenuTest, HEndsTheProgramReadyForAHexFile) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("h");
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->exit_code(), 0) << term->status_text();
  expect_console_restored();
  EXPECT_TRUE(shows_after(kMenu, crlf("\nPronto para programar um arquivo *.hex:\n")))
      << printable(term->console());
  EXPECT_EQ(printable(sent_after_handshake()), "");
  EXPECT_EQ(term->errors(), "");
}

TEST_F(MenuTest, ArrowKeyIsNoChoiceAndTheRestGoesDownTheLine) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("\x1b[A");
  ASSERT_TRUE(shows_after(kMenu, "[A")) << printable(term->console());
  EXPECT_TRUE(term->running()) << term->status_text();
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(sent_after_handshake()), printable(std::string("[A") + kCtrlX));
}

TEST_F(MenuTest, CtrlCInTheMenuRestoresTheConsole) {
  ASSERT_NO_FATAL_FAILURE(open_menu());
  term->type("d");
  ASSERT_NO_FATAL_FAILURE(answer("Endere\xE7o inicial = ", std::string(1, kCtrlC)));
  ASSERT_TRUE(ends(*term));
  // xagsim reports its command's death by SIGINT as 128 + 2.
  EXPECT_TRUE(term->exit_code() == 128 + SIGINT || term->killed_by() == SIGINT) << term->status_text();
  expect_console_restored();
}

}  // namespace
}  // namespace e2e
