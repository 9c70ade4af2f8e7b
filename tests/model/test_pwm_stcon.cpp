#include <gtest/gtest.h>

#include <cmath>

#include "model/format.h"
#include "model/pwm.h"
#include "model/registers.h"
#include "model/stcon.h"

using namespace zk7;

namespace {
std::string Figure(double v) {
  return FormatNumber(v);
}

PwmFigures Figures(int pr, int dc, int prescale, double fosc, int module = 1) {
  RegisterSet rs;
  const PwmModule& m = PwmModuleOf(module);
  rs.set(m.pr, pr);
  rs.set(m.dch, PwmDutyHigh(dc));
  rs.set(m.con, WithPwmDutyLow(rs[m.con], dc));
  PwmFigures f{};
  EXPECT_TRUE(ComputePwmFigures(rs, module, prescale, fosc, f));
  return f;
}
}  // namespace

TEST(PwmModel, TwentyMegahertzExample) {
  PwmFigures f = Figures(0xFF, 512, 1, 20000000.0);
  EXPECT_EQ(Figure(f.periodUs), "51.2");
  EXPECT_EQ(Figure(f.frequencyKHz), "19.53125");
  EXPECT_EQ(Figure(f.resolution), "10");
  EXPECT_EQ(Figure(f.dutyUs), "25.6");
  EXPECT_EQ(Figure(f.dutyPercent), "50");
}

TEST(PwmModel, ShortPeriodSlowPwmAndOverfullDuty) {
  PwmFigures f = Figures(0, 0, 1, 4000000.0, 2);
  EXPECT_EQ(Figure(f.periodUs), "1");
  EXPECT_EQ(Figure(f.frequencyKHz), "1000");
  EXPECT_EQ(Figure(f.resolution), "2");

  // log2 of 16384 is 14 bits; the display caps it at 10.
  EXPECT_NEAR(PwmResolution(PwmPeriod(0xFF, 16, 20000000.0), 20000000.0), 14.0, 1e-9);
  EXPECT_EQ(Figure(Figures(0xFF, 0, 16, 20000000.0).resolution), "10");

  // DC = 1023 with PR = 0 gives far more than 100 %, shown as computed.
  EXPECT_EQ(Figure(Figures(0, 1023, 1, 4000000.0).dutyPercent), "25575");
}

TEST(PwmModel, NoFiguresWithoutOscillator) {
  RegisterSet rs;
  PwmFigures f{1, 2, 3, 4, 5};
  EXPECT_FALSE(ComputePwmFigures(rs, 1, 1, 0.0, f));
  EXPECT_EQ(f.periodUs, 1);
  EXPECT_TRUE(std::isnan(PwmResolutionShown(std::nan(""))));
}

TEST(PwmModel, RegisterFields) {
  EXPECT_EQ(PwmPrescale(0x00), 1);
  EXPECT_EQ(PwmPrescale(0x10), 4);
  EXPECT_EQ(PwmPrescale(0x20), 16);
  EXPECT_EQ(PwmPrescale(0x30), 16);
  // Only bits 5:4 change; 16 over a stored 11 writes 10.
  EXPECT_EQ(WithPwmPrescale(0x83, 4), 0x93);
  EXPECT_EQ(WithPwmPrescale(0xB3, 16), 0xA3);
  EXPECT_EQ(WithPwmPrescale(0xB3, 1), 0x83);
  // Duty code 0x201: high byte 0x80, low bits 01; bits 6, 3, 2 cleared.
  EXPECT_EQ(PwmDutyHigh(0x201), 0x80);
  EXPECT_EQ(WithPwmDutyLow(0xFF, 0x201), 0xB1);
  EXPECT_EQ(PwmDutyCode(0x80, 0xB1), 0x201);
  EXPECT_EQ(PwmDutyCode(0xFF, 0x03), 1023);
}

TEST(STCONModel, PeriodTexts) {
  EXPECT_EQ(Figure(STCONPeriodMs(std::uint8_t{0x3F}, 4000000.0)), "67108.864");
  EXPECT_EQ(Figure(STCONPeriodMs(std::uint8_t{0x80}, 4000000.0)), "1.024");
  EXPECT_EQ(Figure(STCONPeriodMs(std::uint8_t{0x25}, 4000000.0)), "1572.864");
  EXPECT_EQ(FormatNumber(STCONPeriodMs(std::uint8_t{0x3F}, 0.0)), NoValue());
  EXPECT_TRUE(std::isnan(STCONPeriodMs(4, 1, 4000000.0)));
  EXPECT_EQ(STCONBaseIndex(0x3F), 3);
  EXPECT_EQ(STCONMultiplier(0x3F), 16);
  EXPECT_EQ(STCONBaseOf(2).bits, 0x20);
  EXPECT_STREQ(STCONBaseOf(3).text, "4096(4096Tosc)");
}
