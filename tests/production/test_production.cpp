// The pre-burn check, serial numbers, the log and the run loop, on the emulated chip.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files/atomicfile.h"
#include "model/named_fields.h"
#include "production/run.h"
#include "port/emulator.h"

namespace zk7 {
namespace {

class ProductionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto driver = std::make_unique<EmulatorDriver>();
    chip = driver.get();
    chip->useWaitClock();
    port.setDriver(std::move(driver));
    prog.InitLPTPort(0x378);
    SetDefaultRegisters(rs);
    cb.wait = [](int) {};
    log = ::testing::TempDir() + "zk7_log_" + std::to_string(getpid()) + ".csv";
    std::remove(log.c_str());
  }
  Port port;
  Programmer prog{port};
  EmulatorDriver* chip = nullptr;
  RegisterSet rs;
  MemoryImage image;
  FlowCallbacks cb;
  std::string log;
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
  EXPECT_TRUE(refused.unfit[0].position == GPLAT && refused.unfit[0].chip == 0x3400 &&
              refused.unfit[0].wanted == 0x345A);
  EXPECT_EQ(refused.unfit.back().position, kConfigWordPosition);
  EXPECT_EQ(refused.record.position, "02");

  // Unchecked, the run burns the configuration word and fails there.
  const auto failed = ProgramChip(prog, other, image, false, cb);
  EXPECT_TRUE(failed.record.result == ChipResult::Failed && failed.record.position == "config");
  EXPECT_GT(chip->totalPulses(), 0);
}

TEST_F(ProductionTest, SerialRulesAndTheirContinuationFromTheLog) {
  SerialRule rule;
  std::string error;
  for (const char* bad : {"TXID0=100", "RXM=std:1", "TXID0=std:800", "TXID0=std:1:0", "USER0-8=0",
                          "USER3-2=0", "USER0=100", "GPLAT=1", "TXID0"})
    EXPECT_FALSE(ParseSerialRule(bad, rule, error)) << bad;
  ASSERT_TRUE(ParseSerialRule("TXID1=std:7FE", rule, error)) << error;
  rs.set(TXID1EID8, 0x12);
  ASSERT_TRUE(ApplySerial(rule, 0x7FF, rs, error));
  EXPECT_EQ(ReadIdentifier(rs, 1), (Identifier{false, 0x7FF}));
  EXPECT_EQ(rs[TXID1EID8], 0x12) << "a standard identifier leaves EID8";
  EXPECT_FALSE(ApplySerial(rule, 0x800, rs, error));
  ASSERT_TRUE(ParseSerialRule("USER2-4=00FFFF:2", rule, error));
  ASSERT_TRUE(ApplySerial(rule, 0x010203, rs, error));
  EXPECT_TRUE(rs.user(2) == 1 && rs.user(3) == 2 && rs.user(4) == 3);

  // The log is the state: after the values PASSED and (unless reused) FAILED;
  // REFUSED chips got nothing; a torn last line still counts its value.
  LogContents contents;
  ASSERT_TRUE(ParseLog(LogHeader() + "t,10001,PASSED,,00,0007,1\nt,10003,FAILED,2F,00,0007,1\n"
                                     "t,10005,REFUSED,02,00,0007,1\nt,10007,PASS",
                       contents, error));
  EXPECT_EQ(contents.damagedLines, std::vector<int>{5});
  EXPECT_EQ(*FirstSerial(rule, contents, false), 0x10009u);
  EXPECT_EQ(*FirstSerial(rule, contents, true), 0x10003u);
  rule.start = 0x20000;
  EXPECT_EQ(*FirstSerial(rule, contents, false), 0x20000u);
  rule.start = 0xFFFFFF;
  contents.records[0].serial = 0xFFFFFF;
  EXPECT_FALSE(FirstSerial(rule, contents, true)) << "used up";
  EXPECT_FALSE(ParseLog("time,serial\n", contents, error));
  EXPECT_FALSE(ParseLog("# zk7prog production log, format 2: x\n", contents, error));
}

TEST_F(ProductionTest, TheRunStopsBeforeTheNextChipWhenTheLogCannotBeWritten) {
  ProductionPlan plan;
  plan.count = 3;
  plan.logPath = ::testing::TempDir();  // a folder: refused before any chip
  ProductionHooks hooks;
  hooks.flow = cb;
  int asked = 0;
  hooks.nextChip = [&](int) { return ++asked, true; };
  EXPECT_FALSE(RunProduction(prog, rs, plan, hooks).error.empty());
  EXPECT_EQ(asked, 0);

  // A torn last line gets its line end before the next record.
  std::string error, text;
  ASSERT_TRUE(AtomicWriteFile(log, LogHeader() + "t,1,PASSED,,00,0007,1\nt,2,PA", error));
  plan.logPath = log;
  {
    ProductionLog other;  // another run holds the log
    ASSERT_TRUE(other.open(log, error)) << error;
    EXPECT_NE(RunProduction(prog, rs, plan, hooks).error.find("in use"), std::string::npos);
  }
  ASSERT_TRUE(ParseSerialRule("RXF0=ext:0", plan.serial.emplace(), error));
  plan.check = false;  // the same emulated chip stands for every chip
  // The second line fails to write (the file may not grow): no third chip.
  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  hooks.nextChip = [&](int n) {
    ++asked;
    struct stat st {};
    if (n == 2 && ::stat(log.c_str(), &st) == 0) {
      const rlimit limit{static_cast<rlim_t>(st.st_size), saved.rlim_max};
      setrlimit(RLIMIT_FSIZE, &limit);
    }
    return true;
  };
  const auto s = RunProduction(prog, rs, plan, hooks);
  setrlimit(RLIMIT_FSIZE, &saved);
  EXPECT_EQ(asked, 2);
  EXPECT_NE(s.error.find("cannot write"), std::string::npos) << s.error;
  ASSERT_TRUE(ReadWholeFile(log, 1 << 20, text, error));
  LogContents contents;
  ASSERT_TRUE(ParseLog(text, contents, error));
  ASSERT_EQ(contents.records.size(), 2u);
  EXPECT_EQ(*contents.records[1].serial, 3u) << "after the torn line's value";
  EXPECT_EQ(contents.damagedLines, std::vector<int>{3});
}

}  // namespace
}  // namespace zk7
