// A board taken through the whole flash cycle by one --batch command, on
// xagsim playing flash memory.
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {
namespace {

// A used board (blocks 0, 2 and 8 written), and a new program for 0 and 8.
const std::string kOld = record(0, 0x0000, std::string(16, 'U')) + "\n" +
                         record(0, 0x2000, std::string(16, '"')) + "\n" +
                         record(0, 0x8000, std::string(16, '\0')) + "\n" + end_record() + "\n";
const std::string kNew =
    record(0, 0x0000, "\x01\x02") + "\n" + record(0, 0x8000, "\x11") + "\n" + end_record() + "\n";

class CicloTest : public SessionTest {
 protected:
  // xagterm --batch ARGS on a board preloaded with kOld; its exit status.
  int run(std::vector<std::string> sim, const std::vector<std::string>& args) {
    std::remove(dir.file("wire.log").c_str());  // xagsim appends to it
    write_file(dir.file("old.hex"), kOld);
    write_file(dir.file("new.hex"), kNew);
    sim.insert(sim.end(), {"--preload", "old.hex", "--image", "image.hex", "--log", dir.file("wire.log")});
    std::vector<std::string> xagterm_args{"{port}", "b=115200", "--batch"};
    xagterm_args.insert(xagterm_args.end(), args.begin(), args.end());
    Launch launch;
    launch.argv = xagterm_on_xagsim(sim, xagterm_args);
    launch.directory = dir.path();
    launch.keyboard = false;
    term = std::make_unique<Program>(launch);
    EXPECT_TRUE(ends(*term));
    return term->exit_code();
  }

  Image image() {
    Image m;
    std::string why;
    EXPECT_TRUE(parse_intel_hex(read_file(dir.file("image.hex")), m, why)) << why;
    return m;
  }
};

TEST_F(CicloTest, AUsedBoardTakesTheNewProgramOnlyOnceErased) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  EXPECT_EQ(run({}, {"new.hex"}), 3);
  EXPECT_TRUE(term->errors_show("new.hex: linha 1: resposta \"V\\r\\n\", esperada \".\\r\\n\""))
      << term->errors();

  EXPECT_EQ(run({"--status", "0x7F"}, {"new.hex", "--erase", "--clear-status", "--status"}), 0)
      << term->errors();
  EXPECT_EQ(term->errors(),
            "xagterm: bloco 0 [0000.1FFF] apagado\nxagterm: bloco 8 [8000.BFFF] apagado\n"
            "xagterm: new.hex: 3 linhas enviadas\nxagterm: byte de status 00, vetor de boot 00\n");
  EXPECT_NE(term->console().find("Status=00\r\n"), std::string::npos) << printable(term->console());
  Image expected{{0x0000, 1}, {0x0001, 2}, {0x8000, 0x11}};
  for (std::uint32_t a = 0x2000; a < 0x2010; ++a) expected[a] = '"';  // block 2 untouched
  EXPECT_EQ(image(), expected);
}

TEST_F(CicloTest, StepsWithoutAFileAndAFailedHandshake) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  EXPECT_EQ(run({}, {"--erase=all"}), 0) << term->errors();
  EXPECT_EQ(image(), Image{});
  EXPECT_NE(term->errors().find("bloco C [C000.FFFF] apagado"), std::string::npos);

  EXPECT_EQ(run({"--echo-byte", "0x55"}, {"--erase=all", "--status"}), 3);  // a board at another rate
  EXPECT_EQ(sent_down_the_line(), "fffffff");  // the handshake's sends, nothing more
  EXPECT_EQ(image().size(), 48u);

  // --quiet: what --status and --dump print, and nothing else.
  EXPECT_EQ(run({}, {"--quiet", "--status", "--dump", "2000:10"}), 0) << term->errors();
  EXPECT_EQ(term->console().rfind("Status=FF\r\nBoot vector=00\r\n", 0), 0u) << printable(term->console());
  EXPECT_NE(term->console().find("2000: 22 22"), std::string::npos) << printable(term->console());
  EXPECT_EQ(term->console().find(":0"), std::string::npos) << printable(term->console());
}

}  // namespace
}  // namespace e2e
