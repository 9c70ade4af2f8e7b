// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated chip driven by hand with data-register bytes, independently of the host
// operations, and the chip file format.
#include <gtest/gtest.h>

#include "programmer/programmer.h"
#include "sim/emulator.h"

namespace zk7 {
namespace {

// Data-register bytes in programming mode with every line on: clock enable,
// supply (active low), programming voltage, host data driver, nPRG low.
constexpr std::uint8_t kOn = 0x6C;
constexpr std::uint8_t kClock = 0x02;
constexpr std::uint8_t kDriver = 0x04;

class HandDriven : public ::testing::Test {
 protected:
  void SetUp() override {
    chip.setClock([this] { return nowNs; });
  }
  void bytes(std::initializer_list<std::uint8_t> values) {
    for (auto v : values) chip.write(0x378, v);
  }
  void enter() {
    bytes({0x50, 0x50, 0x70, 0x70, 0x74, 0x7C, 0x7C, 0x7C, 0x7C, 0x6C, 0x6C, 0x6C, 0x6C});
  }
  void exit() { bytes({0x64, 0x74, 0xF4}); }
  void bit(int b) {
    const auto d = static_cast<std::uint8_t>(b & 1);
    bytes({kOn | kClock, static_cast<std::uint8_t>(kOn | kClock | d),
           static_cast<std::uint8_t>(kOn | d)});
  }
  void send(int value, int n) {
    for (int k = 0; k < n; ++k) bit((value >> k) & 1);
  }
  void frame(int word) {
    bit(0);
    send(word, 14);
    bit(0);
  }
  int readWord() {
    send(0x04, 6);
    const std::uint8_t off = kOn & ~kDriver;
    chip.write(0x378, off);
    int word = 0;
    for (int k = 0; k < 16; ++k) {
      bytes({static_cast<std::uint8_t>(off | kClock), off});
      const bool high = chip.read(0x379) & 0x40;
      if (k >= 1 && k <= 14 && high) word |= 1 << (k - 1);
    }
    chip.write(0x378, kOn);
    return word;
  }
  void pulse(std::int64_t ns) {
    send(0x08, 6);
    nowNs += ns;
    send(0x0E, 6);
  }

  EmulatorDriver chip;
  std::int64_t nowNs = 0;
};

TEST_F(HandDriven, LoadsPulsesAndReadsAWord) {
  enter();
  ASSERT_TRUE(chip.inProgrammingMode());
  for (int k = 0; k < 16 + 3; ++k) send(0x06, 6);
  EXPECT_EQ(readWord(), 0x34FF);
  send(0x02, 6);
  frame(0x3412);
  pulse(999999);  // too short
  EXPECT_EQ(chip.imageWord(3), 0x34FF);
  EXPECT_EQ(chip.shortPulses(), 1);
  pulse(1000000);
  EXPECT_EQ(chip.imageWord(3), 0x3412);
  EXPECT_EQ(readWord(), 0x3412);
  // OTP: a word with bits that would have to rise only loses the bits it may.
  send(0x02, 6);
  frame(0x34F0);
  pulse(2000000);
  EXPECT_EQ(readWord(), 0x3410);
  EXPECT_EQ(chip.pulses(3), 2);
  EXPECT_EQ(chip.protocolErrors(), 0);
  exit();
  EXPECT_FALSE(chip.inProgrammingMode());
  EXPECT_FALSE(chip.powered());
}

TEST_F(HandDriven, ConfigurationWordSevenStepsAfterLoadConfiguration) {
  chip.setStuckBit(kConfigPosition, 2);
  enter();
  send(0x00, 6);
  frame(0x3FF8);
  for (int k = 0; k < 7; ++k) send(0x06, 6);
  pulse(1000000);
  EXPECT_EQ(readWord(), 0x3FFC);
  EXPECT_EQ(chip.configWord(), 0x3FFC);
  exit();
  // Entering again resets the address: image position 0 is 16 steps away.
  enter();
  for (int k = 0; k < 16; ++k) send(0x06, 6);
  EXPECT_EQ(readWord(), 0x34FF);
}

TEST_F(HandDriven, SupplyWithoutProgrammingVoltageFirstIsNoProgrammingMode) {
  bytes({0x50, 0x70, 0x74, 0x64, 0x6C});  // VDD on, then VPP
  EXPECT_FALSE(chip.inProgrammingMode());
  send(0x06, 6);
  EXPECT_EQ(readWord(), 0x3FFF);  // nobody answers: the line floats high
}

// Its own format, with comments and CR LF, is read (the writer's output is in the fuzz corpus).
TEST(EmulatorChipFile, ParserTakesOnlyItsOwnFormat) {
  ChipMemory back;
  std::string error;
  ASSERT_TRUE(ParseChipFile("# note\r\n\n0010 3fff\r\n2007 3FF9", back, error)) << error;
  EXPECT_EQ(back.program[0x10], 0x3FFF);
  EXPECT_EQ(back.config[7], 0x3FF9);
  for (const char* bad :
       {"0010 100003400", "+3412", "0x10 3400", "0010 0x34", "010 3400", "0010  3400", "0010 3400 ",
        "0010 4000", "0080 3400", "2008 3FFF", "0010 3400\n0010 3400"}) {
    ChipMemory kept = back;
    EXPECT_FALSE(ParseChipFile(bad, kept, error)) << bad;
    EXPECT_EQ(kept, back) << bad << ": " << error;
    EXPECT_EQ(error.rfind("line ", 0), 0) << bad << ": " << error;
  }
}

}  // namespace
}  // namespace zk7
