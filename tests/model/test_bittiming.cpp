// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "model/bittiming.h"

using namespace zk7;

namespace {

// The kernel's calculation written out plainly in its own unsigned arithmetic,
// for a controller with tseg1 3..16, tseg2 2..8, brp 1..64.
struct Ref {
  bool ok;
  unsigned brp, tseg1, tseg2;
};
unsigned RefSplit(unsigned spNom, unsigned tseg, unsigned* t1, unsigned* t2, unsigned* spErr) {
  unsigned bestErr = UINT_MAX, best = 0;
  for (unsigned i = 0; i <= 1; i++) {
    unsigned tseg2 = tseg + 1 - (spNom * (tseg + 1)) / 1000 - i;
    tseg2 = tseg2 < 2 ? 2 : tseg2 > 8 ? 8 : tseg2;
    unsigned tseg1 = tseg - tseg2;
    if (tseg1 > 16) tseg1 = 16, tseg2 = tseg - tseg1;
    unsigned sp = 1000 * (tseg + 1 - tseg2) / (tseg + 1);
    unsigned err = spNom > sp ? spNom - sp : sp - spNom;
    if (sp <= spNom && err < bestErr) best = sp, bestErr = err, *t1 = tseg1, *t2 = tseg2;
  }
  *spErr = bestErr;
  return best;
}
Ref RefCalc(unsigned clock, unsigned bitrate, unsigned spNom) {
  unsigned bestBrErr = UINT_MAX, bestSpErr = UINT_MAX, bestTseg = 0, bestBrp = 0, t1 = 0, t2 = 0;
  for (unsigned tseg = (16 + 8) * 2 + 1; tseg >= (3 + 2) * 2; tseg--) {
    unsigned tsegall = 1 + tseg / 2;
    unsigned brp = clock / (tsegall * bitrate) + tseg % 2;
    if (brp < 1 || brp > 64) continue;
    unsigned br = clock / (brp * tsegall);
    unsigned brErr = (unsigned)std::abs((int)(bitrate - br));
    if (brErr > bestBrErr) continue;
    if (brErr < bestBrErr) bestSpErr = UINT_MAX;
    unsigned spErr;
    RefSplit(spNom, tseg / 2, &t1, &t2, &spErr);
    if (spErr >= bestSpErr) continue;
    bestSpErr = spErr, bestBrErr = brErr, bestTseg = tseg / 2, bestBrp = brp;
    if (brErr == 0 && spErr == 0) break;
  }
  if (bestBrErr == UINT_MAX || (unsigned long long)bestBrErr * 1000 / bitrate > 50) return {};
  unsigned spErr;
  RefSplit(spNom, bestTseg, &t1, &t2, &spErr);
  return {true, bestBrp, t1, t2};
}

BitTimingRequest Rq(double foscHz, std::int64_t bitrate) {
  BitTimingRequest rq;
  rq.foscHz = foscHz;
  rq.bitrate = bitrate;
  return rq;
}

}  // namespace

TEST(BitTiming, WorkedExamples) {
  struct Case {
    int foscKHz, bitrate, prop, ps1, ps2, brp, sjw, cnf1, cnf2, cnf3;
  };
  const Case cases[] = {{4000, 125000, 6, 7, 2, 1, 1, 0x00, 0xB5, 0x01},
                        {4000, 250000, 2, 3, 2, 1, 1, 0x00, 0x91, 0x01},
                        {16000, 500000, 6, 7, 2, 1, 1, 0x00, 0xB5, 0x01},
                        {20000, 125000, 6, 7, 2, 5, 1, 0x04, 0xB5, 0x01},
                        {20000, 1000000, 3, 3, 3, 1, 1, 0x00, 0x92, 0x02},
                        {25000, 800000, 5, 6, 4, 1, 2, 0x40, 0xAC, 0x03},
                        {1000, 20000, 8, 8, 8, 1, 4, 0xC0, 0xBF, 0x07}};
  for (const Case& c : cases) {
    const auto a = RecommendBitTiming(Rq(c.foscKHz * 1000.0, c.bitrate));
    ASSERT_TRUE(a.recommended) << c.foscKHz << " " << c.bitrate;
    const BitTimingSetting& s = *a.recommended;
    EXPECT_EQ(std::vector<int>({s.prop, s.ps1, s.ps2, s.brp, s.sjw}),
              std::vector<int>({c.prop, c.ps1, c.ps2, c.brp, c.sjw}));
    RegisterSet rs;
    rs.set(CNF2, 0x40);  // SAM is kept, CNF3 bits 7:3 too
    rs.set(CNF3, 0xC8);
    ApplyBitTiming(rs, s);
    EXPECT_EQ(rs[CNF1], c.cnf1);
    EXPECT_EQ(rs[CNF2], c.cnf2 | 0x40);
    EXPECT_EQ(rs[CNF3], c.cnf3 | 0xC8);
  }
}

// Equal to the kernel's choice across common crystals, rates and sample points.
TEST(BitTiming, RecommendationEqualsTheKernelsOnAGrid) {
  std::vector<double> crystalsMHz = {3.6864, 7.3728, 11.0592, 14.7456, 18.432};
  for (int m = 1; m <= 25; ++m) crystalsMHz.push_back(m);
  const int rates[] = {10000,  20000,  33333,  50000,  83333,  100000,
                       125000, 250000, 500000, 666666, 800000, 1000000};
  int found = 0, refused = 0;
  for (double mhz : crystalsMHz)
    for (int rate : rates)
      for (int sp : {0, 500, 700, 875, 999}) {
        BitTimingRequest rq = Rq(mhz * 1e6, rate);
        if (sp) rq.samplePointPermille = sp;
        const auto a = RecommendBitTiming(rq);
        const Ref r = RefCalc(static_cast<unsigned>(CanClockHz(rq.foscHz)), rate,
                              sp ? sp : DefaultSamplePointPermille(rate));
        ASSERT_EQ(a.recommended.has_value(), r.ok) << mhz << " MHz " << rate << " sp " << sp;
        if (!r.ok) {
          ++refused;
          continue;
        }
        ++found;
        const auto& s = *a.recommended;
        EXPECT_EQ(
            std::vector<unsigned>({unsigned(s.brp), unsigned(s.prop + s.ps1), unsigned(s.ps2)}),
            std::vector<unsigned>({r.brp, r.tseg1, r.tseg2}))
            << mhz << " MHz " << rate << " sp " << sp;
      }
  EXPECT_GT(found, 1000);
  EXPECT_GT(refused, 20);
}

TEST(BitTiming, CandidatesAreEveryCloseSettingInOrder) {
  BitTimingRequest rq = Rq(20e6, 125000);
  const auto rows = BitTimingCandidates(rq);
  ASSERT_FALSE(rows.empty());
  EXPECT_TRUE(rows[0].recommended);
  // 10 MHz / 125 kbit/s = 80 = prescaler x TQ per bit exactly: 4 x 20, 5 x 16, 8 x 10,
  // 10 x 8, 16 x 5 with 6, 7, 6, 4 and 1 ways to place PS2 (2..8; Prop + PS1 2..16).
  EXPECT_EQ(rows.size(), 24u);
  auto distance = [](const BitTimingSetting& s) { return std::abs(s.samplePointPercent() - 87.5); };
  for (std::size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].errorBps(), 0);
    EXPECT_FALSE(rows[i].recommended);
    if (i > 1) {
      EXPECT_LE(distance(rows[i - 1]), distance(rows[i]) + 1e-9);
    }
  }
  rq.sjw = 3;
  const auto withSjw = BitTimingCandidates(rq);
  EXPECT_EQ(withSjw[0].brokenRules(), unsigned{kRulePs2AboveSjw});  // PS2 2 TQ <= SJW 3
  // Recommended first even beyond the tolerance; nothing else within 0.5 %.
  EXPECT_EQ(BitTimingCandidates(Rq(25e6, 800000)).size(), 1u);
}

TEST(BitTiming, TextForms) {
  std::string e;
  EXPECT_EQ(ParseBitRate("125k", e), 125000);
  EXPECT_EQ(ParseBitRate("83.333k", e), 83333);
  EXPECT_EQ(ParseBitRate("1M", e), 1000000);
  for (const char* bad : {"", "1.5", "2M", "0", "12kb", "-5", "k"})
    EXPECT_FALSE(ParseBitRate(bad, e)) << bad;
  EXPECT_EQ(BitRateText(1000000) + BitRateText(125000) + BitRateText(83333), "1M125k83333");
  EXPECT_EQ(ParseSamplePoint("87.5%", e), 875);
  EXPECT_EQ(ParseSamplePoint("70", e), 700);
  for (const char* bad : {"49.9", "100", "87.55", "x"})
    EXPECT_FALSE(ParseSamplePoint(bad, e)) << bad;
}
