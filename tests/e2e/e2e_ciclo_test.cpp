// A board taken through the whole flash cycle by one --batch command, on
// xagsim playing flash memory.
#include <cstdio>
#include <string>
#include <vector>

#include "e2e_support.hpp"

namespace e2e {
namespace {

// A used board: blocks 0, 2 and 8 written.
const std::string kOld = record(0x00, 0x0000, std::string(16, '\x55')) + "\n" +
                         record(0x00, 0x2000, std::string(16, '\x22')) + "\n" +
                         record(0x00, 0x8000, std::string(16, '\x00')) + "\n" + end_record() + "\n";
// The new program: blocks 0 and 8 only.
const std::string kNew = record(0x00, 0x0000, "\x01\x02\x03\x04") + "\n" +
                         record(0x00, 0x8000, std::string(4, '\x11')) + "\n" + end_record() + "\n";

class CicloTest : public SessionTest {
 protected:
  // xagterm --batch with these arguments on a board preloaded with kOld;
  // returns the exit status.
  int run(std::vector<std::string> sim_options, const std::vector<std::string>& args) {
    keyboard = false;
    std::remove(dir.file("wire.log").c_str());  // xagsim appends to it
    write_file(dir.file("old.hex"), kOld);
    write_file(dir.file("new.hex"), kNew);
    sim_options.insert(sim_options.end(), {"--preload", "old.hex", "--image", dir.file("image.hex"), "--log",
                                           dir.file("wire.log")});
    std::vector<std::string> xagterm_args{"{port}", "b=115200", "--batch"};
    xagterm_args.insert(xagterm_args.end(), args.begin(), args.end());
    Launch launch;
    launch.argv = xagterm_on_xagsim(sim_options, xagterm_args);
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

Image bytes_at(std::uint32_t address, const std::string& data) {
  Image m;
  for (char c : data) m[address++] = static_cast<std::uint8_t>(c);
  return m;
}

TEST_F(CicloTest, AUsedBoardTakesTheNewProgramOnlyOnceErased) {
  if (kXagsim.empty()) GTEST_SKIP() << "xagsim is not built";
  EXPECT_EQ(run({}, {"new.hex"}), 3);
  EXPECT_TRUE(term->errors_show("new.hex: linha 1: resposta \"V\\r\\n\", esperada \".\\r\\n\"")) << term->errors();

  EXPECT_EQ(run({"--status", "0x7F"}, {"new.hex", "--erase", "--clear-status", "--status"}), 0) << term->errors();
  EXPECT_EQ(term->errors(),
            "xagterm: bloco 0 [0000.1FFF] apagado\nxagterm: bloco 8 [8000.BFFF] apagado\n"
            "xagterm: new.hex: 3 linhas enviadas\nxagterm: byte de status 00, vetor de boot 00\n");
  EXPECT_NE(term->console().find("Status=00\r\n"), std::string::npos) << printable(term->console());
  Image expected = bytes_at(0x0000, "\x01\x02\x03\x04");
  expected.merge(bytes_at(0x2000, std::string(16, '\x22')));  // block 2 untouched
  expected.merge(bytes_at(0x8000, std::string(4, '\x11')));
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
