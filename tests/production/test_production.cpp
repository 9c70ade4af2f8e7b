// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The pre-burn check, serial numbers, the log and the run loop, on the emulated chip.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "files/atomicfile.h"
#include "model/named_fields.h"
#include "production/run.h"
#include "support/emulated_chip.h"
#include "support/file_size_limit.h"
#include "support/temp_dir.h"

namespace zk7 {
namespace {

class ProductionTest : public ::testing::Test, protected ChipBench {
 protected:
  TempDir tmp{"zk7_production"};
  const std::string log = tmp.path("log.csv");
};

TEST_F(ProductionTest, AChipHoldingAnotherConfigurationIsRefusedWithoutAPulse) {
  ASSERT_EQ(ProgramChip(prog, rs, image, true, cb).record.result, ChipResult::Passed);
  EXPECT_TRUE(CheckChip(prog, rs, image, cb).fit()) << "the same configuration again";

  RegisterSet other = rs;
  other.set(GPLAT, 0x5A);                      // 00 on the chip
  chip->setConfigWord(0x3FFC);                 // LP burnt already
  other.setConfigWord(WithOscMode(7, OscXT));  // needs bit 0 back
  chip->resetCounters();
  auto refused = ProgramChip(prog, other, image, true, cb);
  EXPECT_EQ(refused.record.result, ChipResult::Refused);
  EXPECT_EQ(chip->totalPulses(), 0);
  ASSERT_GE(refused.unfit.size(), 3u);  // GPLAT, the checksum, the configuration word
  EXPECT_EQ(refused.unfit[0].position, GPLAT);
  EXPECT_EQ(refused.unfit[0].chip, 0x3400);
  EXPECT_EQ(refused.unfit[0].wanted, 0x345A);
  EXPECT_EQ(refused.unfit.back().position, kConfigWordPosition);
  EXPECT_EQ(refused.record.position, "02");

  // Unchecked, the run burns the configuration word and fails there.
  const auto failed = ProgramChip(prog, other, image, false, cb);
  EXPECT_EQ(failed.record.result, ChipResult::Failed);
  EXPECT_EQ(failed.record.position, "config");
  EXPECT_GT(chip->totalPulses(), 0);
}

TEST_F(ProductionTest, TheEmulatedSocketTakesTheChipInItsFileAtEachChipsStartOnly) {
  const std::string file = tmp.path("chip.txt");  // no file yet: a blank chip
  EmulatorOptions socket;
  socket.chipFile = file;
  chip = UseEmulatedChip(port, socket);
  std::string error;
  RegisterSet other = rs;
  other.set(GPLAT, 0x5A);
  ASSERT_EQ(ProgramChip(prog, rs, image, true, cb).record.result, ChipResult::Passed);
  EXPECT_EQ(ProgramChip(prog, other, image, true, cb).record.result, ChipResult::Refused)
      << "the burnt chip is still in the socket";

  // The file deleted: a blank chip. Replaced during its check by a chip with GPLAT burnt to
  // 00: the burn still goes to the chip that was checked.
  std::remove(file.c_str());
  ChipMemory burnt;
  burnt.program[ChipMemory::kImageFirstAddress + GPLAT] = 0x3400;
  bool replaced = false;
  FlowCallbacks replacing = cb;
  replacing.wait = [&](int) {
    if (!replaced) replaced = AtomicWriteFile(file, FormatChipFile(burnt), error);
  };
  EXPECT_EQ(ProgramChip(prog, other, image, true, replacing).record.result, ChipResult::Passed);
  EXPECT_TRUE(replaced);

  // A file that is not a chip file: an empty socket, refused, and the port says why.
  ASSERT_TRUE(AtomicWriteFile(file, "garbage\n", error));
  chip->resetCounters();
  EXPECT_EQ(ProgramChip(prog, other, image, true, cb).record.result, ChipResult::Refused);
  EXPECT_EQ(chip->totalPulses(), 0);
  EXPECT_NE(port.accessProblem().find("chip file " + file + " line 1"), std::string::npos)
      << port.accessProblem();
  ASSERT_TRUE(AtomicWriteFile(file, FormatChipFile(burnt), error));
  EXPECT_EQ(ProgramChip(prog, other, image, true, cb).record.result, ChipResult::Refused);
  EXPECT_EQ(port.accessProblem(), "") << "a chip again";
}

TEST_F(ProductionTest, SerialRulesAndTheirContinuationFromTheLog) {
  SerialRule rule;
  std::string error;
  for (const char* bad : {"TXID0=100", "RXM=std:1", "TXID0=std:800", "TXID0=std:1:0", "USER0-8=0",
                          "USER3-2=0", "USER0=100", "GPLAT=1", "TXID0", "TXID0=std:100..",
                          "TXID0=std:1FF..std:100", "TXID0=std:100..1FF", "TXID0=std:1..ext:2",
                          "TXID0=std:100..std:800", "USER0-1=0100..00FF", "USER0=10..100"})
    EXPECT_FALSE(ParseSerialRule(bad, rule, error)) << bad;
  // A range: its text, its size, and the sentence when it is used up.
  struct Range {
    const char* text;
    std::uint64_t step, last, size;
    const char* usedUp;
  };
  for (const Range& r : {
           Range{"TXID0=std:100..std:1FF", 1, 0x1FF, 256,
                 "the serial range TXID0 std:100..std:1FF is used up (256 values)"},
           Range{"RXF0=ext:18FF0000:16..EXT:18FF0FFF", 16, 0x18FF0FFF, 256,
                 "the serial range RXF0 ext:18FF0000..ext:18FF0FFF is used up (256 values)"},
           Range{"USER0-3=00010000..0001FFFF", 1, 0x1FFFF, 0x10000,
                 "the serial range USER0-3 00010000..0001FFFF is used up (65536 values)"},
           Range{"TXID2=std:7FF", 1, 0x7FF, 1,
                 "the serial range TXID2 std:7FF..std:7FF is used up (1 value)"},
       }) {
    ASSERT_TRUE(ParseSerialRule(r.text, rule, error)) << r.text << error;
    EXPECT_EQ(rule.step, r.step) << r.text;
    EXPECT_EQ(rule.end(), r.last) << r.text;
    EXPECT_EQ(SerialValuesFrom(rule, rule.start), r.size) << r.text;
    EXPECT_EQ(SerialUsedUpText(rule), r.usedUp);
  }
  ASSERT_TRUE(ParseSerialRule("USER0-7=0", rule, error));
  EXPECT_EQ(SerialValuesFrom(rule, 0), ~std::uint64_t{0})
      << "2^64 values, counted without overflow";
  ASSERT_TRUE(ParseSerialRule("TXID1=std:7FE", rule, error)) << error;
  rs.set(TXID1EID8, 0x12);
  ASSERT_TRUE(ApplySerial(rule, 0x7FF, rs, error));
  EXPECT_EQ(ReadIdentifier(rs, 1), (Identifier{false, 0x7FF}));
  EXPECT_EQ(rs[TXID1EID8], 0x12) << "a standard identifier leaves EID8";
  EXPECT_FALSE(ApplySerial(rule, 0x800, rs, error));
  ASSERT_TRUE(ParseSerialRule("USER2-4=00FFFF:2", rule, error));
  ASSERT_TRUE(ApplySerial(rule, 0x010203, rs, error));
  EXPECT_EQ(rs.user(2), 1);
  EXPECT_EQ(rs.user(3), 2);
  EXPECT_EQ(rs.user(4), 3);

  // The log is the state: the next value follows every value a chip may hold
  // and (unless reused) every FAILED one; REFUSED and UNUSED values are free.
  const std::string base = LogHeader() +
                           "t,10001,PASSED,,00,0007,1\nt,10003,FAILED,2F,00,0007,1\n"
                           "t,10005,REFUSED,02,00,0007,1\n";
  struct Case {
    std::string tail;
    std::uint64_t next, nextReusingFailed;
    long long damaged, open;
  };
  const Case cases[] = {
      {"", 0x10005, 0x10003, 0, 0},
      {"t,10007,PASS", 0x10009, 0x10009, 1, 0},                  // torn: used whatever it says
      {"t,10007,RESERVED,,00,0007,\n", 0x10009, 0x10009, 0, 1},  // a chip may hold it
      {"t,10007,RESERVED,,00,0007,\nt,10007,UNUSED,stopped,00,0007,5\n", 0x10005, 0x10003, 0, 0},
      {"t,10007,RESERVED,,00,0007,\nt,10007,ABORTED,,00,0007,5\n", 0x10009, 0x10009, 0, 0},
      {"t,10007,RESERVED,,00,0007,\nt,10009,RESERVED,,00,0007,\nt,10009,PASSED,,00,0007,1\n",
       0x1000B, 0x1000B, 0, 1},
      {"garbage\nx,FFFFFFFF,PASSED\n", 0x10005, 0x10003, 2, 0},  // beyond the field: ignored
      {"# zk7prog production log, format 1: x\nt,1000B,PASSED,,00,0007,1\n", 0x1000D, 0x1000D, 0,
       0},
      {std::string(kMaxLogLineBytes + 10, 'x') + "\n", 0x10005, 0x10003, 1, 0},
  };
  for (const Case& c : cases) {
    LogContents contents;
    ASSERT_TRUE(ParseLog(base + c.tail, contents, error, RangeOf(rule))) << c.tail << error;
    EXPECT_EQ(*FirstSerial(rule, contents.use, false), c.next) << c.tail;
    EXPECT_EQ(*FirstSerial(rule, contents.use, true), c.nextReusingFailed) << c.tail;
    EXPECT_EQ(contents.damagedCount, c.damaged) << c.tail;
    EXPECT_EQ(contents.openReservationCount, c.open) << c.tail;
  }
  LogContents contents;
  ASSERT_TRUE(ParseLog(base + cases[2].tail, contents, error));
  EXPECT_EQ(LogNotes("l.csv", contents).back(),
            "l.csv: value 10007 was reserved at t and has no result: a chip may hold it");
  EXPECT_EQ(contents.total(ChipResult::Failed), 1);
  rule.start = 0x20000;
  EXPECT_EQ(*FirstSerial(rule, contents.use, false), 0x20000u);
  rule.start = 0xFFFFFF;
  EXPECT_FALSE(FirstSerial(rule, SerialUse{0xFFFFFF, {}}, true)) << "used up";
  for (const char* bad : {"time,serial\n", "# zk7prog production log, format 3: x\n",
                          "# zk7prog production log, format 2: x\n# zk7prog production log, "
                          "format 9: x\n"})
    EXPECT_FALSE(ParseLog(bad, contents, error)) << bad;
}

TEST_F(ProductionTest, NothingIsBurntWhenTheReservationCannotBeWritten) {
  ProductionPlan plan;
  plan.count = 3;
  plan.logPath = tmp.path();  // a folder: refused before any chip
  ProductionHooks hooks;
  hooks.flow = cb;
  int asked = 0;
  hooks.nextChip = [&](int) { return ++asked, true; };
  EXPECT_FALSE(RunProduction(prog, rs, plan, hooks).error.empty());
  EXPECT_EQ(asked, 0);

  // A format-1 log with a torn last line: its line end and a format-2 header come first.
  std::string error, text;
  ASSERT_TRUE(AtomicWriteFile(
      log, "# zk7prog production log, format 1: x\nt,1,PASSED,,00,0007,1\nt,2,PA", error));
  plan.logPath = log;
  ASSERT_TRUE(ParseSerialRule("RXF0=ext:0", plan.serial.emplace(), error));
  plan.check = false;  // the same emulated chip stands for every chip
  // The second chip's reservation cannot be written (the file may grow by 10 bytes only): it
  // gets no pulse, and the part that fitted is cut off again.
  FileSizeLimit limit;
  int pulsesBefore2 = -1;
  hooks.nextChip = [&](int n) {
    ++asked;
    struct stat st {};
    if (n == 2 && ::stat(log.c_str(), &st) == 0) {
      pulsesBefore2 = chip->totalPulses();
      limit.set(static_cast<rlim_t>(st.st_size) + 10);
    }
    return true;
  };
  const auto s = RunProduction(prog, rs, plan, hooks);
  EXPECT_EQ(asked, 2);
  EXPECT_EQ(chip->totalPulses(), pulsesBefore2);
  EXPECT_NE(s.error.find("nothing was burnt"), std::string::npos) << s.error;
  ASSERT_TRUE(ReadWholeFile(log, 1 << 20, text, error));
  EXPECT_NE(text.find("t,2,PA\n# zk7prog production log, format 2: "), std::string::npos) << text;
  LogContents contents;
  ASSERT_TRUE(ParseLog(text, contents, error));
  ASSERT_EQ(contents.recent.size(), 3u);
  EXPECT_EQ(contents.recent[1].result, ChipResult::Reserved) << "after the torn line's value";
  EXPECT_EQ(contents.recent[2].result, ChipResult::Passed) << "after the torn line's value";
  EXPECT_EQ(contents.recent[2].serial, 3u) << "after the torn line's value";
  EXPECT_EQ(contents.damagedCount, 1);
}

}  // namespace
}  // namespace zk7
