// The device-fault matrix: xagterm against a board that misbehaves in each
// way xagsim can (faults) while the user does each thing (phases). Every
// cell checks the same things:
//  - nothing hangs: each step ends within the echo, answer and reply budgets
//    of the exchange plus the 2 s bound on a write the line does not take;
//  - nothing spins: xagterm's CPU time stays small against the wall time;
//  - nothing goes down the line that should not (xagsim's log): each record
//    or file line goes out as a prefix of itself, no byte before the echo of
//    the one before it has come, nothing more of a line after a lost echo,
//    nothing more of a file after a line that stopped;
//  - every byte from the line reaches the console, in order;
//  - Ctrl-X ends xagterm with status 0 and the console as it was.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

enum class Fault { none, drop, garble, stall, chatter, silent, hangup, replug };
enum class Phase { idle, upload_cmdline, upload_ctrl_u, handshake, erase, clear_status, display, read };

const Fault kFaults[] = {Fault::none,    Fault::drop,   Fault::garble, Fault::stall,
                         Fault::chatter, Fault::silent, Fault::hangup, Fault::replug};
const Phase kPhases[] = {Phase::idle,  Phase::upload_cmdline, Phase::upload_ctrl_u, Phase::handshake,
                         Phase::erase, Phase::clear_status,   Phase::display,       Phase::read};

const char* name(Fault f) {
  static const char* const names[] = {"none",    "drop",   "garble",  "stall",
                                      "chatter", "silent", "hang-up", "replug"};
  return names[static_cast<int>(f)];
}

const char* name(Phase p) {
  static const char* const names[] = {"idle",   "upload-cmdline", "upload-ctrl-u", "handshake",
                                      "menu-E", "menu-S",         "menu-D",        "menu-R"};
  return names[static_cast<int>(p)];
}

// The stall outlasts the 2 s a write may wait for the line.
constexpr int kStallMs = 3000;
constexpr int kReplugMs = 600;
constexpr int kChatterMs = 150;

// Generous bounds, for a loaded machine; a step past them is a hang.
constexpr Millis kStartBudget{5000};
constexpr Millis kKeyBudget{5000};        // a key typed reaches the line (a stall included)
constexpr Millis kHandshakeBudget{6000};  // 7 echo waits, a stalled write
constexpr Millis kExchangeBudget{10000};  // a whole upload or menu action
constexpr Millis kLineLostBudget{5000};   // a lost line noticed, or back again
constexpr Millis kExitBudget{5000};       // Ctrl-X, past a stalled write
constexpr double kCpuShare = 0.3;         // of the wall time, plus a little
constexpr double kCpuSlackS = 0.15;

constexpr char kProbe = 'k';  // a plain key: sent as it is, by the terminal

// --- the file and the records ------------------------------------------------

std::string data16(unsigned first) {
  std::string d;
  for (unsigned i = 0; i < 16; ++i) d += static_cast<char>((first + 13 * i) & 0xFF);
  return d;
}

const std::vector<std::string>& file_lines() {
  static const std::vector<std::string> lines{record(0x00, 0x0100, data16(0x21)) + "\n",
                                              record(0x00, 0x0110, data16(0x90)) + "\n", end_record() + "\n"};
  return lines;
}

std::string command(unsigned type, std::string_view data, bool line_end) {
  return record(type, 0x0000, data) + (line_end ? "\n" : "");
}

// The records a menu action sends, in order.
std::vector<std::string> records_of(Phase p) {
  switch (p) {
    case Phase::erase: return {command(0x83, std::string("\x01\x80", 2), true)};
    case Phase::display: return {command(0x84, std::string("\x01\x00\x01\x0F\x00", 5), true)};
    case Phase::read: return {command(0x85, "\x07\x01", true), command(0x85, "\x07\x02", false)};
    case Phase::clear_status:
      return {command(0x83, "\x04", false), command(0x83, "\x06\x01\xC0", false),
              command(0x83, "\x06\x01\xF0", false), command(0x83, "\x06\x01\xF8", false)};
    default: return {};
  }
}

bool is_upload(Phase p) { return p == Phase::upload_cmdline || p == Phase::upload_ctrl_u; }

// Where the fault strikes: after this many bytes from xagterm, inside the
// phase (Ctrl-F and one or two handshake 'f's come before a record).
std::uint64_t strike_after(Phase p) {
  switch (p) {
    case Phase::idle: return 1;
    case Phase::upload_cmdline: return 20;
    case Phase::upload_ctrl_u: return 21;
    case Phase::handshake: return 1;
    case Phase::clear_status: return 25;
    default: return 10;
  }
}

std::vector<std::string> fault_options(Fault f, Phase p) {
  const std::string n = std::to_string(strike_after(p));
  const bool few_bytes = p == Phase::idle || p == Phase::handshake;
  const std::string share = few_bytes ? "0.5" : is_upload(p) ? "0.05" : "0.15";
  switch (f) {
    case Fault::none: return {};
    case Fault::drop: return {"--drop", share};
    case Fault::garble: return {"--garble", share};
    case Fault::stall: return {"--stall-after", n, std::to_string(kStallMs)};
    case Fault::chatter: return {"--chatter", std::to_string(kChatterMs)};
    case Fault::silent: return {"--silent"};
    // Gone for good, but at a path of xagsim's own: a /dev/pts/N left behind
    // may be given to another cell's pty while xagterm tries it again.
    case Fault::hangup: return {"--replug-after", n, "600000"};
    case Fault::replug: return {"--replug-after", n, std::to_string(kReplugMs)};
  }
  return {};
}

bool line_goes(Fault f) { return f == Fault::hangup || f == Fault::replug; }

// --- xagsim on its own, the line's path on its standard output ----------------

class Board {
 public:
  explicit Board(std::vector<std::string> args) {
    args.insert(args.begin(), kXagsim);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(out[1], STDOUT_FILENO);
      ::close_range(3, ~0U, 0);  // other cells' descriptors stay theirs
      ::execv(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    ByteStream s(out[0]);
    ::fcntl(out[0], F_SETFL, ::fcntl(out[0], F_GETFL) | O_NONBLOCK);
    wait_until([&] { return s.bytes().find('\n') != std::string::npos; }, {&s}, kStartBudget);
    path_ = s.bytes().substr(0, s.bytes().find('\n'));
    ::close(out[0]);
  }
  ~Board() { stop(); }
  Board(const Board&) = delete;
  Board& operator=(const Board&) = delete;

  const std::string& path() const { return path_; }

  void stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    const auto end = Clock::now() + kPatience;
    int st = 0;
    while (::waitpid(pid_, &st, WNOHANG) == 0) {
      if (Clock::now() > end) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, &st, 0);
        break;
      }
      std::this_thread::sleep_for(Millis{5});
    }
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  std::string path_;
};

// --- xagsim's log ----------------------------------------------------------------

struct Event {
  enum Kind { rx, tx, mark } kind;
  std::uint8_t value = 0;
  std::string text;  // of a mark
};

std::vector<Event> read_log(const std::string& text) {
  std::vector<Event> out;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    unsigned v = 0;
    if (line.starts_with("# ")) {
      out.push_back({Event::mark, 0, line.substr(2)});
    } else if (line.size() == 5 && std::sscanf(line.c_str() + 3, "%2x", &v) == 1) {
      out.push_back({line.starts_with("rx") ? Event::rx : Event::tx, static_cast<std::uint8_t>(v), {}});
    }
  }
  return out;
}

long long cpu_ticks(pid_t pid) {
  std::string stat = read_file("/proc/" + std::to_string(pid) + "/stat");
  std::size_t paren = stat.rfind(')');
  if (paren == std::string::npos) return 0;
  std::istringstream in(stat.substr(paren + 1));
  std::string field;
  long long ticks = 0;
  for (int n = 3; n <= 15 && (in >> field); ++n) {
    if (n == 14 || n == 15) ticks += std::stoll(field);
  }
  return ticks;
}

// True when needle's bytes appear in hay in order, not necessarily together;
// matched says how many did.
bool subsequence(std::string_view needle, std::string_view hay, std::size_t& matched) {
  std::size_t at = 0;
  matched = 0;
  for (char c : needle) {
    at = hay.find(c, at);
    if (at == std::string_view::npos) return false;
    ++at;
    ++matched;
  }
  return true;
}

// --- one cell ----------------------------------------------------------------------

// What xagterm should send, in order: keys typed at the terminal, the 'f's of
// the handshake, and echo-checked texts (file lines, records) of which each
// may go out cut short.
struct Segment {
  enum Kind { key, fs, text } kind;
  std::string bytes;
};

class CellRun {
 public:
  CellRun(Fault f, Phase p) : fault_(f), phase_(p) {}

  std::vector<std::string> run() {
    try {
      body();
    } catch (const std::exception& e) {
      problem(std::string("harness: ") + e.what());
    }
    std::vector<std::string> out;
    for (const auto& [what, times] : problems_) {
      out.push_back(times == 1 ? what : what + " (and " + std::to_string(times - 1) + " more)");
    }
    return out;
  }

 private:
  // Each kind of problem once, with the number of times it came.
  void problem(const std::string& what) {
    const std::string kind = what.substr(0, what.find(':'));
    for (auto& p : problems_) {
      if (p.first.substr(0, p.first.find(':')) == kind) {
        ++p.second;
        return;
      }
    }
    problems_.emplace_back(what, 1);
  }

  void body() {
    write_file(dir_.file("prog.hex"), [] {
      std::string all;
      for (const auto& l : file_lines()) all += l;
      return all + record(0x00, 0x0300, "\xAA") + "\n";  // never sent
    }());
    std::vector<std::string> sim = fault_options(fault_, phase_);
    sim.insert(sim.end(), {"--log", dir_.file("wire.log")});
    board_ = std::make_unique<Board>(sim);
    port_ = board_->path();
    if (port_.empty()) return problem("xagsim gave no line");

    Launch launch;
    launch.argv = {kXagterm, port_};
    if (phase_ == Phase::upload_cmdline) launch.argv.push_back("prog.hex");
    launch.directory = dir_.path();
    term_ = std::make_unique<Program>(launch);
    if (!term_->console_shows(kBannerEnd, 0, kStartBudget))
      return problem("no banner: " + term_->status_text() + "; stderr: " + printable(term_->errors()) +
                     "; console: " + printable(term_->console()));
    const auto start = Clock::now();
    const long long ticks_before = cpu_ticks(term_->pid());

    play();
    settle();

    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    const double cpu = static_cast<double>(cpu_ticks(term_->pid()) - ticks_before) / sysconf(_SC_CLK_TCK);
    if (cpu > kCpuShare * wall + kCpuSlackS) {
      problem("busy: " + std::to_string(cpu) + " s of CPU in " + std::to_string(wall) + " s");
    }
    quit();
    board_->stop();
    check_line();
  }

  // --- the user's side ---

  void type(char key, bool sent = true) {
    term_->type(std::string(1, key));
    if (sent) expected_.push_back({Segment::key, std::string(1, key)});
  }

  std::size_t rx_count(char c) {
    std::size_t n = 0;
    for (const auto& e : read_log(read_file(dir_.file("wire.log")))) {
      n += e.kind == Event::rx && e.value == static_cast<std::uint8_t>(c);
    }
    return n;
  }

  // Types a plain key and waits until it has gone down the line.
  void probe() {
    const std::size_t before = rx_count(kProbe);
    type(kProbe);
    if (!wait_until([&] { return rx_count(kProbe) > before; }, {&term_->console_stream()}, kExchangeBudget)) {
      problem("hang: the key typed after the phase never reached the line");
    }
  }

  bool shows(std::string_view text, Millis budget) { return term_->console_shows(text, 0, budget); }

  void play() {
    switch (phase_) {
      case Phase::idle:
        // The fault strikes at the first key: the second comes after it.
        type('h');
        if (!wait_until([&] { return rx_count('h') > 0; }, {&term_->console_stream()}, kKeyBudget))
          problem("hang: a key never reached the line");
        type('i');
        break;
      case Phase::upload_cmdline: add_upload(); break;
      case Phase::upload_ctrl_u:
        type(kCtrlU);
        if (!shows(crlf("Envia arquivo hex.\nNome do arquivo="), kKeyBudget)) {
          return problem("hang: no file name prompt");
        }
        // The name is read as a line: wait for the console's own settings.
        if (!term_->console_settings_become(
                [&](const termios& t) { return settings_difference(term_->initial_settings(), t).empty(); },
                kKeyBudget)) {
          return problem("the console never came back to lines for the file name");
        }
        term_->type("prog.hex\r");
        add_upload();
        break;
      default: menu(); break;
    }
    after_phase();
  }

  void add_upload() {
    for (const auto& l : file_lines()) expected_.push_back({Segment::text, l});
  }

  void menu() {
    type(kCtrlF);
    expected_.push_back({Segment::fs, "f"});
    const std::string menu_end = crlf("H: Programar arquivo *.hex\n\n");
    const std::string failed = crlf("o do baud-rate\n\n");
    if (!term_->console_becomes(
            [&](const std::string& c) {
              return c.find(menu_end) != std::string::npos || c.find(failed) != std::string::npos;
            },
            kHandshakeBudget)) {
      return problem("hang: neither the menu nor the handshake failure after Ctrl-F");
    }
    if (term_->console().find(menu_end) == std::string::npos) return;  // failed: keys would go out
    switch (phase_) {
      case Phase::handshake:
        term_->type("x");  // no menu key: back to the terminal
        break;
      case Phase::erase:
        term_->type("e");
        if (!shows("Block = ", kKeyBudget)) return problem("hang: no block prompt");
        term_->type("8\r");
        break;
      case Phase::display:
        term_->type("d");
        if (!shows("inicial = ", kKeyBudget)) return problem("hang: no address prompt");
        term_->type("100\r");
        if (!shows("Numero de bytes (hex) =", kKeyBudget)) return problem("hang: no count prompt");
        term_->type("10\r");
        break;
      case Phase::read: term_->type("r"); break;
      case Phase::clear_status: term_->type("s"); break;
      default: break;
    }
    for (const auto& r : records_of(phase_)) expected_.push_back({Segment::text, r});
  }

  void after_phase() {
    if (line_goes(fault_)) {
      const std::string lost = "xagterm: linha perdida: " + port_ + "; esperando que volte (Ctrl-X sai)\n";
      if (!term_->errors_show(lost, kExchangeBudget)) {
        return problem("no report of the lost line");
      }
      if (fault_ == Fault::hangup) return;  // Ctrl-X while the line is away
      if (!term_->errors_show("xagterm: reconectado: " + port_ + "\n", kLineLostBudget)) {
        return problem("no report of the line back");
      }
      probe();
      return;
    }
    if (fault_ == Fault::stall && phase_ == Phase::idle) {
      if (!term_->errors_show("xagterm: linha bloqueada: ", kLineLostBudget)) {
        problem("hang or silence: no report of the blocked line");
      }
      return;
    }
    probe();
  }

  // Lets what is still coming arrive: no output for 300 ms (chatter never
  // stops: then 300 ms, and its last line may be cut off).
  void settle() {
    if (fault_ == Fault::chatter) {
      term_->console_becomes([](const std::string&) { return false; }, Millis{300});
      return;
    }
    std::size_t seen = SIZE_MAX;
    const auto end = Clock::now() + kExchangeBudget;
    while (Clock::now() < end) {
      term_->console_becomes([](const std::string&) { return false; }, Millis{300});
      std::size_t now = term_->console().size() + term_->errors().size();
      if (now == seen) return;
      seen = now;
    }
    problem("the console never went quiet");
  }

  void quit() {
    type(kCtrlX);
    if (!term_->wait_exit(kExitBudget)) problem("hang: Ctrl-X did not end xagterm");
    if (term_->exit_code() != 0) problem("Ctrl-X: " + term_->status_text());
    const std::string diff = settings_difference(term_->initial_settings(), term_->console_settings());
    if (!diff.empty()) problem("console not restored: " + diff);
    for (std::string_view e = term_->errors(); !e.empty();) {
      std::string_view line = e.substr(0, e.find('\n'));
      // Reports only, each maybe after a line end that starts a fresh line.
      if (!line.empty() && !line.starts_with("xagterm: "))
        problem("stray standard error: " + printable(line));
      e.remove_prefix(std::min(e.size(), line.size() + 1));
    }
  }

  // --- the line's side ---

  void check_line() {
    const auto log = read_log(read_file(dir_.file("wire.log")));
    check_sent(log);
    check_shown(log);
  }

  // A key may be lost only to a line that went away or stalled.
  bool keys_may_vanish() const { return line_goes(fault_) || fault_ == Fault::stall; }

  // Bytes from xagterm, walked through the segments it should have sent.
  void check_sent(const std::vector<Event>& log) {
    std::vector<std::size_t> rx;  // log indices of the bytes from xagterm
    std::size_t plugged_in = log.size();
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i].kind == Event::rx) rx.push_back(i);
      if (log[i].kind == Event::mark && log[i].text.starts_with("plugged in")) plugged_in = i;
    }
    auto tx_between = [&](std::size_t from, std::size_t to) {
      std::size_t n = 0;
      for (std::size_t i = from; i < to; ++i) n += log[i].kind == Event::tx;
      return n;
    };
    auto dropped = [&](std::size_t i) {
      return i + 1 < log.size() && log[i + 1].kind == Event::mark && log[i + 1].text == "echo dropped";
    };
    // Chatter may stand in for any echo: only its order is checked.
    const bool count_echoes = fault_ != Fault::chatter;

    std::size_t k = 0;  // next byte from xagterm
    auto next_is = [&](char c) { return k < rx.size() && log[rx[k]].value == static_cast<std::uint8_t>(c); };
    std::size_t upload_start = SIZE_MAX, upload_consumed = 0;
    bool upload_stopped = false;
    std::size_t key_at = 0;  // where the key before the handshake went
    for (const Segment& s : expected_) {
      if (s.kind == Segment::key) {
        if (next_is(s.bytes[0])) {
          key_at = rx[k++];
        } else if (!keys_may_vanish()) {
          problem("key not sent: " + printable(s.bytes));
        }
      } else if (s.kind == Segment::fs) {
        std::size_t n = 0;
        for (; next_is('f'); ++n, ++k) {
          if (count_echoes && n > 0 && tx_between(key_at, rx[k]) < n)
            problem("sent before the echo of the byte before: handshake 'f' " + std::to_string(n + 1));
        }
        if (n > 7) problem("more than 7 handshake 'f's: " + std::to_string(n));
        if (n == 0 && !keys_may_vanish() && fault_ != Fault::silent) problem("no handshake 'f'");
      } else {
        std::size_t n = 0;
        const std::size_t first = k;
        while (n < s.bytes.size() && next_is(s.bytes[n])) ++n, ++k;
        if (fault_ == Fault::none && n < s.bytes.size())
          problem("cut short with nothing wrong: " + printable(s.bytes.substr(0, n)) + " of " +
                  printable(s.bytes));
        if (n == 0) continue;
        const bool upload = is_upload(phase_);
        if (upload && upload_stopped)
          problem("the file went on after a line that stopped: " + printable(s.bytes));
        if (upload && upload_start == SIZE_MAX) upload_start = rx[first];
        for (std::size_t j = 0; j < n; ++j) {
          const std::size_t at = rx[first + j];
          if (count_echoes && j > 0) {
            std::size_t need = upload ? upload_consumed + j : j;
            std::size_t from = upload ? upload_start : rx[first];
            if (tx_between(from, at) < need)
              problem("sent before the echo of the byte before: byte " + std::to_string(j) + " of " +
                      printable(s.bytes));
          }
          // A lost echo needs no check of its own: it is a board byte that
          // never came, so the count above finds a byte sent without it. (The
          // board may stand in for it with an answer it gives on its own
          // after 20 ms of quiet, and the echo discipline takes any byte.)
          // The line stops at a lost echo unless a board byte stood in for it.
          const std::size_t after = j + 1 < n ? rx[first + j + 1] : log.size();
          if (upload && dropped(at) && tx_between(at, after) == 0) upload_stopped = true;
        }
        if (upload) upload_consumed += n + 3;  // the echoes and the answer
        if (n < s.bytes.size()) upload_stopped = true;
      }
    }
    if (k < rx.size()) {
      std::string rest;
      for (; k < rx.size(); ++k) rest += static_cast<char>(log[rx[k]].value);
      problem("sent what it should not: " + printable(rest));
    }
    // Once the line is back only keys typed since go out.
    for (std::size_t i : rx) {
      if (i > plugged_in && log[i].value != kProbe && log[i].value != kCtrlX)
        problem("sent after the line came back: " +
                printable(std::string(1, static_cast<char>(log[i].value))));
    }
  }

  // The bytes from the line, in order, on the console.
  void check_shown(const std::vector<Event>& log) {
    std::string from_line;
    for (const auto& e : log) {
      if (e.kind == Event::rx && e.value == static_cast<std::uint8_t>(kCtrlX)) break;
      if (e.kind == Event::tx) from_line += static_cast<char>(e.value);
    }
    const std::string console = term_->console();
    const std::string want = crlf(from_line);
    // R holds a byte that is not the echo of its record (the board's answer)
    // for after its label: chatter may show later than it came.
    if (fault_ == Fault::chatter && phase_ == Phase::read) return check_all_shown(want, console);
    std::size_t matched = 0;
    if (!subsequence(want, console, matched)) {
      // Chatter may have come just before the Ctrl-X: one line of it unread.
      const bool tail_ok = fault_ == Fault::chatter && want.size() - matched <= 16 &&
                           want.substr(matched).find("chatter") <= 1;
      if (!tail_ok) {
        problem("lost or reordered from the line at byte " + std::to_string(matched) + " of " +
                std::to_string(want.size()) + ": " + printable(want.substr(matched, 40)));
      }
    }
    if (fault_ == Fault::chatter && phase_ == Phase::idle) check_chatter_lines(console);
  }

  // Every byte, in any order; a chatter line's worth may come after Ctrl-X.
  void check_all_shown(const std::string& want, const std::string& console) {
    std::size_t left[256] = {}, missing = 0;
    for (unsigned char c : console) ++left[c];
    for (unsigned char c : want) left[c] > 0 ? --left[c] : ++missing;
    if (missing > 16) problem("lost from the line: " + std::to_string(missing) + " bytes");
  }

  // On an idle terminal each chatter line shows whole, numbered one on.
  void check_chatter_lines(const std::string& console) {
    int last = 0;
    std::size_t lines = 0;
    for (std::size_t at = console.find("chatter "); at != std::string::npos;
         at = console.find("chatter ", at + 1)) {
      int n = 0, used = 0;
      if (std::sscanf(console.c_str() + at, "chatter %d%n", &n, &used) != 1) continue;
      bool whole = console.compare(at + used, 3, "\r\r\n") == 0;
      if (!whole && console.size() > at + used + 3) problem("chatter line cut: " + std::to_string(n));
      if (last != 0 && n != last + 1)
        problem("chatter out of order: " + std::to_string(n) + " after " + std::to_string(last));
      last = n;
      ++lines;
    }
    if (lines < 2) problem("too little chatter seen: " + std::to_string(lines));
  }

  Fault fault_;
  Phase phase_;
  TempDir dir_;
  std::unique_ptr<Board> board_;
  std::unique_ptr<Program> term_;
  std::string port_;
  std::vector<Segment> expected_;
  std::vector<std::pair<std::string, int>> problems_;
};

TEST(FaultMatrix, EveryFaultInEveryPhase) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  struct Cell {
    Fault fault;
    Phase phase;
    std::vector<std::string> problems;
    double seconds = 0;
  };
  std::vector<Cell> cells;
  // XAG_MATRIX_CELL=TEXT runs only the cells whose "fault x phase" holds it.
  const char* only = std::getenv("XAG_MATRIX_CELL");
  for (Fault f : kFaults) {
    for (Phase p : kPhases) {
      if (only == nullptr || (std::string(name(f)) + " x " + name(p)).find(only) != std::string::npos)
        cells.push_back({f, p, {}, 0});
    }
  }
  std::cout << "matrix: " << std::size(kFaults) << " faults x " << std::size(kPhases)
            << " phases = " << cells.size() << " cells" << std::endl;

  // A few cells at a time: most of a cell is waiting.
  std::atomic<std::size_t> next{0};
  auto worker = [&] {
    for (std::size_t i = next++; i < cells.size(); i = next++) {
      const auto t0 = Clock::now();
      cells[i].problems = CellRun(cells[i].fault, cells[i].phase).run();
      cells[i].seconds = std::chrono::duration<double>(Clock::now() - t0).count();
    }
  };
  std::vector<std::thread> workers;
  for (int i = 0; i < 4; ++i) workers.emplace_back(worker);
  for (auto& w : workers) w.join();

  std::size_t failed = 0;
  for (const Cell& c : cells) {
    std::string where = std::string(name(c.fault)) + " x " + name(c.phase);
    char secs[32];
    std::snprintf(secs, sizeof secs, "%.1f s", c.seconds);
    std::cout << (c.problems.empty() ? "  ok   " : "  FAIL ") << where << " (" << secs << ")\n";
    for (const auto& p : c.problems) ADD_FAILURE() << where << ": " << p;
    failed += !c.problems.empty();
  }
  std::cout << "matrix: " << cells.size() - failed << " of " << cells.size() << " cells hold" << std::endl;
}

}  // namespace
}  // namespace e2e
