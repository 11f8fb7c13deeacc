// What the end-to-end tests share: the programs under test, the banner,
// Intel HEX records and images, and xagsim's byte log.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "pty_harness.hpp"

namespace e2e {

using namespace pty_harness;

inline const std::string kXagterm = XAGTERM_PATH;
inline const std::string kXagsim = XAGSIM_PATH;

inline constexpr char kCtrlC = '\x03';
inline constexpr char kCtrlF = '\x06';
inline constexpr char kCtrlU = '\x15';
inline constexpr char kCtrlX = '\x18';
inline constexpr char kEnter = '\r';

// What xagterm prints on start, before the console turns LF into CR LF.
inline std::string banner(const std::string& port, int baud) {
  return "Terminal " + port + " " + std::to_string(baud) +
         " baud\nCtrl-X para sair\nCtrl-U Grava arquivo hex\n"
         "Ctrl-F Menu de programacao do XAG49\n";
}

// Waits for the program to end; on failure says how it stood.
inline ::testing::AssertionResult ends(Program& program) {
  if (program.wait_exit()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure()
         << program.status_text() << "; console: " << printable(program.console());
}

// xagsim playing the device, running xagterm on its line: on the port the
// arguments name, or first when they name none (named twice, with --batch,
// it would be refused as two boards on one port).
inline std::vector<std::string> xagterm_on_xagsim(const std::vector<std::string>& sim_options,
                                                  const std::vector<std::string>& xagterm_args) {
  std::vector<std::string> argv{kXagsim};
  argv.insert(argv.end(), sim_options.begin(), sim_options.end());
  argv.push_back("--");
  argv.push_back(kXagterm);
  if (std::find(xagterm_args.begin(), xagterm_args.end(), "{port}") == xagterm_args.end())
    argv.push_back("{port}");
  argv.insert(argv.end(), xagterm_args.begin(), xagterm_args.end());
  return argv;
}

// --- Intel HEX ---------------------------------------------------------------

inline std::string hex2(unsigned v) {
  char buf[4];
  std::snprintf(buf, sizeof buf, "%02X", v & 0xFFu);
  return buf;
}

// One record with its checksum, as text without a line end.
inline std::string record(unsigned type, unsigned address, std::string_view data) {
  std::vector<unsigned> bytes{static_cast<unsigned>(data.size()), (address >> 8) & 0xFFu, address & 0xFFu,
                              type};
  for (char c : data) bytes.push_back(static_cast<unsigned char>(c));
  std::string text = ":";
  unsigned sum = 0;
  for (unsigned b : bytes) {
    text += hex2(b);
    sum += b;
  }
  return text + hex2(0x100u - (sum & 0xFFu));
}

inline std::string end_record() { return record(0x01, 0, ""); }

using Image = std::map<std::uint32_t, std::uint8_t>;

// The data bytes of an Intel HEX text by address (types 00, 01, 02, 04 and
// start addresses understood). Returns false, with the reason, on a bad
// record or a checksum that does not add up.
inline bool parse_intel_hex(std::string_view text, Image& image, std::string& why) {
  std::uint32_t base = 0;
  std::size_t pos = 0;
  int line_no = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(pos, end - pos);
    pos = end + 1;
    ++line_no;
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.empty()) continue;
    auto fail = [&](const std::string& what) {
      why = "line " + std::to_string(line_no) + " (" + std::string(line) + "): " + what;
      return false;
    };
    if (line[0] != ':' || line.size() < 11 || line.size() % 2 == 0) return fail("not a record");
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 1; i + 1 < line.size(); i += 2) {
      unsigned v = 0;
      if (std::sscanf(std::string(line.substr(i, 2)).c_str(), "%2x", &v) != 1) {
        return fail("not hex");
      }
      bytes.push_back(static_cast<std::uint8_t>(v));
    }
    unsigned sum = 0;
    for (auto b : bytes) sum += b;
    if ((sum & 0xFFu) != 0) return fail("bad checksum");
    const std::size_t count = bytes[0];
    if (bytes.size() != count + 5) return fail("length does not match");
    const std::uint32_t address = (static_cast<std::uint32_t>(bytes[1]) << 8) | bytes[2];
    const std::uint8_t* data = bytes.data() + 4;
    switch (bytes[3]) {
      case 0x00:
        for (std::size_t i = 0; i < count; ++i) image[base + address + i] = data[i];
        break;
      case 0x01: return true;
      case 0x02: base = ((static_cast<std::uint32_t>(data[0]) << 8) | data[1]) << 4; break;
      case 0x04: base = ((static_cast<std::uint32_t>(data[0]) << 8) | data[1]) << 16; break;
      case 0x03:
      case 0x05: break;
      default: return fail("unknown record type");
    }
  }
  return true;
}

// --- xagsim's byte log -------------------------------------------------------

struct LoggedByte {
  bool from_xagterm;  // "rx": the device received it; "tx": the device sent it
  std::uint8_t value;
};

inline std::vector<LoggedByte> parse_log(const std::string& text) {
  std::vector<LoggedByte> out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    unsigned v = 0;
    char dir[3] = {};
    if (std::sscanf(line.c_str(), "%2s %2x", dir, &v) == 2) {
      out.push_back({std::string(dir) == "rx", static_cast<std::uint8_t>(v)});
    }
  }
  return out;
}

// The bytes that went one way, in order.
inline std::string logged_bytes(const std::vector<LoggedByte>& log, bool from_xagterm) {
  std::string out;
  for (const auto& b : log) {
    if (b.from_xagterm == from_xagterm) out += static_cast<char>(b.value);
  }
  return out;
}

// Where xagterm ran ahead of the device: of the `count` bytes it sent from
// its `first` on, the first that went before the echo of the one before it
// had come back. Empty when each waited for its turn.
inline std::string sent_before_its_turn(const std::vector<LoggedByte>& log, std::size_t first,
                                        std::size_t count) {
  std::size_t sent = 0;
  bool echoed = true;
  int last = -1;
  for (const auto& b : log) {
    if (sent >= first + count) break;
    if (!b.from_xagterm) {
      if (b.value == last) echoed = true;
      continue;
    }
    if (sent > first && !echoed) {
      return "byte " + std::to_string(sent - first) + " (" +
             printable(std::string(1, static_cast<char>(b.value))) +
             ") was sent before the echo of the one before it";
    }
    if (sent >= first) {
      last = b.value;
      echoed = false;
    }
    ++sent;
  }
  return "";
}

// --- a session: xagterm on its console, in a directory of its own -----------

inline constexpr std::string_view kBannerEnd = "Ctrl-F Menu de programacao do XAG49\r\n";

class SessionTest : public ::testing::Test {
 protected:
  // Runs the command with the temporary directory as its working directory
  // and waits for xagterm's banner.
  void start(std::vector<std::string> argv) {
    Launch launch;
    launch.argv = std::move(argv);
    launch.directory = dir.path();
    launch.keyboard = keyboard;
    term = std::make_unique<Program>(launch);
    ASSERT_TRUE(term->console_shows(kBannerEnd))
        << "console: " << printable(term->console()) << "\nstderr: " << term->errors();
  }

  // xagterm on xagsim's line, every byte on the line logged.
  void start_on_xagsim(std::vector<std::string> sim_options, const std::vector<std::string>& xagterm_args) {
    if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
    sim_options.insert(sim_options.end(), {"--log", dir.file("wire.log")});
    start(xagterm_on_xagsim(sim_options, xagterm_args));
  }

  // The console after the banner.
  std::string after_banner() {
    const std::string& c = term->console();
    std::size_t at = c.find(kBannerEnd);
    return at == std::string::npos ? "<no banner> " + c : c.substr(at + kBannerEnd.size());
  }

  // The console after the banner, without the echo of the Ctrl-X that
  // xagterm may or may not have shown before it left.
  std::string shown_before_quit() {
    std::string shown = after_banner();
    if (!shown.empty() && shown.back() == kCtrlX) shown.pop_back();
    return shown;
  }

  // Ctrl-X: xagterm (and xagsim with it) ends well, the console restored.
  void quit() {
    term->type(std::string(1, kCtrlX));
    ASSERT_TRUE(ends(*term));
    EXPECT_EQ(term->exit_code(), 0) << term->status_text();
    expect_console_restored();
  }

  void expect_console_restored() {
    EXPECT_EQ(settings_difference(term->initial_settings(), term->console_settings()), "");
  }

  // xagsim's log, once it has ended.
  std::vector<LoggedByte> wire() { return parse_log(read_file(dir.file("wire.log"))); }
  std::string sent_down_the_line() { return logged_bytes(wire(), true); }

  TempDir dir;
  bool keyboard = true;  // false: xagterm's standard input is /dev/null
  std::unique_ptr<Program> term;
};

}  // namespace e2e
