// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cmath>

#include "model/format.h"
#include "model/pwm.h"
#include "model/stcon.h"

using namespace zk7;

TEST(PwmModel, ResolutionIsShownCappedAtTenBits) {
  // log2 of 16384 is 14 bits; the display caps it at 10.
  const double p = PwmPeriod(0xFF, 16, 20000000.0);
  EXPECT_NEAR(PwmResolution(p, 20000000.0), 14.0, 1e-9);
  EXPECT_EQ(FormatNumber(PwmResolutionShown(PwmResolution(p, 20000000.0))), "10");
}

TEST(STCONModel, PeriodOfAStoredByteAndOfABadIndex) {
  EXPECT_EQ(FormatNumber(STCONPeriodMs(std::uint8_t{0x1F}, 3686400.0)), "284.444444444444");
  EXPECT_TRUE(std::isnan(STCONPeriodMs(4, 1, 4000000.0)));
}
