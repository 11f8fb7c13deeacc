// xagterm as a plain terminal on a line that the test plays byte by byte.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {
namespace {

// The console is in single-key mode: no line editing, no local echo.
bool takes_single_keys(const termios& t) { return (t.c_lflag & (ICANON | ECHO)) == 0; }

// A line left in a state nothing like the one the device needs: xagterm
// must set every part of it.
termios odd_line_settings() {
  termios t = cooked_terminal();
  t.c_iflag |= IXOFF | INLCR | IGNCR | ISTRIP;
  t.c_cflag = (t.c_cflag & ~CSIZE) | CS7 | PARENB | CSTOPB | CRTSCTS;  // another program's handshake
  t.c_lflag |= ECHONL;
  cfsetispeed(&t, B1200);
  cfsetospeed(&t, B1200);
  return t;
}

class TerminalTest : public SessionTest {
 protected:
  // Runs xagterm on the line and waits for its whole banner.
  void start_on_line(const std::vector<std::string>& args = {}, int baud = 9600) {
    std::vector<std::string> argv{kXagterm, line.path()};
    argv.insert(argv.end(), args.begin(), args.end());
    ASSERT_NO_FATAL_FAILURE(start(argv));
    ASSERT_TRUE(term->console_shows(crlf(banner(line.path(), baud))))
        << "console: " << printable(term->console());
  }

  void expect_single_keys() {
    EXPECT_TRUE(term->console_settings_become(takes_single_keys))
        << "the console still edits lines or echoes while the terminal runs";
  }

  // Ctrl-X: sent down the line, then xagterm ends well and silently.
  void quit() {
    ASSERT_NO_FATAL_FAILURE(SessionTest::quit());
    EXPECT_EQ(term->errors(), "");
  }

  Line line{odd_line_settings()};
};

TEST_F(TerminalTest, ShowsTheBannerAndNothingMore) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(term->console()), printable(crlf(banner(line.path(), 9600))));
  EXPECT_EQ(printable(line.received()), "\\x18");
}

TEST_F(TerminalTest, KeysGoDownTheLineAndAreNotShown) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  expect_single_keys();
  // Enter, Ctrl-Z, Ctrl-\, Ctrl-S, Ctrl-Q are bytes like any other here.
  const std::string keys = "hello\r\x1a\x1c\x13\x11 world";
  term->type(keys);
  ASSERT_TRUE(line.received_contains(keys)) << printable(line.received());
  EXPECT_TRUE(term->running()) << term->status_text();
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(line.received()), printable(keys + kCtrlX));
  EXPECT_EQ(printable(after_banner()), "");
}

TEST_F(TerminalTest, EveryKeyByteReachesTheLine) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  expect_single_keys();
  // All but the console's interrupt key and xagterm's own command keys.
  std::string keys;
  for (int b = 0; b < 256; ++b) {
    if (b != kCtrlC && b != kCtrlF && b != kCtrlU && b != kCtrlX) keys += static_cast<char>(b);
  }
  term->type(keys);
  ASSERT_TRUE(line.received_contains(keys)) << printable(line.received());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(line.received()), printable(keys + kCtrlX));
  EXPECT_EQ(printable(after_banner()), "");
}

TEST_F(TerminalTest, EveryLineByteIsShown) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  line.send(bytes);
  // The console itself turns the LF into CR LF.
  const std::string shown = crlf(bytes);
  ASSERT_TRUE(term->console_shows(shown)) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(after_banner()), printable(shown));
}

TEST_F(TerminalTest, CommandBytesFromTheLineAreOnlyShown) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  line.send("\x18\x15\x06 and still here");
  ASSERT_TRUE(term->console_shows("\x18\x15\x06 and still here")) << printable(term->console());
  EXPECT_TRUE(term->running()) << "a Ctrl-X from the line ended the program: " << term->status_text();
  term->type("k");
  ASSERT_TRUE(line.received_contains("k")) << printable(line.received());
  ASSERT_NO_FATAL_FAILURE(quit());
  // No file prompt, no handshake, no menu.
  EXPECT_EQ(printable(after_banner()), printable("\x18\x15\x06 and still here"));
  EXPECT_EQ(printable(line.received()), "k\\x18");
}

TEST_F(TerminalTest, EndOfKeyboardInputLeavesTheLineShownWithoutSpinning) {
  keyboard = false;  // standard input is /dev/null, the console only shows
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  const double share = term->cpu_share(Millis{1000});
  EXPECT_LT(share, 0.2) << "the terminal spins once its keyboard input has ended";
  line.send("from the device\n");
  EXPECT_TRUE(term->console_shows("from the device\r\n")) << printable(term->console());
  EXPECT_TRUE(term->running()) << term->status_text();
  term->signal(SIGTERM);
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->killed_by(), SIGTERM) << term->status_text();
  EXPECT_EQ(term->errors(), "");
  EXPECT_EQ(printable(line.received()), "");
  expect_console_restored();
}

TEST_F(TerminalTest, HungUpLineWithoutReconnectIsSaidAndEndsWithStatusThree) {
  ASSERT_NO_FATAL_FAILURE(start_on_line({"--no-reconnect"}));
  line.hang_up();
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->exit_code(), 3) << term->status_text();
  EXPECT_EQ(term->errors(), "xagterm: linha perdida: " + line.path() + "\n");
  expect_console_restored();
}

TEST_F(TerminalTest, ConsoleClosedUnderAnIgnoredHangUpEndsAsCtrlXDoes) {
  ASSERT_NO_FATAL_FAILURE(start({"/bin/sh", "-c", "trap '' HUP; exec \"$0\" \"$1\"", kXagterm, line.path()}));
  ASSERT_NO_FATAL_FAILURE(expect_single_keys());
  // The terminal's window closes: its master side goes (/dev/null in its place).
  const int console = term->console_stream().fd();
  const int nothing = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_EQ(::dup2(nothing, console), console);
  ::close(nothing);
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->exit_code(), 0) << term->status_text();
}

// --- how the program leaves: the console's settings always come back ---------

TEST_F(TerminalTest, CtrlXRestoresTheConsole) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  expect_single_keys();
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(TerminalTest, CtrlCKillsWithTheConsoleRestored) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  expect_single_keys();
  term->type(std::string(1, kCtrlC));
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->killed_by(), SIGINT) << term->status_text();
  expect_console_restored();
  EXPECT_EQ(printable(line.received()), "") << "the interrupt key went down the line";
}

class FatalSignalTest : public TerminalTest, public ::testing::WithParamInterface<int> {};

TEST_P(FatalSignalTest, DiesOfTheSignalWithTheConsoleRestored) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  expect_single_keys();
  term->signal(GetParam());
  ASSERT_TRUE(ends(*term));
  EXPECT_EQ(term->killed_by(), GetParam()) << term->status_text();
  EXPECT_EQ(term->errors(), "");
  expect_console_restored();
}

INSTANTIATE_TEST_SUITE_P(Signals, FatalSignalTest,
                         ::testing::Values(SIGTERM, SIGHUP, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGXCPU,
                                           SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGRTMIN),
                         [](const auto& info) {
                           return info.param == SIGRTMIN ? std::string("SIGRTMIN")
                                                         : "SIG" + std::string(sigabbrev_np(info.param));
                         });

// The process is stopped (state T in /proc).
bool stopped(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  return paren != std::string::npos && paren + 2 < stat.size() && stat[paren + 2] == 'T';
}

TEST_F(TerminalTest, ContinuedAfterAStopTakesSingleKeysAgain) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  expect_single_keys();
  term->signal(SIGSTOP);
  ASSERT_TRUE(wait_until([&] { return stopped(term->pid()); }, {}));
  // A shell puts its own settings back while the job is stopped.
  termios shell = cooked_terminal();
  ASSERT_EQ(::tcsetattr(term->console_stream().fd(), TCSANOW, &shell), 0);
  term->signal(SIGCONT);
  expect_single_keys();
  term->type("k");
  ASSERT_TRUE(line.received_contains("k"));
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(TerminalTest, CtrlZAtTheFileNamePromptLeavesTheNameReadGoingOn) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  term->type(std::string(1, kCtrlU));
  ASSERT_TRUE(term->console_shows("Nome do arquivo="));
  ASSERT_TRUE(term->console_settings_become([](const termios& t) { return (t.c_lflag & ICANON) != 0; }));
  term->type("\x1a");
  term->settle();
  term->type("missing.hex\r");
  ASSERT_TRUE(term->errors_show("missing.hex: No such file or directory\n")) << term->errors();
  ASSERT_NO_FATAL_FAILURE(SessionTest::quit());
  EXPECT_EQ(printable(line.received()), "\\x15\\x18");
}

// --- standard streams that are closed or go away ------------------------------

TEST_F(TerminalTest, ClosedStandardOutputNeverBecomesThePort) {
  Program term({"/bin/sh", "-c", "exec \"$0\" \"$1\" >&-", kXagterm, line.path()});
  ASSERT_TRUE(term.console_settings_become(takes_single_keys));
  term.type("abc");
  ASSERT_TRUE(line.received_contains("abc")) << printable(line.received());
  term.type(std::string(1, kCtrlX));
  ASSERT_TRUE(ends(term));
  EXPECT_EQ(term.exit_code(), 0) << term.status_text();
  EXPECT_EQ(printable(line.received()), "abc\\x18") << "the banner or an echo went down the line";
}

TEST_F(TerminalTest, ReaderOfStandardOutputGoingAwayEndsAsCtrlXDoes) {
  const std::string status = dir.file("status");
  Program term(
      {"/bin/sh", "-c", "{ \"$0\" \"$1\"; echo $? >\"$2\"; } | head -c 10", kXagterm, line.path(), status});
  ASSERT_TRUE(term.console_settings_become(takes_single_keys));
  // head takes ten bytes of the banner and leaves; the next thing shown fails.
  ASSERT_TRUE(wait_until(
      [&] {
        if (!term.running()) return true;
        line.send("from the device\n");
        return false;
      },
      {&term.console_stream()}));
  EXPECT_EQ(read_file(status), "0\n");
  EXPECT_EQ(printable(term.console()), "Terminal /");
  EXPECT_EQ(settings_difference(term.initial_settings(), term.console_settings()), "");
}

// --- the line's settings ---------------------------------------------------

struct Rate {
  const char* argument;  // nullptr: none given
  int bps;               // what the line and the banner must show
};

void PrintTo(const Rate& rate, std::ostream* os) {
  *os << (rate.argument != nullptr ? rate.argument : "no rate") << " -> " << rate.bps;
}

class LineRateTest : public TerminalTest, public ::testing::WithParamInterface<Rate> {};

TEST_P(LineRateTest, LineIsRaw8N1AtTheRate) {
  const Rate rate = GetParam();
  std::vector<std::string> args;
  if (rate.argument != nullptr) args.push_back(rate.argument);
  ASSERT_NO_FATAL_FAILURE(start_on_line(args, rate.bps));
  const termios t = line.settings();
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
  EXPECT_NE(t.c_cflag & CREAD, 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP), 0u);
  EXPECT_EQ(line.speed_bps(), rate.bps);
  ASSERT_NO_FATAL_FAILURE(SessionTest::quit());
  const bool replaced = rate.argument != nullptr && std::to_string(rate.bps) != rate.argument + 2;
  EXPECT_EQ(
      term->errors(),
      replaced ? "xagterm: " + std::string(rate.argument) + ": taxa fora de 300..115200, usando 9600\n" : "");
}

INSTANTIATE_TEST_SUITE_P(Rates, LineRateTest,
                         ::testing::Values(Rate{nullptr, 9600}, Rate{"b=300", 300}, Rate{"b=600", 600},
                                           Rate{"b=1200", 1200}, Rate{"b=1800", 1800}, Rate{"b=2400", 2400},
                                           Rate{"b=4800", 4800}, Rate{"b=9600", 9600}, Rate{"b=19200", 19200},
                                           Rate{"b=38400", 38400}, Rate{"b=57600", 57600},
                                           Rate{"b=115200", 115200}, Rate{"b=250000", 9600},
                                           Rate{"b=100000", 100000}),
                         [](const auto& info) {
                           return info.param.argument == nullptr ? std::string("Default")
                                                                 : std::to_string(info.param.bps) + "From" +
                                                                       std::string(info.param.argument + 2);
                         });

// --- ports that cannot be used ---------------------------------------------

class PortFailureTest : public ::testing::Test {
 protected:
  // xagterm must give up at once: the message, no output, the console untouched.
  void expect_failure(const std::string& port, const std::string& message) {
    SCOPED_TRACE(port);
    Program term({kXagterm, port});
    ASSERT_TRUE(ends(term));
    EXPECT_EQ(term.exit_code(), 1) << term.status_text();
    EXPECT_EQ(printable(term.errors()), printable(message));
    EXPECT_EQ(printable(term.console()), "");
    EXPECT_EQ(settings_difference(term.initial_settings(), term.console_settings()), "");
  }
};

TEST_F(PortFailureTest, MissingDevice) {
  expect_failure("/dev/does-not-exist",
                 "Nao abriu a /dev/does-not-exist\n/dev/does-not-exist: No such file or directory\n");
}

TEST_F(PortFailureTest, MissingComPortIsNamedAsTyped) {
  int n = 7;
  while (::access(("/dev/ttyS" + std::to_string(n - 1)).c_str(), F_OK) == 0) ++n;
  // The name as typed, and the device path it was tried as.
  const std::string lost =
      std::to_string(n) + " (/dev/ttyS" + std::to_string(n - 1) + "): No such file or directory\n";
  expect_failure("COM" + std::to_string(n), "Nao abriu a COM" + std::to_string(n) + "\nCOM" + lost);
  expect_failure("com" + std::to_string(n), "Nao abriu a com" + std::to_string(n) + "\ncom" + lost);
}

TEST_F(PortFailureTest, DeviceThatIsNoSerialPort) {
  expect_failure("/dev/null", "SetCommState\n/dev/null: Inappropriate ioctl for device\n");
}

TEST_F(TerminalTest, PortHeldByAnotherXagtermIsRefused) {
  ASSERT_NO_FATAL_FAILURE(start_on_line());
  Program second({kXagterm, line.path()});
  ASSERT_TRUE(ends(second));
  EXPECT_EQ(second.exit_code(), 1) << second.status_text();
  EXPECT_EQ(second.errors(),
            "Nao abriu a " + line.path() + "\n" + line.path() + ": Device or resource busy\n");
  EXPECT_EQ(printable(second.console()), "");
  // The first one is undisturbed.
  term->type("x");
  ASSERT_TRUE(line.received_contains("x"));
  ASSERT_NO_FATAL_FAILURE(quit());
}

}  // namespace
}  // namespace e2e
