// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/can_timing.h"

#include <cmath>
#include <limits>

namespace zk7 {

CanBitTiming DecodeBitTiming(const RegisterSet& rs) {
  CanBitTiming t;
  auto field = [&](const CanField& f) { return FieldValue(rs[f.reg], f); };
  t.sjw = field(kSJW) + 1;
  t.brp = field(kBRP);
  t.prop = field(kPropSeg) + 1;
  t.ps1 = field(kPhaseSeg1) + 1;
  t.ps2 = field(kPhaseSeg2) + 1;
  t.sam = field(kSAM) != 0;
  t.btlmode = field(kBTLMODE) != 0;
  t.wakfil = field(kWAKFIL) != 0;
  return t;
}

double BitTimeUs(int brp, int numTQ, double fosc) {
  if (fosc == 0) return std::numeric_limits<double>::quiet_NaN();
  double tq = (2.0 * (brp + 1)) / fosc;
  return tq * 1000000.0 * numTQ;
}

double BitRateKbps(double bitTimeUs) {
  if (!std::isfinite(bitTimeUs) || bitTimeUs == 0) return std::numeric_limits<double>::quiet_NaN();
  return 1000.0 / bitTimeUs;
}

double SamplePointPercent(int prop, int ps1, int numTQ) {
  if (numTQ <= 0) return std::numeric_limits<double>::quiet_NaN();
  return (1.0 + prop + ps1) / numTQ * 100.0;
}

unsigned BrokenBitTimingRules(int sjw, int prop, int ps1, int ps2) {
  unsigned broken = 0;
  if (ps2 < 2) broken |= kRulePs2AtLeast2;
  if (ps2 <= sjw) broken |= kRulePs2AboveSjw;
  if (prop + ps1 < ps2) broken |= kRuleSeg1AtLeastPs2;
  return broken;
}

std::string TimingWarnings(int sjw, int prop, int ps1, int ps2Field, bool btlmode) {
  const unsigned broken =
      BrokenBitTimingRules(sjw, prop, ps1, EffectivePS2(ps1, ps2Field, btlmode));
  std::string s;
  for (const auto& rule : kBitTimingRules) {
    if (!(broken & rule.rule)) continue;
    if (!s.empty()) s += "; ";
    s += rule.broken;
  }
  return s;
}

std::uint32_t RawID(std::uint8_t sidh, std::uint8_t sidl, std::uint8_t eid8, std::uint8_t eid0,
                    bool extended) {
  if (!extended) return (std::uint32_t{sidh} << 3) + (std::uint32_t{sidl} >> 5);
  return (std::uint32_t{sidh} << 21) + ((std::uint32_t{sidl} >> 5) << 18) +
         ((std::uint32_t{sidl} & 3u) << 16) + (std::uint32_t{eid8} << 8) + eid0;
}

std::uint32_t RawID(const RegisterSet& rs, int id, bool extended) {
  return RawID(rs.reg(CanIdReg(id, SIDH)), rs.reg(CanIdReg(id, SIDL)), rs.reg(CanIdReg(id, EID8)),
               rs.reg(CanIdReg(id, EID0)), extended);
}

const std::array<Reg, kCanTableSize> kCanTable{
    TXID0SIDH, TXID0SIDL, TXID0EID8, TXID0EID0, TXID1SIDH, TXID1SIDL, TXID1EID8,
    TXID1EID0, TXID2SIDH, TXID2SIDL, TXID2EID8, TXID2EID0, RXMSIDH,   RXMSIDL,
    RXMEID8,   RXMEID0,   RXF0SIDH,  RXF0SIDL,  RXF0EID8,  RXF0EID0,  RXF1SIDH,
    RXF1SIDL,  RXF1EID8,  RXF1EID0,  CNF1,      CNF2,      CNF3,      OPTREG2};

}  // namespace zk7
