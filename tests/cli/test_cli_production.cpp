// zk7prog check, program with serial numbers and a log, set, show --json and diff.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "cli_run.h"
#include "files/configfile.h"
#include "model/named_fields.h"
#include "production/log.h"

using namespace zk7;

TEST_F(CliTest, CheckAndProgramRefuseAChipHoldingAnotherConfiguration) {
  const std::string port = "emulator:" + Path("chip.txt");
  EXPECT_EQ(RunCli({"check", "--port", port}).code, 0) << "a blank chip";
  ASSERT_EQ(RunCli({"program", "--port", port}).out, "PASSED\n");
  ASSERT_EQ(RunCli({"set", "GPLAT=5A", "-o", Path("other.hex")}).code, 0);
  const std::string burnt = Read("chip.txt");

  auto r = RunCli({"check", Path("other.hex"), "--port", port});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.out, "  02      GPLAT       3400  345A\n")) << r.out;
  r = RunCli({"program", Path("other.hex"), "--port", port});
  EXPECT_TRUE(r.code == 1 && Contains(r.err, "nothing was burnt") && Contains(r.err, "GPLAT"));
  EXPECT_EQ(Read("chip.txt"), burnt);
  EXPECT_EQ(RunCli({"check", Path("missing.dvs"), "--port", port}).code, 2);

  // An empty socket reads all 0000: said as such, not as words that cannot be taken.
  const std::string empty = "emulator:fault=nochip-low";
  r = RunCli({"check", "--port", empty});
  EXPECT_TRUE(r.code == 1 && Contains(r.out, "no chip in the socket, or the chip is not powered") &&
              !Contains(r.out, "GPLAT"))
      << r.out;
  r = RunCli({"program", "--port", empty, "--log", Path("empty.csv")});
  EXPECT_TRUE(r.code == 1 && Contains(r.out, "REFUSED at nochip")) << r.out;
  EXPECT_TRUE(Contains(r.err, "no chip in the socket") && !Contains(r.err, "GPLAT")) << r.err;
  EXPECT_EQ(RunCli({"program", "--port", empty}).code, 1);
}

TEST_F(CliTest, SerialRunsGiveConsecutiveIdentifiersAndContinueFromTheLog) {
  const std::string log = Path("log.csv");
  for (int n = 0; n < 3; ++n) {
    const std::string chip = Path("chip" + std::to_string(n) + ".txt");
    auto r = RunCli(
        {"program", "--port", "emulator:" + chip, "--serial", "TXID2=std:7FD:1", "--log", log});
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(RunCli({"read", "--port", "emulator:" + chip, "-o", Path("back.dvs")}).code, 0);
    ConfigurationFile back;
    std::string error;
    ASSERT_TRUE(ReadConfigurationFile(Path("back.dvs"), back, error));
    EXPECT_EQ(ReadIdentifier(back.registers, 2), (Identifier{false, 0x7FDu + n}));
  }
  LogContents contents;
  std::string error;
  ASSERT_TRUE(ParseLog(Read("log.csv"), contents, error));
  ASSERT_EQ(contents.records.size(), 3u);
  EXPECT_EQ(Read("log.csv").rfind(LogHeader(), 0), 0u);
  EXPECT_TRUE(contents.records[2].serial == 0x7FFu &&
              contents.records[2].result == ChipResult::Passed);
  // The values are used up: refused before a chip is asked for.
  auto r = RunCli({"program", "--port", "emulator", "--serial", "TXID2=std:0", "--log", log});
  EXPECT_TRUE(r.code == 2 && Contains(r.err, "used up")) << r.err;

  // --count: one line of input per chip; the same emulated chip is refused the second time.
  r = RunCli({"program", "--port", "emulator:" + Path("c.txt"), "--serial", "USER0-1=00FF", "--log",
              Path("l2.csv"), "--count", "3"},
             '.', "\n\nq\n");
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.out, "chip 1/3  USER0-1=00FF  PASSED"));
  EXPECT_TRUE(Contains(r.out, "chip 2/3  USER0-1=0100  REFUSED at 35"));
  EXPECT_TRUE(Contains(r.out, "Summary: 1 passed, 0 failed, 1 refused\n")) << r.out;
}

TEST_F(CliTest, AKilledRunLeavesAWholeLog) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    RunCli({"program", "--port", "emulator", "--serial", "RXF1=std:0", "--log", Path("log.csv"),
            "--count", "1000", "--no-check"},
           '.', std::string(1000, '\n'));
    _exit(0);
  }
  std::string text;
  for (int wait = 0; wait < 2000 && std::count(text.begin(), text.end(), '\n') < 4; ++wait) {
    usleep(5000);
    std::string error;
    ReadWholeFile(Path("log.csv"), 1 << 20, text, error);
  }
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  LogContents contents;
  std::string error;
  ASSERT_TRUE(ReadWholeFile(Path("log.csv"), 1 << 20, text, error));
  ASSERT_TRUE(ParseLog(text, contents, error)) << error;
  EXPECT_GE(contents.records.size(), 3u);
  EXPECT_TRUE(contents.damagedLines.empty()) << text;
  for (std::size_t k = 0; k < contents.records.size(); ++k)
    EXPECT_EQ(contents.records[k].serial, k);
}

TEST_F(CliTest, ASignalDuringAChipLogsItAbortedBeforeTheProcessEnds) {
  const auto end = RunUntilSignalled({ZK7PROG_BIN, "program", "--port", "emulator", "--serial",
                                      "TXID0=std:100", "--log", Path("log.csv")},
                                     {}, Path("trace.txt"), "D 1", SIGTERM);
  EXPECT_TRUE(end.unpoweredAfter(SIGTERM)) << end.lastWrite;
  std::string text, error;
  LogContents contents;
  ASSERT_TRUE(ReadWholeFile(Path("log.csv"), 1 << 20, text, error));
  ASSERT_TRUE(ParseLog(text, contents, error)) << error;
  ASSERT_EQ(contents.records.size(), 1u) << text;
  EXPECT_EQ(contents.records[0].result, ChipResult::Aborted);
}

TEST_F(CliTest, SetShowJsonAndDiffAgree) {
  std::vector<std::string> set = {"set",      "CNF1=03",  "TXID0=std:123", "reserved18=12",
                                  "USER3=A5", "CONFIG=5", "FOSC_KHZ=8000", "-o"};
  for (const char* out : {"s.dvs", "s.hex"}) {
    set.push_back(Path(out));
    ASSERT_EQ(RunCli(set).code, 0);
    set.pop_back();
  }
  const auto json = nlohmann::json::parse(RunCli({"show", Path("s.dvs"), "--json"}).out);
  EXPECT_TRUE(json["registers"]["CNF1"] == 3 && json["registers"]["reserved18"] == 0x12 &&
              json["user_memory"][3] == 0xA5 && json["config_word"] == 5 &&
              json["fosc_khz"] == "8000");
  EXPECT_TRUE(json["identifiers"]["TXID0"]["extended"] == false &&
              json["identifiers"]["TXID0"]["id"] == 0x123);
  EXPECT_DOUBLE_EQ(json["derived"]["can_bit_timing"]["bit_rate_kbps"].get<double>(), 200);
  const auto hex = nlohmann::json::parse(RunCli({"show", Path("s.hex"), "--json"}).out);
  EXPECT_EQ(hex["registers"], json["registers"]);

  auto r = RunCli({"diff", Path("s.dvs"), Path("s.hex")});
  EXPECT_TRUE(r.code == 0 && r.out == "No differences.\n") << "HEX carries no frequency";
  WriteDvs("d.dvs", defaults_);
  r = RunCli({"diff", Path("d.dvs"), Path("s.dvs")});
  EXPECT_TRUE(r.code == 1 && Contains(r.out, "7 differences\n")) << r.out;
  for (const char* line :
       {"  CNF1        00      03      bit timing: BRP 1", "  USER3       FF      A5\n",
        "TXID0: ext:1FFFFFFF -> std:123\n", "  reserved18  FF      12\n",
        "OSC HS, GP7 RESET Pin -> OSC XT, GP7 RESET Pin\n", "  FOSC_KHZ    4000    8000\n"})
    EXPECT_TRUE(Contains(r.out, line)) << line;

  for (const char* bad : {"NOPE=1", "CNF1=100", "TXID0=std:800", "checksum=0", "FOSC_KHZ=x"}) {
    r = RunCli({"set", bad, "-o", Path("bad.dvs")});
    EXPECT_TRUE(r.code == 2 && Contains(r.err, "set")) << bad;
  }
  EXPECT_FALSE(std::ifstream(Path("bad.dvs")).good()) << "nothing written";
}
