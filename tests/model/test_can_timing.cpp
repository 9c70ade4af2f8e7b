// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "model/can_timing.h"

using namespace zk7;

TEST(CanTiming, FieldsTileTheirRegistersAndWriteOnlyTheirBits) {
  int cover[kRegisterCount] = {};
  for (const CanField* f :
       {&kSJW, &kBRP, &kBTLMODE, &kSAM, &kPhaseSeg1, &kPropSeg, &kWAKFIL, &kPhaseSeg2}) {
    EXPECT_EQ(cover[f->reg] & f->mask, 0) << "fields overlap in " << RegisterName(f->reg);
    cover[f->reg] |= f->mask;
    const int max = f->mask >> f->shift;
    for (int byte : {0x00, 0x5A, 0xA5, 0xFF}) {
      const std::uint8_t w = WithField(static_cast<std::uint8_t>(byte), *f, max);
      EXPECT_EQ(w & ~f->mask & 0xFF, byte & ~f->mask & 0xFF);
      EXPECT_EQ(FieldValue(w, *f), max);
      EXPECT_EQ(FieldValue(WithField(w, *f, 0), *f), 0);
    }
  }
  EXPECT_EQ(cover[CNF1], 0xFF);
  EXPECT_EQ(cover[CNF2], 0xFF);
  EXPECT_EQ(cover[CNF3], 0x47);  // bit 7 and bits 5:3 are not touched
}

TEST(CanTiming, WarningsNameEachBrokenRule) {
  EXPECT_EQ(TimingWarnings(1, 1, 1, 2, true), "");
  EXPECT_EQ(TimingWarnings(1, 8, 8, 1, true), "PS2 shorter than 2 TQ; PS2 not longer than SJW");
  EXPECT_EQ(TimingWarnings(4, 8, 8, 4, true), "PS2 not longer than SJW");
  EXPECT_EQ(TimingWarnings(1, 1, 2, 4, true), "PropSeg + PS1 shorter than PS2");
  // Without BTLMODE the controller takes PS2 = max(PS1, 2 TQ), whatever CNF3 holds.
  EXPECT_EQ(TimingWarnings(1, 8, 8, 1, false), "");
  EXPECT_EQ(TimingWarnings(1, 1, 2, 8, false), "");
  EXPECT_EQ(TimingWarnings(3, 8, 2, 8, false), "PS2 not longer than SJW");
}

TEST(CanIdentifier, SidlBits4To2NeverTakePart) {
  EXPECT_EQ(RawID(0x80, 0x1C, 0, 0, true), 0x10000000u);
  EXPECT_EQ(RawID(0x80, 0x1C, 0, 0, false), 0x400u);
  EXPECT_EQ(RawID(0xFF, 0xE3, 0xFF, 0xFF, true), 0x1FFFFFFFu);
  EXPECT_EQ(NormalisedSIDL(0xFF, true), 0xEB);
  EXPECT_EQ(NormalisedSIDL(0xFF, false), 0xE3);
}
