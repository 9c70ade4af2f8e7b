// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The flows against the emulated chip, on the parallel port and behind the
// simulated USB adapter through libftdi; time passes only through the flows'
// waits or the simulated bus's virtual clock.
#include <gtest/gtest.h>

#include <tuple>

#include "model/format.h"
#include "model/image.h"
#include "support/emulated_chip.h"
#include "usb_rig.h"

namespace zk7 {
namespace {

// The parameter says whether the chip sits behind the simulated USB adapter.
class FlowTest : public ::testing::TestWithParam<bool>, protected ChipBench {
 protected:
  void SetUp() override {
    if (GetParam()) {
      if (!FtdiUnavailableReason().empty()) GTEST_SKIP() << "built without libftdi";
      usb = std::make_unique<UsbRig>();
      std::string error;
      auto driver = usb->driver(error);
      ASSERT_TRUE(driver) << error;
      port.setDriver(std::move(driver));
      chip = &usb->device.emulator();
    }
    cb.wait = [this](int ms) { waitedMs += ms; };
    cb.progress = [this](int i) { lastProgress = i; };
  }

  int firstWordNotFF() {
    BuildMemoryImage(rs, image);
    int pos = 0;
    while (image.MemMap[pos] == 255) ++pos;
    return pos;
  }

  std::unique_ptr<UsbRig> usb;  // the chip behind the simulated adapter, through libftdi
  long waitedMs = 0;
  int lastProgress = -1;
};

TEST_P(FlowTest, ProgramsDefaultConfigurationAndReadsItBack) {
  const FlowResult r = program();
  ASSERT_EQ(r.status, FlowResult::Passed) << r.title << " / " << r.text;
  EXPECT_FALSE(chip->inProgrammingMode());
  EXPECT_FALSE(prog.inProgrammingMode());
  EXPECT_EQ(chip->protocolErrors() + chip->shortPulses(), 0);
  EXPECT_EQ(lastProgress, 69);
  int pulsed = 0;
  for (int i = 0; i < kImageSize; ++i) {
    pulsed += image.MemMap[i] < 255;
    EXPECT_EQ(chip->imageWord(i), 0x3400 + image.MemMap[i]) << i;
    // A word that takes on the first pulse gets three more; 0xFF gets none.
    EXPECT_EQ(chip->pulses(i), image.MemMap[i] < 255 ? 4 : 0) << i;
  }
  EXPECT_EQ(chip->configWord(), 0x3FFF);
  EXPECT_EQ(chip->pulses(kConfigPosition), 100);
  // Waits: 1 ms per pulse plus 10 and 100, on the host's clock either way;
  // behind USB the adapter's clock shows them too (no short pulse above).
  const long required = 100 + 4 * pulsed + 110;
  EXPECT_EQ(waitedMs, required);
  if (usb) {
    EXPECT_GE(usb->bus.nowNs(), required * 1000000);
  }

  MemoryImage back;
  ASSERT_TRUE(prog.ReadImageWords(back, cb).ok());
  EXPECT_EQ(back.MemMap, image.MemMap);
  EXPECT_FALSE(chip->inProgrammingMode());
}

TEST_P(FlowTest, ConfigWordBitsAreBurntComparedAndAMismatchReported) {
  // 255 and more: no pulses; the blank word's low bits (7) compare equal.
  rs.setConfigWord(0x00FF);
  ASSERT_TRUE(program().ok());
  EXPECT_EQ(chip->pulses(kConfigPosition), 0);
  rs.setConfigWord(5);
  ASSERT_TRUE(program().ok());
  std::uint16_t cw = 0;
  ASSERT_TRUE(prog.ReadChipConfigWord(cw, cb).ok());
  EXPECT_EQ(cw, 0x3FFD);

  rs.setConfigWord(4);
  chip->setStuckBit(kConfigPosition, 0);  // reads back 5
  chip->resetCounters();
  const FlowResult r = program();
  EXPECT_EQ(r.status, FlowResult::Failed);
  EXPECT_EQ(r.title, "Failed to Program Config. Word");
  EXPECT_EQ(r.text, "Failed to Program Configuration Word!\r\nExpected: 4\r\nRead: 5");
  EXPECT_FALSE(chip->inProgrammingMode());
  EXPECT_EQ(chip->pulses(0), 0);  // the image is not touched
}

TEST_P(FlowTest, WordTakingOnPulse25IsOverProgrammedAndOn26Fails) {
  const int first = firstWordNotFF(), pos = 0x2F;
  ASSERT_LT(image.MemMap[pos], 255);
  chip->setPulsesNeeded(first, 25);
  chip->setPulsesNeeded(pos, 26);
  const FlowResult r = program();
  EXPECT_EQ(chip->pulses(first), 100);  // 25 + 75
  EXPECT_EQ(r.status, FlowResult::Failed);
  // The 26th read matched, yet the run fails at that word.
  EXPECT_EQ(chip->imageWord(pos), 0x3400 + image.MemMap[pos]);
  EXPECT_EQ(chip->pulses(pos), 26);
  EXPECT_EQ(r.title, "Failed to Program Address 2F");
  EXPECT_EQ(r.text,
            "Failed to Program Register: 2F\r\nExpected: " + HexNoPad(0x3400u + image.MemMap[pos]) +
                "\r\nRead: " + HexNoPad(0x3400u + image.MemMap[pos]));
  EXPECT_FALSE(chip->inProgrammingMode());
  EXPECT_EQ(chip->pulses(pos + 1), 0);
  EXPECT_EQ(lastProgress, pos - 1);
}

TEST_P(FlowTest, SecondProgrammingFailsAtFirstWordWhoseBitsMustRise) {
  ASSERT_TRUE(program().ok());
  // Entry 3 (FF, never burnt) only loses a bit, which is fine; OPTREG1 (F0) would need four back.
  rs.setEntry(3, 0xFE);
  rs.set(OPTREG1, 0xFF);
  const FlowResult r = program();
  ASSERT_EQ(r.status, FlowResult::Failed);
  EXPECT_EQ(r.title, "Failed to Program Address 4");
  EXPECT_NE(r.text.find("Read: 34F0"), std::string::npos) << r.text;
}

TEST_P(FlowTest, MissingChipOrCableFailsAtTheConfigurationWordOrTheFirstWord) {
  using E = EmulatorOptions;
  const std::tuple<E::Fault, std::int16_t, const char*> cases[] = {{E::NoChipHigh, 5, "7"},
                                                                   {E::NoChipLow, 7, "0"},
                                                                   {E::NoCable, 7, "0"},
                                                                   {E::WrongAddress, 4, "7"}};
  for (const auto& [fault, configWord, read] : cases) {
    chip->setFault(fault);
    rs.setConfigWord(configWord);
    const FlowResult r = program();
    EXPECT_EQ(r.title, "Failed to Program Config. Word") << fault;
    EXPECT_EQ(r.text.substr(r.text.rfind("Read: ")), std::string("Read: ") + read) << fault;
  }
  // A missing chip reads all ones: configuration word 7 passes, the first word not FF fails.
  chip->setFault(EmulatorOptions::NoChipHigh);
  rs.setConfigWord(7);
  const FlowResult r = program();
  EXPECT_EQ(r.title, "Failed to Program Address " + HexNoPad(firstWordNotFF()));
  EXPECT_NE(r.text.find("Read: 3FFF"), std::string::npos);
}

TEST_P(FlowTest, SecondFlowIsRefusedWhileOneRuns) {
  FlowResult inner;
  std::uint16_t cw = 0xABCD;
  MemoryImage other;
  other.MemMap.fill(7);
  bool asked = false;
  cb.progress = [&](int i) {
    if (i != 3 || asked) return;
    asked = true;
    inner = prog.ReadChipConfigWord(cw, cb);
    EXPECT_EQ(prog.ReadImageWords(other, cb).status, FlowResult::Busy);
  };
  EXPECT_TRUE(program().ok());
  EXPECT_EQ(inner.status, FlowResult::Busy);
  EXPECT_EQ(inner.text, BusyText());
  EXPECT_EQ(cw, 0xABCD);
  EXPECT_EQ(other.MemMap[0], 7);
  EXPECT_FALSE(prog.busy());
}

TEST_P(FlowTest, AbortLeavesProgrammingModeAndRestoresARead) {
  ASSERT_TRUE(program().ok());
  cb.progress = [&](int i) {
    if (i == 10) prog.requestAbort();
  };
  rs.setConfigWord(0xFF);
  EXPECT_EQ(program().status, FlowResult::Aborted);
  EXPECT_FALSE(chip->inProgrammingMode());
  EXPECT_FALSE(prog.inProgrammingMode());
  EXPECT_FALSE(prog.busy());

  MemoryImage shown;
  shown.MemMap.fill(0x55);
  FlowCallbacks rcb;
  rcb.byteArrived = [&](int i, std::uint8_t) {
    if (i == 5) prog.requestAbort();
  };
  EXPECT_EQ(prog.ReadImageWords(shown, rcb).status, FlowResult::Aborted);
  EXPECT_EQ(shown.MemMap[0], 0x55);
  EXPECT_FALSE(chip->inProgrammingMode());
  // An abort asked for while idle does not stop the next flow.
  prog.requestAbort();
  EXPECT_TRUE(prog.ReadImageWords(shown, FlowCallbacks{}).ok());
  // Within a chip's sequence it holds from its check to its burn, which then touches nothing.
  {
    const ChipSequence sequence(prog);
    prog.requestAbort();
    chip->resetCounters();
    EXPECT_EQ(program().status, FlowResult::Aborted);
    EXPECT_EQ(chip->programmingModeEntries(), 0);
  }
  EXPECT_TRUE(prog.ReadImageWords(shown, FlowCallbacks{}).ok());
}

INSTANTIATE_TEST_SUITE_P(BothPaths, FlowTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Usb" : "Parallel"; });

TEST(ResultBlink, LastsAsLongAsTheOriginalAndEndsRight) {
  int ms = 0;
  for (const auto& step : ResultBlinkSequence(FlowResult::Passed)) ms += step.waitMs;
  EXPECT_EQ(ms, 1750);
  EXPECT_EQ(ResultBlinkSequence(FlowResult::Passed).back().caption, "PASSED");
  EXPECT_EQ(ResultBlinkSequence(FlowResult::Failed).back().caption, "");
  EXPECT_TRUE(ResultBlinkSequence(FlowResult::Busy).empty());
}

}  // namespace
}  // namespace zk7
