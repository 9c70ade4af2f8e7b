// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <random>

#include "model/acceptance.h"
#include "model/can_timing.h"

using namespace zk7;

TEST(CanIdentifier, TextsParseWithinTheirRangeAndAWriteBeyondItThrows) {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  std::string e;
  EXPECT_EQ(ParseCanId(" 0x7ff", false, e), 0x7FFu);
  EXPECT_EQ(ParseCanId("0001FFFFFFF", true, e), 0x1FFFFFFFu);
  EXPECT_FALSE(ParseCanId("800", false, e));
  EXPECT_EQ(e, "800 is above 7FF, the largest standard identifier.");
  for (const char* bad : {"", "12G", "20000000", "0x"})
    EXPECT_FALSE(ParseCanId(bad, true, e)) << bad;
  EXPECT_EQ(ParseCanIdList("1, 2;3", false, e), (std::vector<std::uint32_t>{1, 2, 3}));
  EXPECT_THROW(SetCanId(rs, 0, 0x800, false), std::out_of_range);
}

TEST(Acceptance, TestAndCountFollowTheRegisters) {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  SetCanId(rs, 3, 0x7F0, false);  // mask
  SetCanId(rs, 4, 0x120, false);
  SetCanId(rs, 5, 0x1ABCDEF5, true);
  const ReceiveFilters f = ReadReceiveFilters(rs);
  EXPECT_EQ(FiltersTaking(0x12F, false, f), 1u);
  EXPECT_EQ(FiltersTaking(0x130, false, f), 0u);
  EXPECT_EQ(FiltersTaking(0x120, true, f), 0u);  // RXF0 takes standard frames only
  EXPECT_EQ(AcceptedCount(f, false), 16u);
  // The extended view of RXM is 0x1FC3FFFF after the standard write: 4 free bits.
  EXPECT_EQ(RawID(rs, 3, true), 0x1FC3FFFFu);
  EXPECT_EQ(AcceptedCount(f, true), 16u);
  EXPECT_EQ(AcceptedCount({AcceptanceFilter{0, 0, true}, AcceptanceFilter{1, 1, true}}, true),
            1u << 29);  // overlapping filters are counted once
  std::string e;
  for (const AcceptanceFilter& x : {f[0], f[1]}) EXPECT_EQ(ParseFilter(FormatFilter(x), e), x);
  EXPECT_EQ(FormatFilter(f[0]), "120:7F0");
  EXPECT_FALSE(ParseFilter("120", e));
}

// The design takes the list and no set of filters takes fewer: checked against
// every mask of 11 bits.
TEST(Acceptance, DesignIsOptimalAgainstBruteForce) {
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::vector<std::uint32_t> ids(1 + rng() % 6);
    const std::uint32_t base = rng() & 0x7FF, spread = rng() & 0x7FF;
    for (auto& id : ids) id = (base ^ (rng() & spread)) & 0x7FF;
    const FilterDesign d = *DesignFilters(ids, false);
    for (std::uint32_t id : ids) EXPECT_NE(FiltersTaking(id, false, d.filters()), 0u);
    std::uint64_t best = UINT64_MAX;
    for (std::uint32_t mask = 0; mask <= 0x7FF; ++mask) {
      std::vector<std::uint32_t> sides;
      for (std::uint32_t id : ids)
        if (std::find(sides.begin(), sides.end(), id & mask) == sides.end())
          sides.push_back(id & mask);
      if (sides.size() <= 2)
        best = std::min<std::uint64_t>(best, sides.size() << (11 - __builtin_popcount(mask)));
    }
    ASSERT_EQ(d.acceptedCount, best) << round;
  }
  std::vector<std::uint32_t> ext(64);
  for (auto& id : ext) id = rng() & 0x1FFFFFFF;
  const FilterDesign d = *DesignFilters(ext, true);
  for (std::uint32_t id : ext) EXPECT_NE(FiltersTaking(id, true, d.filters()), 0u);
  RegisterSet rs;
  ApplyFilterDesign(rs, d);
  EXPECT_EQ(ReadReceiveFilters(rs), d.filters());
  EXPECT_FALSE(DesignFilters({}, false));
}
