// The command line: options that answer and leave, refusals, --batch with
// its exit statuses, --log, a port the user may not open, and the program's
// accents in the console's encoding.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {
namespace {

// The console's text as the program wrote it: CR LF back to LF.
std::string uncrlf(std::string text) {
  for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
    text.erase(at, 1);
    ++at;
  }
  return text;
}

// --- options that answer at once --------------------------------------------

TEST(CliTest, HelpVersionAndListAnswerAndLeaveWithoutAPort) {
  Line line;  // were the port opened, the banner would show
  struct Case {
    std::string option;
    std::string starts;  // what standard output begins with ("" for --list)
  };
  const Case cases[] = {
      {"--help", "uso: xagterm [COMn"},
      {"-h", "uso: xagterm [COMn"},
      {"--version", "xagterm " XAGTERM_VERSION "\r\n"},
      {"--list", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.option);
    Program term({kXagterm, line.path(), c.option});
    ASSERT_TRUE(ends(term));
    EXPECT_EQ(term.exit_code(), 0) << term.status_text();
    const std::string& out = term.console();
    EXPECT_EQ(out.find("Terminal " + line.path()), std::string::npos) << printable(out);
    EXPECT_EQ(out.substr(0, c.starts.size()), c.starts) << printable(out);
    if (c.option == "--version") {
      EXPECT_EQ(out, c.starts);
    }
    if (c.option == "--help") {
      for (const char* word : {"--batch", "--log ARQUIVO", "--no-reconnect", "--list", "--version", "Ctrl-U",
                               "Estado de saida"}) {
        EXPECT_NE(out.find(word), std::string::npos) << word;
      }
    }
    if (c.option == "--list") {
      // One port a line, each a device path; or none and a word saying so.
      if (out.empty()) {
        EXPECT_EQ(term.errors(), "xagterm: nenhuma porta serial encontrada\n");
      }
      for (std::size_t at = 0; at < out.size(); at = out.find("\r\n", at) + 2) {
        EXPECT_EQ(out.compare(at, 5, "/dev/"), 0) << printable(out);
      }
    } else {
      EXPECT_EQ(term.errors(), "");
    }
  }
}

TEST(CliTest, UsageMistakesAndAnUnusableLogEndBeforeThePort) {
  Line line;
  TempDir dir;
  const std::string usage =
      "xagterm: uso: xagterm [COMn | /dev/CAMINHO] [b=TAXA] [ARQUIVO.hex] [opcoes]; veja xagterm --help\n";
  struct Case {
    std::vector<std::string> args;
    int status;
    std::string errors;
  };
  const Case cases[] = {
      {{"--batch", "b=115200"},
       2,
       "xagterm: --batch sem arquivo hex; uso: xagterm --batch PORTA [b=TAXA] ARQUIVO.hex\n"},
      {{"--log"}, 2, "xagterm: --log sem nome de arquivo; uso: --log ARQUIVO\n"},
      {{"--log", dir.file("no/such/dir.log")},
       1,
       "xagterm: " + dir.file("no/such/dir.log") + ": No such file or directory\n"},
      {{"--log", dir.file("fifo")}, 1, "xagterm: " + dir.file("fifo") + ": nao e um arquivo comum\n"},
      {{"--log", line.path()}, 1, "xagterm: " + line.path() + ": e a porta serial\n"},
      {{dir.file("p.hex"), "--log", dir.file("p.hex")},
       1,
       "xagterm: " + dir.file("p.hex") + ": e o arquivo hex\n"},
      {{"--bach"}, 2, "xagterm: opcao desconhecida: --bach; quis dizer --batch?\n" + usage},
      {{"-b", "115200"}, 2, "xagterm: opcao desconhecida: -b; use b=115200\n" + usage},
      {{"p.hex", "FW.HEX", "--batch"}, 2, "xagterm: argumento ignorado: FW.HEX\n" + usage},
      {{"p.hex", "b=11520O", "--batch"}, 2, "xagterm: b=11520O: taxa mal escrita, usando 11520\n" + usage},
      {{"--log", "--batch", "p.hex"}, 2, "xagterm: --log sem nome de arquivo; uso: --log ARQUIVO\n"},
      {{"--log", dir.file("new.log"), "--bach"},
       2,
       "xagterm: opcao desconhecida: --bach; quis dizer --batch?\n" + usage},
      {{"ttyUSB97"}, 1, "Nao abriu a ttyUSB97\nttyUSB97 (/dev/ttyUSB97): No such file or directory\n"},
      {{"ssh://127.0.0.1:9"},
       1,
       "Nao abriu a ssh://127.0.0.1:9\nssh://127.0.0.1:9: No such file or directory\n"},
      {{"tty"}, 1, "xagterm: tty: e o proprio console, nao uma porta serial\n"},
  };
  ASSERT_EQ(::mkfifo(dir.file("fifo").c_str(), 0600), 0);  // nobody reads it: opening it to write would block
  write_file(dir.file("p.hex"), end_record() + "\n");
  for (const auto& c : cases) {
    std::vector<std::string> argv{kXagterm, line.path()};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    SCOPED_TRACE(c.args.front());
    Program term(argv);
    ASSERT_TRUE(ends(term));
    EXPECT_EQ(term.exit_code(), c.status) << term.status_text();
    EXPECT_EQ(term.errors(), c.errors);
    EXPECT_EQ(printable(term.console()), "");
  }
  EXPECT_NE(::access(dir.file("new.log").c_str(), F_OK), 0);  // refused before the log was created
}

// Run as a user the device does not let in (the pty made 0660 and given to
// dialout, as serial devices are): the reason and the group to join.
TEST(CliTest, PortTheUserMayNotOpenSaysWhyAndWhichGroup) {
  const std::string setpriv = find_in_path("setpriv");
  if (::geteuid() != 0 || setpriv.empty()) GTEST_SKIP() << "needs root and setpriv";
  const group* owner = ::getgrnam("dialout");
  if (owner == nullptr) GTEST_SKIP() << "no dialout group";
  Line line;
  ASSERT_EQ(::chown(line.path().c_str(), static_cast<uid_t>(-1), owner->gr_gid), 0);
  ASSERT_EQ(::chmod(line.path().c_str(), 0660), 0);
  Program term({setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", kXagterm, line.path()});
  ASSERT_TRUE(ends(term));
  if (term.errors().find("setpriv") != std::string::npos) GTEST_SKIP() << term.errors();
  EXPECT_EQ(term.exit_code(), 1) << term.status_text();
  EXPECT_EQ(term.errors(), "Nao abriu a " + line.path() + "\n" + line.path() +
                               ": Permission denied\nxagterm: para ter acesso: sudo usermod -aG " +
                               owner->gr_name + " $USER (e entre de novo na sessao)\n");
  EXPECT_EQ(printable(term.console()), "");
}

// A bare name in /dev and a symbolic link to the line are the port.
TEST(CliTest, DeviceNamesAndLinksAreThePort) {
  Line line;
  TempDir dir;
  ASSERT_EQ(::symlink(line.path().c_str(), dir.file("board").c_str()), 0);
  Program term({kXagterm, dir.file("board")});
  EXPECT_TRUE(term.console_shows("Terminal " + dir.file("board") + " 9600")) << term.errors();
  term.type(std::string(1, kCtrlX));
  ASSERT_TRUE(ends(term));
  EXPECT_EQ(term.exit_code(), 0) << term.status_text();
  Program bare({kXagterm, "null"});  // /dev/null opened, and found no serial port
  ASSERT_TRUE(ends(bare));
  EXPECT_EQ(bare.exit_code(), 1) << bare.status_text();
  EXPECT_EQ(bare.errors(), "SetCommState\nnull (/dev/null): Inappropriate ioctl for device\n");
}

// A log that fails to take a write says so once, and the session goes on.
TEST(CliTest, ALogThatFailsIsReportedOnce) {
  Line line;
  TempDir dir;
  const std::string log = dir.file("session.log");
  // A file size limit of 0 fails every write to the log, as a full disk does.
  Program term({find_in_path("sh"), "-c", "ulimit -f 0; trap '' XFSZ; exec \"$@\"", "sh", kXagterm,
                line.path(), "--log", log});
  ASSERT_TRUE(term.console_shows(std::string(kBannerEnd))) << term.errors();
  term.type("ab");
  EXPECT_TRUE(line.received_contains("ab"));
  term.type(std::string(1, kCtrlX));
  ASSERT_TRUE(ends(term));
  EXPECT_EQ(term.exit_code(), 0) << term.status_text();
  EXPECT_EQ(term.errors(), "xagterm: " + log + ": File too large; o registro parou\n");
}

// --- --batch -----------------------------------------------------------------

const std::string kProgram = record(0x00, 0x0100, "\x01\x02\x03\x04") + "\n" +
                             record(0x00, 0x0104, "\x05\x06") + "\n" + end_record() + "\n";

class BatchTest : public SessionTest {
 protected:
  // xagterm --batch on xagsim with standard input at its end; returns the
  // exit status, the console settings checked untouched.
  int batch(std::vector<std::string> sim_options, const std::string& file) {
    keyboard = false;
    sim_options.insert(sim_options.end(), {"--log", dir.file("wire.log")});
    Launch launch;
    launch.argv = xagterm_on_xagsim(sim_options, {"{port}", "b=115200", file, "--batch"});
    launch.directory = dir.path();
    launch.keyboard = false;
    term = std::make_unique<Program>(launch);
    EXPECT_TRUE(ends(*term));
    expect_console_restored();
    return term->exit_code();
  }
};

TEST_F(BatchTest, ExitStatusSaysHowTheUploadEnded) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  struct Case {
    const char* what;
    std::vector<std::string> sim_options;
    std::string file;
    int status;
    std::string report;  // the outcome line on standard error
  };
  const std::string no_end = kProgram.substr(0, kProgram.rfind(':'));
  const Case cases[] = {
      {"sent and answered", {}, kProgram, 0, "xagterm: prog.hex: 3 linhas enviadas\n"},
      {"missing file", {}, "", 2, "prog.hex: No such file or directory\n"},
      {"silent board", {"--silent"}, kProgram, 3, "xagterm: prog.hex: linha 1, caractere 1 sem eco\n"},
      {"board that echoes but never answers",
       {"--no-answer"},
       kProgram,
       3,
       "xagterm: prog.hex: linha 1 sem resposta\n"},
      {"line hung up mid-upload", {"--hangup-after", "20"}, kProgram, 3, "xagterm: linha perdida: "},
      {"no end record",
       {},
       no_end,
       4,
       "xagterm: prog.hex: fim do arquivo sem registro 01 (0 linhas enviadas)\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(dir.file("prog.hex").c_str());
    std::remove(dir.file("wire.log").c_str());
    if (!c.file.empty()) write_file(dir.file("prog.hex"), c.file);
    EXPECT_EQ(batch(c.sim_options, "prog.hex"), c.status) << term->status_text();
    EXPECT_NE(term->errors().find(c.report), std::string::npos) << printable(term->errors());
    // The banner, then the upload: never the terminal. A file that cannot
    // be sent is refused before the port is opened.
    const bool refused = c.status == 2 || c.status == 4;
    EXPECT_EQ(term->console().rfind("Terminal ", 0), refused ? std::string::npos : 0u)
        << printable(term->console());
    const std::string sent = sent_down_the_line();
    EXPECT_EQ(printable(sent), c.status == 0 ? printable(c.file) : refused ? "" : printable(sent));
  }
}

// Standard output that stops reading or goes away never holds up or ends
// the upload: what it did not take is counted, the status is the upload's.
TEST_F(BatchTest, StandardOutputNeverHoldsTheUpload) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  std::string file;
  for (unsigned i = 0; i < 20; ++i)
    file += record(0x00, i * 16, std::string(16, static_cast<char>(i))) + "\n";
  file += end_record() + "\n";
  write_file(dir.file("prog.hex"), file);
  // A pipe nobody reads, filled: its reader has stopped.
  int full[2];
  ASSERT_EQ(::pipe2(full, O_NONBLOCK), 0);
  const std::string block(4096, 'x');
  while (::write(full[1], block.data(), block.size()) > 0) {
  }
  const std::string stopped = "/proc/" + std::to_string(::getpid()) + "/fd/" + std::to_string(full[1]);
  struct Case {
    const char* what;
    std::string output;
  };
  const Case cases[] = {{"reader that leaves", "| head -c 300 >/dev/null"},
                        {"reader that stops", "> " + stopped}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::remove(dir.file("wire.log").c_str());
    std::vector<std::string> argv{find_in_path("sh"), "-c", "{ \"$@\"; echo \"status $?\" >&2; } " + c.output,
                                  "sh"};
    for (const auto& a :
         xagterm_on_xagsim({"--log", dir.file("wire.log")}, {"{port}", "b=115200", "prog.hex", "--batch"})) {
      argv.push_back(a);
    }
    Launch launch;
    launch.argv = argv;
    launch.directory = dir.path();
    launch.keyboard = false;
    term = std::make_unique<Program>(launch);
    ASSERT_TRUE(ends(*term));
    const std::string& errors = term->errors();
    EXPECT_NE(errors.find("xagterm: prog.hex: 21 linhas enviadas\nxagterm: "), std::string::npos) << errors;
    EXPECT_NE(errors.find(" bytes da saida padrao descartados\nstatus 0\n"), std::string::npos) << errors;
    EXPECT_EQ(printable(sent_down_the_line()), printable(file));
  }
  ::close(full[0]);
  ::close(full[1]);
}

// A report on a name of 5000 characters still ends with its reason.
TEST_F(BatchTest, AReportOnAVeryLongNameEndsWithItsReason) {
  std::string name;
  while (name.size() < 5000) name += "pasta/";
  name += "prog.hex";
  EXPECT_EQ(batch({}, name), 2) << term->status_text();
  const std::string& errors = term->errors();
  EXPECT_LT(errors.size(), 600u);
  EXPECT_EQ(errors.substr(0, 12), "pasta/pasta/");
  EXPECT_NE(errors.find("..."), std::string::npos) << errors;  // shortened in the middle
  EXPECT_EQ(errors.substr(errors.size() - 36), "/pasta/prog.hex: File name too long\n");
}

// --- --log -------------------------------------------------------------------

TEST_F(SessionTest, LogHoldsWhatTheConsoleShowedAndTheReports) {
  const std::string log = dir.file("session.log");
  write_file(log, "before\n");  // appended to, never truncated
  ASSERT_NO_FATAL_FAILURE(
      start_on_xagsim({"--send", "boot ok\\r\\n\\x00\\xE7"}, {"{port}", "FW.HEX", "--log", log}));
  term->type("abc");
  ASSERT_TRUE(term->console_shows("abc")) << printable(term->console());
  ASSERT_NO_FATAL_FAILURE(quit());
  EXPECT_EQ(term->errors(), "xagterm: argumento ignorado: FW.HEX\n");
  EXPECT_EQ(printable(read_file(log)), printable("before\n" + term->errors() + uncrlf(term->console())));
}

// --- accents -----------------------------------------------------------------

TEST_F(SessionTest, AccentsFollowTheConsolesEncoding) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  const std::string env = find_in_path("env");
  struct Case {
    const char* locale;
    std::string c_cedilla;  // ç
    std::string a_tilde;    // ã
  };
  const Case cases[] = {{"C", "\xE7", "\xE3"}, {"C.UTF-8", "\xC3\xA7", "\xC3\xA3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale);
    // The menu's D prompt from a board that answers, the failed handshake
    // from one that does not.
    for (const bool silent : {false, true}) {
      std::vector<std::string> argv{env, std::string("LC_ALL=") + c.locale};
      for (const auto& a : xagterm_on_xagsim(
               silent ? std::vector<std::string>{"--silent"} : std::vector<std::string>{}, {"{port}"})) {
        argv.push_back(a);
      }
      ASSERT_NO_FATAL_FAILURE(start(argv));
      term->type(std::string(1, kCtrlF));
      if (silent) {
        EXPECT_TRUE(
            term->console_shows(crlf("\nFalhou a detec" + c.c_cedilla + c.a_tilde + "o do baud-rate\n\n")))
            << printable(term->console());
      } else {
        ASSERT_TRUE(term->console_shows("H: Programar")) << printable(term->console());
        term->type("D");
        EXPECT_TRUE(term->console_shows(crlf("Mostrar Dados:\nEndere" + c.c_cedilla + "o inicial = ")))
            << printable(term->console());
        term->type("\r");  // no address: back to the terminal
      }
      ASSERT_NO_FATAL_FAILURE(quit());
    }
  }
}

}  // namespace
}  // namespace e2e
