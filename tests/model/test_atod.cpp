// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A/D derived quantities and the pin function rules, without a window.
#include <gtest/gtest.h>

#include "model/atod.h"
#include "model/gpio.h"

using namespace zk7;

TEST(AtoD, DerivedTextsTakeTheLocalesSeparatorAndRefuseAnUnknownClock) {
  EXPECT_EQ(AtoDConvRateText(20e6, 1, ','), "2,5");
  EXPECT_EQ(AutoConvTimeText(20e6, 0), "0.0512");
  EXPECT_THROW(AtoDConvRateMHz(4e6, 4), std::out_of_range);
}

TEST(AtoD, ThresholdCodesRoundTrip) {
  RegisterSet rs;
  for (int ch = 0; ch < kThresholdChannels; ++ch)
    for (int code : {0, 1, 2, 3, 4, 511, 512, 1022, 1023}) {
      SetThresholdCode(rs, ch, code);
      EXPECT_EQ(ThresholdCode(rs, ch), code);
      EXPECT_EQ(rs.reg(ThresholdLowRegister(ch)) & 0x3F, 0);
    }
  // Low bits 5:0 read from a file do not disturb the code.
  rs.set(ADCMP2H, 0x12);
  rs.set(ADCMP2L, 0x7F);
  EXPECT_EQ(ThresholdCode(rs, 2), 0x12 * 4 + 1);
  const RegisterSet before = rs;
  EXPECT_THROW(SetThresholdCode(rs, 0, 1024), RangeError);
  EXPECT_THROW(SetThresholdCode(rs, 0, -1), RangeError);
  EXPECT_EQ(rs, before);
}

TEST(AtoD, ReferenceTexts) {
  for (const auto& [text, v] : {std::pair{"3.3", 3.3}, {".5", 0.5}, {"2.", 2.0}})
    EXPECT_EQ(ParseReferenceVoltage(text), v) << text;
  for (const char* bad : {"", ".", "1.2.", "-1", "1e3", " 1"})
    EXPECT_FALSE(ParseReferenceVoltage(bad).has_value()) << bad;
}

TEST(Pins, SelectionTouchesOnlyItsPin) {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  for (int pin = 0; pin < kPinCount; ++pin)
    for (PinFunc f : {PinFunc::Digital, PinFunc::Analog, PinFunc::Special}) {
      RegisterSet t = rs;
      t.set(GPDDR, 0xA5);
      const RegisterSet before = t;
      SelectPinFunction(t, pin, f);
      if (!PinOffers(pin, f)) {
        EXPECT_EQ(t, before);
        continue;
      }
      EXPECT_EQ(ReadPinFunction(t, pin), f) << pin;
      EXPECT_EQ(t[GPDDR] & ~(1 << pin), before[GPDDR] & ~(1 << pin)) << pin;
      for (int other = 0; other < kPinCount; ++other) {
        if (other == pin) continue;
        EXPECT_EQ(ReadPinFunction(t, other), ReadPinFunction(before, other)) << pin;
      }
    }
  // nRST rewrites the configuration word without its high byte.
  rs.setConfigWord(0x1203);
  SelectPinFunction(rs, 7, PinFunc::Special);
  EXPECT_EQ(rs.ConfigWord(), 0x0007);
}
