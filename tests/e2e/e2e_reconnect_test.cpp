// A line that goes away and comes back, and one that stops taking bytes.
#include <gtest/gtest.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <utility>

#include "e2e_support.hpp"

namespace e2e {
namespace {

const std::string kLost = "xagterm: linha perdida: ";
const std::string kWaiting = "; esperando que volte (Ctrl-X sai)\n";
const std::string kBack = "xagterm: reconectado: ";

// Voluntary and involuntary context switches of a process so far.
long long wake_ups(pid_t pid) {
  std::istringstream in(read_file("/proc/" + std::to_string(pid) + "/status"));
  long long total = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("ctxt_switches:") != std::string::npos) {
      total += std::stoll(line.substr(line.find(':') + 1));
    }
  }
  return total;
}

// The first child of a process (xagterm, under xagsim), or the process itself.
pid_t child_of(pid_t pid) {
  std::istringstream in(
      read_file("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/children"));
  pid_t child = 0;
  return in >> child ? child : pid;
}

// Descriptors the process holds beyond standard input, output and error.
int extra_descriptors(pid_t pid) {
  int n = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd")) {
    if (std::stoi(entry.path().filename().string()) > 2) ++n;
  }
  return n;
}

// xagterm on xagsim, whose line goes away after the first key's echo and
// comes back `away_ms` later at the same path.
class ReconnectTest : public SessionTest {
 protected:
  void start_replug(const std::string& away_ms, const std::vector<std::string>& args = {}) {
    ASSERT_NO_FATAL_FAILURE(start_on_xagsim({"--replug-after", "1", away_ms}, args));
    const std::string& c = term->console();
    const std::size_t at = c.find("Terminal ") + 9;
    port_ = c.substr(at, c.find(' ', at) - at);
  }

  // The first key: its echo, then the line goes.
  void lose_line() {
    term->type("a");
    ASSERT_TRUE(term->errors_show(kLost + port_ + kWaiting)) << term->errors();
  }

  std::string port_;
};

TEST_F(ReconnectTest, BytesGoBothWaysAfterTheLineComesBack) {
  ASSERT_NO_FATAL_FAILURE(start_replug("300"));
  ASSERT_NO_FATAL_FAILURE(lose_line());
  term->type("dropped");
  ASSERT_TRUE(term->errors_show(kBack + port_ + "\n")) << term->errors();
  term->type("b");
  ASSERT_TRUE(term->console_shows("ab", kBannerEnd.size())) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(shown_before_quit()), "ab");
  EXPECT_EQ(printable(sent_down_the_line().substr(0, 2)), "ab");
}

TEST_F(ReconnectTest, TheTwoNoticesAreAllOnStandardError) {
  ASSERT_NO_FATAL_FAILURE(start_replug("100"));
  ASSERT_NO_FATAL_FAILURE(lose_line());
  ASSERT_TRUE(term->errors_show(kBack));
  ASSERT_NO_FATAL_FAILURE(quit());
  // The first notice starts a fresh line after the echo of the key.
  EXPECT_EQ(term->errors(), "\n" + kLost + port_ + kWaiting + kBack + port_ + "\n");
}

TEST_F(ReconnectTest, CtrlXWhileTheLineIsAwayLeaves) {
  ASSERT_NO_FATAL_FAILURE(start_replug("60000"));
  ASSERT_NO_FATAL_FAILURE(lose_line());
  ASSERT_NO_FATAL_FAILURE(quit());
}

TEST_F(ReconnectTest, WaitingForTheLineDoesNotSpin) {
  ASSERT_NO_FATAL_FAILURE(start_replug("60000"));
  ASSERT_NO_FATAL_FAILURE(lose_line());
  const pid_t xagterm = child_of(term->pid());
  ASSERT_NE(xagterm, term->pid());
  const long long before = wake_ups(xagterm);
  term->settle(Millis{1000});
  const long long per_second = wake_ups(xagterm) - before;
  // Four tries a second; a loop that spins wakes thousands of times.
  EXPECT_LE(per_second, 25) << "wake-ups in about a second";
  ASSERT_NO_FATAL_FAILURE(quit());
}

// `yes |` as the keyboard while the line is away or stalled: the port's tries
// and the 2 s deadline still come, with little CPU.
using Flood = std::pair<std::vector<std::string>, std::string>;  // xagsim's fault, what still comes
class FloodTest : public ReconnectTest, public ::testing::WithParamInterface<Flood> {};

TEST_P(FloodTest, TriesAndDeadlinesStillRunWithLittleCpu) {
  std::vector<std::string> argv{kXagsim};
  argv.insert(argv.end(), GetParam().first.begin(), GetParam().first.end());
  argv.insert(argv.end(), {"--", "/bin/bash", "-c", "exec \"$0\" \"$1\" < <(yes)", kXagterm, "{port}"});
  ASSERT_NO_FATAL_FAILURE(start(argv));
  const std::string stat = "/proc/" + std::to_string(child_of(term->pid())) + "/stat";
  auto cpu_ticks = [&] {  // utime + stime
    std::istringstream in(read_file(stat).substr(read_file(stat).rfind(')') + 2));
    std::vector<std::string> f{std::istream_iterator<std::string>(in), {}};
    return std::stoll(f.at(11)) + std::stoll(f.at(12));
  };
  const long long before = cpu_ticks();
  term->console_becomes([](const std::string&) { return false; }, Millis{1500});
  EXPECT_LT(cpu_ticks() - before, 0.3 * 1.5 * ::sysconf(_SC_CLK_TCK)) << "ticks in 1.5 s";
  EXPECT_TRUE(term->errors_show(GetParam().second)) << term->errors();
}

INSTANTIATE_TEST_SUITE_P(Lines, FloodTest,
                         ::testing::Values(Flood{{"--replug-after", "1", "2500"}, kBack},
                                           Flood{{"--stall-after", "1", "20000"},
                                                 "xagterm: linha bloqueada: "}));

// The port is a symbolic link under /dev/shm that the test points at a fresh
// pseudo-terminal on each plug-in, so that another program can take it.
class PortLetGoTest : public SessionTest {
 protected:
  void SetUp() override {
    char pattern[] = "/dev/shm/xagterm-e2e-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    shm_ = pattern;
    port_ = shm_ + "/port";
    plug();
  }
  void TearDown() override {
    term.reset();
    std::error_code ignored;
    std::filesystem::remove_all(shm_, ignored);
  }
  void plug() {
    line_ = std::make_unique<Line>();
    const std::string fresh = port_ + ".new";
    ASSERT_EQ(::symlink(line_->path().c_str(), fresh.c_str()), 0);
    ASSERT_EQ(::rename(fresh.c_str(), port_.c_str()), 0);
  }

  std::string shm_;
  std::string port_;
  std::unique_ptr<Line> line_;
};

TEST_F(PortLetGoTest, AnotherProgramMayTakeThePortWhileTheLineIsAway) {
  ASSERT_NO_FATAL_FAILURE(start({kXagterm, port_}));
  line_->hang_up();
  ::unlink(port_.c_str());
  ASSERT_TRUE(term->errors_show(kLost + port_ + kWaiting)) << term->errors();
  EXPECT_EQ(extra_descriptors(term->pid()), 0) << "the lost port is still open";
  // The other program has it as soon as it is back; xagterm waits.
  ASSERT_NO_FATAL_FAILURE(plug());
  int other = ::open(port_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(::flock(other, LOCK_EX | LOCK_NB), 0);
  EXPECT_FALSE(term->errors_show(kBack, Millis{700})) << term->errors();
  ::close(other);
  ASSERT_TRUE(term->errors_show(kBack + port_ + "\n")) << term->errors();
  term->type("k");
  ASSERT_TRUE(line_->received_contains("k"));
  ASSERT_NO_FATAL_FAILURE(quit());
}

// --- a line that takes nothing (output held, as hardware flow control does) ---

class BlockedLineTest : public SessionTest {
 protected:
  void SetUp() override {
    // Held before xagterm makes the line exclusive.
    hold_ = ::open(line.path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    ASSERT_GE(hold_, 0);
    ASSERT_NO_FATAL_FAILURE(start({kXagterm, line.path()}));
    ASSERT_EQ(::tcflow(hold_, TCOOFF), 0);
  }
  void TearDown() override {
    term.reset();
    ::close(hold_);
  }

  Line line;
  int hold_ = -1;
};

TEST_F(BlockedLineTest, KeyIsDroppedAfterAboutTwoSecondsWhileTheLineIsShown) {
  term->type("a");
  line.send("shown meanwhile");
  ASSERT_TRUE(term->console_shows("shown meanwhile"));
  ASSERT_TRUE(term->errors_show("xagterm: linha bloqueada: 1 bytes descartados\n")) << term->errors();
  ASSERT_EQ(::tcflow(hold_, TCOON), 0);
  term->type("b");
  ASSERT_TRUE(line.received_contains("b"));
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(printable(line.received()), "b\\x18");
}

TEST_F(BlockedLineTest, CtrlXGetsThrough) {
  term->type("a");
  term->settle();
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(term->errors(), "");
}

}  // namespace
}  // namespace e2e
