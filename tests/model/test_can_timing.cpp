#include <gtest/gtest.h>

#include "model/can_timing.h"
#include "model/format.h"

using namespace zk7;

TEST(CanTiming, BitTimeInTheOrderOfComputation) {
  EXPECT_EQ(FormatNumber(BitTimeUs(0, 5, 4000000.0)), "2.5");
  EXPECT_EQ(FormatNumber(BitTimeUs(4, 10, 20000000.0)), "5");
  // TQ first, then microseconds, then the count: the double lands just below 3.2.
  const double t = BitTimeUs(0, 16, 10000000.0);
  EXPECT_LT(t, 3.2);
  EXPECT_EQ(FormatNumber(t), "3.2");
  EXPECT_EQ(FormatNumber(BitRateKbps(BitTimeUs(0, 5, 4000000.0))), "400");
  // No oscillator: no value rather than infinity.
  EXPECT_EQ(FormatNumber(BitTimeUs(0, 5, 0.0)), NoValue());
  EXPECT_EQ(FormatNumber(BitRateKbps(BitTimeUs(0, 5, 0.0))), NoValue());
  EXPECT_DOUBLE_EQ(SamplePointPercent(1, 1, 5), 60.0);
}

TEST(CanTiming, FieldsTileTheirRegistersAndWriteOnlyTheirBits) {
  const CanField* fields[] = {&kSJW,       &kBRP,     &kBTLMODE, &kSAM,
                              &kPhaseSeg1, &kPropSeg, &kWAKFIL,  &kPhaseSeg2};
  int cover[kRegisterCount] = {};
  for (const CanField* f : fields) {
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

  RegisterSet rs;
  SetDefaultRegisters(rs);
  CanBitTiming t = DecodeBitTiming(rs);
  EXPECT_EQ(t.sjw, 1);
  EXPECT_EQ(t.brp, 0);
  EXPECT_EQ(NumTQ(t.prop, t.ps1, t.ps2), 5);
  rs.set(CNF1, 0xC5);
  rs.set(CNF2, 0xFA);
  rs.set(CNF3, 0x40);
  t = DecodeBitTiming(rs);
  EXPECT_EQ(t.sjw, 4);
  EXPECT_EQ(t.brp, 5);
  EXPECT_EQ(t.prop, 3);
  EXPECT_EQ(t.ps1, 8);
  EXPECT_EQ(t.ps2, 1);
  EXPECT_TRUE(t.sam && t.btlmode && t.wakfil);
}

TEST(CanTiming, WarningsNameEachBrokenRule) {
  EXPECT_EQ(TimingWarnings(1, 1, 1, 2), "");
  EXPECT_EQ(TimingWarnings(1, 8, 8, 1), "PS2 shorter than 2 TQ; PS2 not longer than SJW");
  EXPECT_EQ(TimingWarnings(4, 8, 8, 4), "PS2 not longer than SJW");
  EXPECT_EQ(TimingWarnings(1, 1, 2, 4), "PropSeg + PS1 shorter than PS2");
}

TEST(CanIdentifier, RawIdAndSidlLayout) {
  EXPECT_EQ(RawID(0xFF, 0xEB, 0xFF, 0xFF, true), 0x1FFFFFFFu);
  EXPECT_EQ(RawID(0xFF, 0xE3, 0xFF, 0xFF, false), 0x7FFu);
  EXPECT_EQ(RawID(0x12, 0x43, 0xAA, 0xBB, false), 0x92u);
  EXPECT_EQ(RawID(0x00, 0x0B, 0x00, 0x01, true), 0x30001u);
  // SIDL bits 4:2 never take part; the type comes from the caller.
  EXPECT_EQ(RawID(0x80, 0x1C, 0, 0, true), 0x10000000u);
  EXPECT_EQ(RawID(0x80, 0x1C, 0, 0, false), 0x400u);

  EXPECT_EQ(NormalisedSIDL(0x5F, false), 0x43);
  EXPECT_EQ(NormalisedSIDL(0x03, true), 0x0B);
  EXPECT_EQ(NormalisedSIDL(0xFF, true), 0xEB);
  EXPECT_EQ(NormalisedSIDL(0xEB, false), 0xE3);

  RegisterSet rs;
  SetDefaultRegisters(rs);
  for (int id = 0; id < kCanIdCount; ++id) {
    EXPECT_EQ(RawID(rs, id, true), 0x1FFFFFFFu);
    EXPECT_EQ(std::string(RegisterName(CanIdReg(id, EID0))), std::string(kCanIdName[id]) + "EID0");
  }
}
