// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Programmer lines and operations, checked on the bytes that reach the port.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <tuple>
#include <vector>

#include "programmer/programmer.h"

namespace zk7 {
namespace {

struct Access {
  char kind;  // 'W' write, 'R' read, 'D' wait
  std::uint16_t address;
  int value;
};

class RecordingDriver : public PortDriver {
 public:
  explicit RecordingDriver(std::vector<Access>& log) : log_(log) {}
  std::function<std::uint8_t()> status = [] { return std::uint8_t{0x80}; };
  std::uint8_t read(std::uint16_t address) override {
    const std::uint8_t v = status();
    log_.push_back({'R', address, v});
    return v;
  }
  void write(std::uint16_t address, std::uint8_t value) override {
    log_.push_back({'W', address, value});
  }
  void waited(int ms) override { log_.push_back({'D', 0, ms}); }
  std::string name() const override { return "recorder"; }

 private:
  std::vector<Access>& log_;
};

class LinesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto d = std::make_unique<RecordingDriver>(log);
    driver = d.get();
    port.setDriver(std::move(d));
    prog.InitLPTPort(0x378);
    prog.setCallbacks(FlowCallbacks{[](int) {}, nullptr, nullptr, nullptr, nullptr});
  }
  std::vector<int> writes() const {
    std::vector<int> w;
    for (const auto& a : log) a.kind == 'W' ? w.push_back(a.value) : void();
    return w;
  }
  int count(char kind) const {
    return static_cast<int>(
        std::count_if(log.begin(), log.end(), [&](auto& a) { return a.kind == kind; }));
  }
  // The bits a chip takes: the data line at every falling edge of the enabled clock.
  std::vector<int> bitsTaken() const {
    std::vector<int> bits;
    int last = lastShadow;
    for (const auto& a : log) {
      if (a.kind != 'W') continue;
      const bool wasHigh = (last & 0x22) == 0x22, isHigh = (a.value & 0x22) == 0x22;
      if (wasHigh && !isHigh) bits.push_back(a.value & 1);
      last = a.value;
    }
    return bits;
  }
  static int Value(const std::vector<int>& bits, int from, int n) {
    int v = 0;
    for (int k = 0; k < n; ++k) v |= bits.at(static_cast<std::size_t>(from + k)) << k;
    return v;
  }
  // A command followed by a host frame: checks the start and stop bits, returns the word.
  int frameWord(int expectedCommand) {
    const auto bits = bitsTaken();
    EXPECT_EQ(bits.size(), 22u);
    EXPECT_EQ(Value(bits, 0, 6), expectedCommand);
    EXPECT_EQ(bits.at(6), 0);
    EXPECT_EQ(bits.at(21), 0);
    return Value(bits, 7, 14);
  }
  void clear() {
    log.clear();
    lastShadow = prog.lineShadow();
  }

  std::vector<Access> log;
  RecordingDriver* driver = nullptr;
  Port port;
  Programmer prog{port};
  int lastShadow = 0xD0;
};

TEST_F(LinesTest, FirstLineChangesStartFromAllLinesOff) {
  EXPECT_EQ(prog.lineShadow(), 0xD0);
  prog.SetProgLine("CLKOUT_1");
  Programmer other(port);
  other.SetProgLine("VDD_ON");
  Programmer third(port);
  third.SetProgLine("no such line");
  third.SetProgLine("vpp_on");  // names are case-sensitive
  third.SetProgLine("VPP_ON");
  third.SetProgLine("VPP_ON");
  EXPECT_EQ(writes(), (std::vector<int>{0xD2, 0xC0, 0xD0, 0xD0, 0xD8, 0xD8}));
  for (const auto& a : log) EXPECT_EQ(a.address, 0x378);
}

TEST_F(LinesTest, CheckLPTReadsStatusOnceAndWarnsOnlyForCableOrAddress) {
  prog.InitLPTPort(0x3BC);
  EXPECT_TRUE(log.empty());  // choosing a port writes nothing
  const char* cable = "LPT Cable Not Connected";
  const std::pair<std::uint8_t, const char*> cases[] = {
      {0xFF, "Wrong LPT Address"}, {0x3F, cable}, {0x78, cable}, {0x80, ""}, {0x10, ""}};
  for (const auto& [status, said] : cases) {
    log.clear();
    driver->status = [&, status = status] { return status; };
    std::string title, text;
    prog.CheckLPT([&](const std::string& t, const std::string& x) {
      title = t;
      text = x;
    });
    EXPECT_EQ(text, said) << int(status);
    EXPECT_EQ(title, *said ? "Check Parallel Port" : "");
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].kind, 'R');
    EXPECT_EQ(log[0].address, 0x3BD);
  }
}

TEST_F(LinesTest, ByteSequencesAndAccessCountsPerOperation) {
  prog.EnterProgMode();
  prog.ExitProgMode();
  EXPECT_EQ(writes(), (std::vector<int>{0x50, 0x50, 0x70, 0x70, 0x74, 0x7C, 0x7C, 0x7C, 0x7C, 0x6C,
                                        0x6C, 0x6C, 0x6C, 0x64, 0x74, 0xF4}));
  EXPECT_EQ(count('R'), 0);
  prog.EnterProgMode();
  struct Case {
    const char* name;
    std::function<void()> op;
    int writes, reads, waits;
  };
  const Case cases[] = {
      {"LoadConfig", [&] { prog.LoadConfig(3); }, 67, 0, 0},
      {"LoadData", [&] { prog.LoadData(0x5A); }, 67, 0, 0},
      {"ReadData", [&] { prog.ReadData(); }, 53, 14, 0},
      {"IncAddress(0)", [&] { prog.IncAddress(0); }, 1, 0, 0},
      {"IncAddress(-3)", [&] { prog.IncAddress(-3); }, 1, 0, 0},
      {"IncAddress(7)", [&] { prog.IncAddress(7); }, 141, 0, 0},
      {"ProgramCycle", [&] { prog.ProgramCycle(); }, 37, 0, 1},
      {"ExitProgMode", [&] { prog.ExitProgMode(); }, 3, 0, 0},
  };
  for (const auto& c : cases) {
    clear();
    c.op();
    EXPECT_EQ((std::vector<int>{count('W'), count('R'), count('D')}),
              (std::vector<int>{c.writes, c.reads, c.waits}))
        << c.name;
  }
}

TEST_F(LinesTest, FramesCarryTheWordsLeastSignificantBitFirstAndPulsesWaitBetweenCommands) {
  prog.EnterProgMode();
  // Command 0 loads the configuration word, command 2 a data word.
  const std::tuple<int, int, int> frames[] = {
      {0, 255, 0x3FFF},  {0, 7, 0x3FFF},     {0, 4, 0x3FFC},   {0, 0, 0x3FF8},
      {2, 0x12, 0x3412}, {2, 0x1FF, 0x34FF}, {2, 0x80, 0x3480}};
  for (const auto& [command, value, word] : frames) {
    clear();
    command ? prog.LoadData(value) : prog.LoadConfig(value);
    EXPECT_EQ(frameWord(command), word) << value;
  }
  // A pulse: two commands around a 1 ms wait.
  clear();
  prog.ProgramCycle();
  const auto bits = bitsTaken();
  ASSERT_EQ(bits.size(), 12u);
  EXPECT_EQ(Value(bits, 0, 6), 0x08);
  EXPECT_EQ(Value(bits, 6, 6), 0x0E);
  ASSERT_EQ(log.at(19).kind, 'D');
  EXPECT_EQ(log.at(19).value, 1);
}

TEST_F(LinesTest, ReadDataSamplesAfterTheFallingEdgeWithTheDriverOff) {
  prog.EnterProgMode();
  const int pattern = 0x2A5B;
  int bit = 0;
  driver->status = [&] {
    return static_cast<std::uint8_t>(0x80 | (((pattern >> bit++) & 1) ? 0x40 : 0));
  };
  clear();
  EXPECT_EQ(prog.ReadData(), pattern);
  EXPECT_EQ(Value(bitsTaken(), 0, 6), 0x04);
  int last = lastShadow;
  for (const auto& a : log) {
    if (a.kind == 'R') {
      EXPECT_EQ(a.address, 0x379);
      EXPECT_EQ(last & 0x06, 0);  // clock low, host driver off
    } else {
      last = a.value;
    }
  }
  EXPECT_EQ(last & 0x04, 0x04);  // the host drives the line again at the end

  int events = 0;
  prog.setCallbacks(FlowCallbacks{[](int) {}, [&] { ++events; }, nullptr, nullptr, nullptr});
  driver->status = [] { return std::uint8_t{0xFF}; };
  EXPECT_EQ(prog.ReadData(), 0x3FFF);
  EXPECT_EQ(events, 2);
  driver->status = [] { return std::uint8_t{0xBF}; };
  EXPECT_EQ(prog.ReadData(), 0);
}

TEST(PreciseSleep, WaitsAtLeastTheTimeAndUsuallyLittleMore) {
  using Clock = std::chrono::steady_clock;
  int calls = 0;
  std::vector<long> overshootUs;
  for (int k = 0; k < 15; ++k) {
    const auto t0 = Clock::now();
    PreciseSleepMs(1, [&] { ++calls; });
    const auto us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0);
    EXPECT_GE(us.count(), 1000);
    overshootUs.push_back(us.count() - 1000);
  }
  // The median, so a loaded machine's odd late wake-up does not count.
  std::sort(overshootUs.begin(), overshootUs.end());
  EXPECT_LT(overshootUs[7], 500);
  EXPECT_GE(calls, 15);
}

}  // namespace
}  // namespace zk7
