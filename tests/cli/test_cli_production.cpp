// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog check, program with serial numbers and a log, set, show --json and diff.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>
#include <streambuf>

#include "child_process.h"
#include "cli_run.h"
#include "files/configfile.h"
#include "files/intelhex.h"
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
  EXPECT_TRUE(ExitsSaying(r, 1, r.out, "  02      GPLAT       3400  345A\n"));
  r = RunCli({"program", Path("other.hex"), "--port", port});
  EXPECT_TRUE(ExitsSaying(r, 1, r.err, "nothing was burnt"));
  EXPECT_TRUE(Contains(r.err, "GPLAT"));
  EXPECT_EQ(Read("chip.txt"), burnt);
  EXPECT_EQ(RunCli({"check", Path("missing.dvs"), "--port", port}).code, 2);

  // An empty socket reads all 0000: said as such, not as words that cannot be taken.
  const std::string empty = "emulator:fault=nochip-low";
  r = RunCli({"check", "--port", empty});
  EXPECT_TRUE(ExitsSaying(r, 1, r.out, "no chip in the socket, or the chip is not powered"));
  EXPECT_FALSE(Contains(r.out, "GPLAT")) << r.out;
  r = RunCli({"program", "--port", empty, "--log", Path("empty.csv")});
  EXPECT_TRUE(ExitsSaying(r, 1, r.out, "REFUSED at nochip"));
  EXPECT_TRUE(Contains(r.err, "no chip in the socket")) << r.err;
  EXPECT_FALSE(Contains(r.err, "GPLAT")) << r.err;
  EXPECT_EQ(RunCli({"program", "--port", empty}).code, 1);
}

namespace {

LogContents ReadLog(const std::string& path) {
  std::string text, error;
  LogContents contents;
  EXPECT_TRUE(ReadWholeFile(path, 1 << 20, text, error)) << error;
  EXPECT_TRUE(ParseLog(text, contents, error)) << error << text;
  return contents;
}

std::vector<ChipResult> Results(const LogContents& c) {
  std::vector<ChipResult> results;
  for (const auto& r : c.recent) results.push_back(r.result);
  return results;
}

// Standard input that runs an action before each line it hands out: what
// happens while a run waits at its prompt.
class PromptInput : public std::streambuf {
 public:
  PromptInput(std::vector<std::string> lines, std::function<void(std::size_t)> before)
      : lines_(std::move(lines)), before_(std::move(before)) {}

 protected:
  int_type underflow() override {
    if (next_ == lines_.size()) return traits_type::eof();
    before_(next_);
    current_ = lines_[next_++] + "\n";
    setg(current_.data(), current_.data(), current_.data() + current_.size());
    return traits_type::to_int_type(current_[0]);
  }

 private:
  std::vector<std::string> lines_;
  std::function<void(std::size_t)> before_;
  std::size_t next_ = 0;
  std::string current_;
};

CliResult RunWithPrompt(const std::vector<std::string>& args, PromptInput& input) {
  std::ostringstream out, err;
  std::istream in(&input);
  zk7cli::Io io{out, err, false, '.', &in, false};
  const int code = zk7cli::Run(args, io);
  return {code, out.str(), err.str()};
}

}  // namespace

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
  const LogContents contents = ReadLog(log);
  EXPECT_EQ(Read("log.csv").rfind(LogHeader(), 0), 0u);
  EXPECT_EQ(contents.total(ChipResult::Reserved), 3);
  EXPECT_EQ(contents.recent.back().serial, 0x7FFu);
  EXPECT_EQ(contents.recent.back().result, ChipResult::Passed);
  // The values are used up: refused before a chip is asked for, nothing burnt.
  auto r = RunCli({"program", "--port", "emulator:" + Path("none.txt"), "--serial", "TXID2=std:0",
                   "--log", log});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "used up"));
  EXPECT_FALSE(std::ifstream(Path("none.txt")).good());

  // --count: one answer per chip; the chip left in the socket is refused the second time, and
  // its value goes to the next chip. An answer other than Enter or a quit word asks again.
  r = RunCli({"program", "--port", "emulator:" + Path("c.txt"), "--serial", "USER0-1=00FF", "--log",
              Path("l2.csv"), "--count", "4"},
             '.', "\nnext\n  \r\nEXIT \r\n");
  EXPECT_TRUE(ExitsSaying(r, 1, r.out, "chip 1/4  USER0-1=00FF  PASSED"));
  EXPECT_TRUE(Contains(r.out, "chip 2/4  USER0-1=0100  REFUSED at 35"));
  EXPECT_TRUE(Contains(r.out, "Summary: 1 passed, 0 failed, 1 refused\n")) << r.out;
  EXPECT_TRUE(Contains(r.err, "press Enter for the next chip, or q to quit")) << r.err;
  r = RunCli({"program", "--port", "emulator:" + Path("c2.txt"), "--serial", "USER0-1=00FF",
              "--log", Path("l2.csv"), "--count", "2"},
             '.', "\nquit\n");
  EXPECT_TRUE(Contains(r.out, "chip 1/2  USER0-1=0100  PASSED")) << r.out;
}

TEST_F(CliTest, ALogReplacedWhileARunWaitsIsReadAgainAndASecondRunIsRefused) {
  const std::string log = Path("rep.csv");
  const std::vector<std::string> run = {"program",   "--port",        "emulator:" + Path("a.txt"),
                                        "--serial",  "TXID0=std:100", "--log",
                                        log,         "--count",       "3",
                                        "--no-check"};
  CliResult second{};
  PromptInput input({"", "", ""}, [&](std::size_t line) {
    std::remove(Path("a.txt").c_str());  // a fresh chip in the socket
    if (line == 1) {
      // An editor saves the log (a copy renamed over it) with a line typed in by hand...
      Write("rep.csv", Read("rep.csv") + "t,150,PASSED,,00,0007,1\n");
      // ...and another run on the same log is refused while this one waits.
      second = RunCli({"program", "--port", "emulator:" + Path("b.txt"), "--serial",
                       "TXID0=std:100", "--log", log});
    } else if (line == 2) {
      // A rotation: the log moves away, the next record starts a new file.
      ASSERT_EQ(std::rename(log.c_str(), Path("rep.csv.1").c_str()), 0);
    }
  });
  const auto r = RunWithPrompt(run, input);
  EXPECT_EQ(second.code, 2) << second.out << second.err;
  EXPECT_TRUE(second.out.empty()) << second.out << second.err;
  EXPECT_TRUE(Contains(second.err, "in use by another run")) << second.out << second.err;
  EXPECT_TRUE(Contains(r.out, "chip 1/3  TXID0=100  PASSED")) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "chip 2/3  TXID0=151  PASSED")) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "chip 3/3  TXID0=152  PASSED")) << r.out << r.err;
  EXPECT_TRUE(Contains(r.err, "rep.csv was replaced while this run used it")) << r.err;
  // The rotated-away log keeps what it had; the new one gets all of this run's records.
  EXPECT_EQ(ReadLog(Path("rep.csv.1")).total(ChipResult::Reserved), 2);
  const LogContents fresh = ReadLog(log);
  EXPECT_EQ(fresh.total(ChipResult::Reserved), 3);
  EXPECT_EQ(fresh.recent.back().serial, 0x152u);
  EXPECT_TRUE(Contains(RunCli({"program", "--port", "emulator:" + Path("d.txt"), "--serial",
                               "TXID0=std:100", "--log", log})
                           .out,
                       "chip 1/1  TXID0=153  PASSED"));
}

// Whatever people do to a log between two runs, the second run gives the next value.
TEST_F(CliTest, NoValueIsGivenTwiceWhateverHappensToTheLog) {
  const std::string log = Path("log.csv");
  // What a spreadsheet saves: every field quoted, or a space after each comma.
  const auto resave = [&](const char* separator, bool quoted) {
    std::string text, line;
    std::istringstream in(Read("log.csv"));
    while (std::getline(in, line)) {
      std::string field, out;
      std::istringstream fields(line);
      for (int k = 0; std::getline(fields, field, ','); ++k)
        out += (k ? separator : "") + (quoted ? "\"" + field + "\"" : field);
      text +=
          out + (line.back() == ',' ? separator + std::string(quoted ? "\"\"" : "") : "") + "\r\n";
    }
    std::remove(Path("log.csv.state").c_str());  // only the log tells
    Write("log.csv", text);
  };
  const std::vector<std::function<void()>> handlings = {
      [&] { std::ofstream(log, std::ios::trunc) << LogHeader(); },   // saved in place, older
      [&] { std::rename(log.c_str(), Path("log.csv.1").c_str()); },  // rotated
      [&] { std::remove(log.c_str()); },
      [&] { resave(",", true); },
      [&] { resave(", ", false); },
  };
  for (std::size_t k = 0; k < handlings.size(); ++k) {
    for (const char* name : {"log.csv", "log.csv.state"}) std::remove(Path(name).c_str());
    const std::vector<std::string> run = {"program",       "--port", "emulator", "--serial",
                                          "TXID0=std:100", "--log",  log};
    ASSERT_TRUE(Contains(RunCli(run).out, "TXID0=100  PASSED")) << k;
    handlings[k]();
    const auto r = RunCli(run);
    EXPECT_TRUE(ExitsSaying(r, 0, r.out, "TXID0=101  PASSED")) << k;
    EXPECT_FALSE(Contains(r.err, "not a record")) << k << r.err;
  }
  // A range's own grid, also after another range's value on a shared log.
  Write("log.csv", Read("log.csv") + "t,183,PASSED,,00,0007,1\n");
  EXPECT_TRUE(Contains(RunCli({"program", "--port", "emulator:" + Path("g.txt"), "--serial",
                               "TXID1=std:101:2", "--log", log})
                           .out,
                       "TXID1=185  PASSED"));
}

// While a run waits for its next chip, no second run gets in by another name for the log, with
// the state file removed, or on a log rotated away; and what it reserved stays given.
TEST_F(CliTest, ASecondRunIsRefusedByEveryNameOfTheLogAndAfterAnyHandling) {
  const std::string log = Path("log.csv");
  ASSERT_EQ(symlink(Path("target.csv").c_str(), Path("link.csv").c_str()), 0);  // dangling
  const auto second = [&](const std::string& name) {
    return RunCli({"program", "--port", "emulator:" + Path("b.txt"), "--serial", "TXID0=std:100",
                   "--log", name});
  };
  const std::vector<std::string> run = {
      "program",        "--port",        "emulator:" + Path("a.txt"),
      "--serial",       "TXID0=std:100", "--log",
      Path("link.csv"), "--count",       "2"};
  std::vector<CliResult> refused;
  PromptInput input({"", ""}, [&](std::size_t line) {
    std::remove(Path("a.txt").c_str());  // a fresh chip in the socket
    if (line != 1) return;
    ASSERT_EQ(link(Path("target.csv").c_str(), log.c_str()), 0);
    refused.push_back(second(Path("target.csv")));
    refused.push_back(second(log));  // a hard link
    std::remove(Path("target.csv.state").c_str());
    refused.push_back(second(log));
    std::rename(Path("target.csv").c_str(), Path("target.csv.1").c_str());
    std::remove(log.c_str());
    refused.push_back(second(Path("link.csv")));  // a new file under the rotated log's name
  });
  const auto r = RunWithPrompt(run, input);
  EXPECT_TRUE(Contains(r.out, "TXID0=100  PASSED")) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "TXID0=101  PASSED")) << r.out << r.err;
  ASSERT_EQ(refused.size(), 4u);
  for (std::size_t k = 0; k < refused.size(); ++k) {
    EXPECT_TRUE(ExitsSaying(refused[k], 2, refused[k].err, "in use by another run")) << k;
  }
  EXPECT_TRUE(Contains(r.err, "target.csv.state was removed or replaced")) << r.err;
  EXPECT_TRUE(Contains(second(Path("link.csv")).out, "TXID0=102  PASSED"));
}

// The state file takes the log's permissions, and a link in its place is refused, not followed.
TEST_F(CliTest, TheSerialStateIsAFileOfItsOwnWithTheLogsPermissions) {
  const std::string log = Path("log.csv");
  std::ofstream(log) << LogHeader();
  ASSERT_EQ(chmod(log.c_str(), 0640), 0);
  const std::vector<std::string> run = {
      "program", "--port", "emulator:" + Path("c.txt"), "--serial", "TXID0=std:100", "--log", log};
  ASSERT_EQ(RunCli(run).code, 0);
  struct stat st {};
  ASSERT_EQ(stat((log + ".state").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  std::remove((log + ".state").c_str());
  ASSERT_EQ(symlink(Path("elsewhere").c_str(), (log + ".state").c_str()), 0);
  const auto r = RunCli(run);
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "is a symbolic link"));
  EXPECT_NE(access(Path("elsewhere").c_str(), F_OK), 0);
}

TEST_F(CliTest, AStationsRangeGivesEachValueOnceThenEndsWithNothingBurnt) {
  const std::string log = Path("station.csv"), chip = Path("socket.txt");
  // A fresh chip at each prompt, in the socket behind the simulated USB adapter.
  PromptInput input({"", "", ""}, [&](std::size_t) { std::remove(chip.c_str()); });
  const auto r = RunWithPrompt({"program", "--port", "emulator:" + chip + ",usb=ft232r", "--serial",
                                "TXID0=std:1FE..std:1FF", "--log", log, "--count", "3"},
                               input);
  EXPECT_TRUE(ExitsSaying(r, 2, r.out, "chip 1/3  TXID0=1FE  PASSED"));
  EXPECT_TRUE(Contains(r.out, "chip 2/3  TXID0=1FF  PASSED")) << r.out;
  EXPECT_FALSE(Contains(r.out, "chip 3/3")) << r.out;
  EXPECT_TRUE(
      Contains(r.err, "zk7prog: the serial range TXID0 std:1FE..std:1FF is used up (2 values)\n"))
      << r.err;
  EXPECT_EQ(ReadLog(log).total(ChipResult::Reserved), 2) << "no third chip was reserved";

  // Usage errors: the end below the start, without the start's prefix, of another type.
  for (const char* bad :
       {"TXID0=std:1FF..std:100", "TXID0=std:100..1FF", "TXID0=std:100..ext:1FF"}) {
    const auto u = RunCli({"program", "--port", "emulator", "--serial", bad, "--log", log});
    EXPECT_TRUE(ExitsSaying(u, 2, u.err, "zk7prog program: --serial: TXID0: the range's end"))
        << bad;
  }
}

// During the check the chip gets nothing and its value is free; after the first pulse the chip
// may hold it: ABORTED, or for a kill only the reservation, which the next run reports.
// The signal goes at a wait: the check's 20 ms before its last read leaves the test time to
// send it before the burn could begin, even on a loaded machine.
TEST_F(CliTest, ASignalDuringAChipRecordsWhatTheChipMayHoldBeforeTheProcessEnds) {
  struct Case {
    bool check;
    const char* when;
    int sig;
    std::vector<ChipResult> results;
    const char* next;
  };
  const Case cases[] = {
      {true, "D 20", SIGTERM, {ChipResult::Unused}, "TXID0=100  PASSED"},
      {false, "D 1", SIGTERM, {ChipResult::Reserved, ChipResult::Aborted}, "TXID0=101  PASSED"},
      {false, "D 1", SIGKILL, {ChipResult::Reserved}, "TXID0=101  PASSED"},
  };
  const std::vector<std::string> run = {"program",       "--port", "emulator",     "--serial",
                                        "TXID0=std:100", "--log",  Path("log.csv")};
  for (const Case& c : cases) {
    // Both the log and its serial state go: the range starts again on purpose.
    std::remove(Path("log.csv").c_str());
    std::remove(Path("log.csv.state").c_str());
    std::vector<std::string> child = run;
    child.insert(child.begin(), ZK7PROG_BIN);
    if (!c.check) child.push_back("--no-check");
    const auto end = RunUntilSignalled(child, {}, Path("trace.txt"), c.when, c.sig, 0, 5000);
    EXPECT_TRUE(end.unpoweredAfter(c.sig)) << c.sig << ": " << end.lastWrite;
    EXPECT_EQ(Results(ReadLog(Path("log.csv"))), c.results) << c.sig;
    const auto r = RunCli(run);
    EXPECT_TRUE(Contains(r.out, c.next)) << r.out;
    EXPECT_EQ(Contains(r.err, "value 100 was reserved at ") &&
                  Contains(r.err, " and has no result: a chip may hold it"),
              c.sig == SIGKILL)
        << r.err;
  }
}

TEST_F(CliTest, CtrlZDuringAChipStopsTheProcessOnlyOnceTheChipIsUnpowered) {
  const std::string port = "emulator:" + Path("chip.txt"), trace = Path("stop.trace");
  // A single chip: stopped after its check and burn, it ends with its result when continued.
  auto run = StopAndContinue({ZK7PROG_BIN, "program", "--port", port}, {}, trace, "\nD 1\n");
  EXPECT_TRUE(run.unpoweredAtStop()) << run.traceAtStop.size();
  EXPECT_EQ(run.traceAtStop, run.traceAtEnd) << "the sequence had ended before the stop";
  EXPECT_TRUE(WIFEXITED(run.status)) << run.err;
  EXPECT_EQ(WEXITSTATUS(run.status), 0) << run.err;
  EXPECT_TRUE(Contains(run.err, "SIGTSTP received; stopping once")) << run.err;

  // A production chip: stopped once its records are on disk; continued, it asks for the next.
  std::remove(Path("chip.txt").c_str());
  std::string logAtStop;
  run =
      StopAndContinue({ZK7PROG_BIN, "program", "--port", port, "--serial", "TXID0=std:100", "--log",
                       Path("log.csv"), "--count", "2"},
                      {}, trace, "\nD 1\n", "\n\n", false, 0, [&] { logAtStop = Read("log.csv"); });
  LogContents atStop;
  std::string error;
  ASSERT_TRUE(ParseLog(logAtStop, atStop, error)) << logAtStop;
  EXPECT_EQ(Results(atStop), (std::vector<ChipResult>{ChipResult::Reserved, ChipResult::Passed}));
  EXPECT_TRUE(run.unpoweredAtStop());
  EXPECT_EQ(ReadLog(Path("log.csv")).recent.size(), 3u) << "the next chip, refused";

  // Waiting at the prompt, it stops at once.
  run = StopAndContinue({ZK7PROG_BIN, "program", "--port", port, "--count", "1"}, {}, trace,
                        "R 379", "q\n", true);
  EXPECT_TRUE(run.stopped) << run.traceAtStop;
  EXPECT_FALSE(Contains(run.traceAtStop, "D 1")) << run.traceAtStop;
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
  EXPECT_EQ(json["registers"]["CNF1"], 3);
  EXPECT_EQ(json["registers"]["reserved18"], 0x12);
  EXPECT_EQ(json["user_memory"][3], 0xA5);
  EXPECT_EQ(json["config_word"], 5);
  EXPECT_EQ(json["fosc_khz"], "8000");
  EXPECT_EQ(json["identifiers"]["TXID0"]["extended"], false);
  EXPECT_EQ(json["identifiers"]["TXID0"]["id"], 0x123);
  EXPECT_DOUBLE_EQ(json["derived"]["can_bit_timing"]["bit_rate_kbps"].get<double>(), 200);
  const auto hex = nlohmann::json::parse(RunCli({"show", Path("s.hex"), "--json"}).out);
  EXPECT_EQ(hex["registers"], json["registers"]);

  auto r = RunCli({"diff", Path("s.dvs"), Path("s.hex")});
  EXPECT_EQ(r.code, 0) << "HEX carries no frequency";
  EXPECT_EQ(r.out, "No differences.\n") << "HEX carries no frequency";
  WriteDvs("d.dvs", defaults_);
  r = RunCli({"diff", Path("d.dvs"), Path("s.dvs")});
  EXPECT_TRUE(ExitsSaying(r, 1, r.out, "7 differences\n"));
  for (const char* line :
       {"  CNF1        00      03      bit timing: BRP 1", "  USER3       FF      A5\n",
        "TXID0: ext:1FFFFFFF -> std:123\n", "  reserved18  FF      12\n",
        "OSC HS, GP7 RESET Pin -> OSC XT, GP7 RESET Pin\n", "  FOSC_KHZ    4000    8000\n"})
    EXPECT_TRUE(Contains(r.out, line)) << line;

  for (const char* bad : {"NOPE=1", "CNF1=100", "TXID0=std:800", "checksum=0", "FOSC_KHZ=x"}) {
    r = RunCli({"set", bad, "-o", Path("bad.dvs")});
    EXPECT_TRUE(ExitsSaying(r, 2, r.err, "set")) << bad;
  }
  EXPECT_FALSE(std::ifstream(Path("bad.dvs")).good()) << "nothing written";

  auto words = image_.ProgramImage;  // a checksum word that disagrees is named
  words[kChecksumEntry] = 0x34F3;
  Write("sum.hex", WriteIntelHex(words, 7));
  EXPECT_TRUE(Contains(RunCli({"show", Path("sum.hex")}).err,
                       "sum.hex: the file's checksum word 34F3 does not match its contents; 34FC "
                       "will be burnt\n"));
}
