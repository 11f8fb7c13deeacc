// Boards on another machine: xagterm through ser2net (rfc2217:// and tcp://)
// to xagsim's line, all on 127.0.0.1.
#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "e2e_support.hpp"
#include "platform/linux/baud.hpp"
#include "ser2net_harness.hpp"

namespace e2e {
namespace {

using ser2net_harness::Server;

class RedeTest : public SessionTest {
 protected:
  void SetUp() override {
    if (!ser2net_harness::available()) GTEST_SKIP() << "ser2net is not installed";
    if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  }

  // xagsim on its own, every byte on its line logged.
  void start_board(std::vector<std::string> options = {}) {
    std::vector<std::string> argv{kXagsim};
    argv.insert(argv.end(), options.begin(), options.end());
    argv.insert(argv.end(), {"--log", dir.file("wire.log")});
    board = std::make_unique<Program>(argv);
    ASSERT_TRUE(board->console_shows("\n")) << board->errors();
    line = board->console().substr(0, board->console().find_first_of("\r\n"));
  }

  void serve(const std::string& kind, const std::string& device = "") {
    port = ser2net_harness::free_port();
    server = std::make_unique<Server>(dir, port, device.empty() ? line : device, kind,
                                      std::vector<std::string>{"chardelay: false"});
    url = kind + "://127.0.0.1:" + std::to_string(port);
  }

  // xagterm with --batch on a small file; its exit status.
  int batch(const std::vector<std::string>& options) {
    std::ofstream(dir.file("prog.hex")) << record(0, 0x100, "\x01\x02\xFF\x03") << "\n"
                                        << record(0, 0x104, "\xFF") << "\n"
                                        << end_record() << "\n";
    Launch launch;
    launch.argv = {kXagterm, url, "b=115200", "prog.hex", "--batch"};
    launch.argv.insert(launch.argv.end(), options.begin(), options.end());
    launch.directory = dir.path();
    term = std::make_unique<Program>(launch);
    EXPECT_TRUE(ends(*term));
    return term->exit_code();
  }

  // The board's log once it has ended.
  std::string board_received() {
    board->signal(SIGTERM);
    EXPECT_TRUE(board->wait_exit()) << board->status_text();
    return sent_down_the_line();
  }

  std::unique_ptr<Program> board;
  std::unique_ptr<Server> server;
  std::string line;
  std::string url;
  int port = 0;
};

TEST_F(RedeTest, TheRateReachesTheDeviceAndEveryByteValueGoesBothWays) {
  std::string every;
  std::string escaped;
  for (int c = 0; c < 256; ++c) {
    every += static_cast<char>(c);
    escaped += "\\x" + hex2(static_cast<unsigned>(c));
  }
  ASSERT_NO_FATAL_FAILURE(start_board({"--send", escaped}));
  serve("rfc2217");
  start({kXagterm, url, "b=57600", "--log", dir.file("session.log")});
  int fd = open(line.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  EXPECT_EQ(plat::baud_lido(fd), 57600);
  close(fd);
  // Keys: every value but the four that act (Ctrl-C, Ctrl-F, Ctrl-U, Ctrl-X).
  std::string typed;
  for (char c : every) {
    if (c != kCtrlC && c != kCtrlF && c != kCtrlU && c != kCtrlX) typed += c;
  }
  term->type(typed);
  // The log holds what was shown as it came: the 256 values, then the
  // echoes up to the last key's (the board answers the LF in between).
  ASSERT_TRUE(term->console_becomes([&](const std::string&) {
    const std::string log = read_file(dir.file("session.log"));
    const std::size_t at = log.find(every);
    return at != std::string::npos && log.rfind('\xFF') > at + 255;
  })) << printable(read_file(dir.file("session.log")));
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(board_received()), printable(typed + kCtrlX));
  EXPECT_EQ(term->errors(), "");
}

TEST_F(RedeTest, BatchFastUploadsTheFile) {
  ASSERT_NO_FATAL_FAILURE(start_board());
  serve("rfc2217");
  EXPECT_EQ(batch({"--fast"}), 0) << term->errors();
  EXPECT_EQ(term->errors(), "xagterm: prog.hex: 3 linhas enviadas\n");
}

TEST_F(RedeTest, AMenuActionRuns) {
  ASSERT_NO_FATAL_FAILURE(start_board({"--status", "0x5A"}));
  serve("rfc2217");
  start({kXagterm, url, "b=9600"});
  term->type(std::string(1, kCtrlF));
  ASSERT_TRUE(term->console_shows("H: Programar arquivo *.hex")) << printable(term->console());
  term->type("R");
  ASSERT_TRUE(term->console_shows("Status=5A")) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(RedeTest, ARefusedConnectionSaysSo) {
  port = ser2net_harness::free_port();
  url = "rfc2217://127.0.0.1:" + std::to_string(port);
  EXPECT_EQ(batch({}), 1);
  EXPECT_EQ(term->errors(), "Nao abriu a " + url + "\n" + url + ": Connection refused\n");
}

TEST_F(RedeTest, AServerThatCannotOpenItsDeviceGivesItsWords) {
  serve("tcp", "/dev/xag-no-such-device");
  EXPECT_EQ(batch({}), 1);
  EXPECT_NE(term->errors().find("\n" + url + ": Device open failure: "), std::string::npos) << term->errors();
}

TEST_F(RedeTest, AServerThatGoesAndComesBackIsReconnected) {
  ASSERT_NO_FATAL_FAILURE(start_board());
  serve("rfc2217");
  start({kXagterm, url, "b=9600"});
  server->stop();
  ASSERT_TRUE(term->errors_show("xagterm: linha perdida: " + url + "; esperando que volte (Ctrl-X sai)\n"));
  server = std::make_unique<Server>(dir, port, line, "rfc2217", std::vector<std::string>{});
  ASSERT_TRUE(term->errors_show("xagterm: reconectado: " + url + "\n")) << term->errors();
  term->type("b");
  ASSERT_TRUE(term->console_shows("b", kBannerEnd.size())) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(RedeTest, WithoutReconnectingALostServerEndsTheSession) {
  ASSERT_NO_FATAL_FAILURE(start_board());
  serve("tcp");
  start({kXagterm, url, "--no-reconnect"});
  server->stop();
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->exit_code(), 3);
  EXPECT_EQ(term->errors(), "xagterm: linha perdida: " + url + "\n");
}

// A board 50 ms away, in lockstep. Passes only once every echo and answer
// budget grows by the link's round trip (plat::porta_ida_e_volta_us).
TEST_F(RedeTest, ABoardFiftyMillisecondsAwayTakesALockstepUpload) {
  ASSERT_NO_FATAL_FAILURE(start_board({"--latency", "25"}));
  serve("rfc2217");
  EXPECT_EQ(batch({}), 0) << term->errors();
}

}  // namespace
}  // namespace e2e
