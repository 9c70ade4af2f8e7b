// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/bittiming.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <stdexcept>

namespace zk7 {

namespace {

constexpr int kMaxRateErrorPermille = 50;  // the kernel refuses a rate more than 5.0 % off

// Segment 1 and PS2 for t = Prop + PS1 + PS2 quanta and a nominal sample
// point sp: of the two candidates, the one nearest sp without passing it.
struct Split {
  int seg1 = 0, seg2 = 0;
  int error = INT_MAX;  // |sp - achieved| in permille; INT_MAX when neither fits
};
Split SplitSegments(int t, int sp) {
  const auto& L = kBitTimingLimits;
  Split best;
  for (int i = 0; i <= 1; ++i) {
    int seg2 = std::clamp(t + 1 - sp * (t + 1) / 1000 - i, L.tseg2Min, L.tseg2Max);
    int seg1 = t - seg2;
    if (seg1 > L.tseg1Max) {
      seg1 = L.tseg1Max;
      seg2 = t - seg1;
    }
    const int point = 1000 * (t + 1 - seg2) / (t + 1);
    if (point <= sp && sp - point < best.error) best = {seg1, seg2, sp - point};
  }
  return best;
}

int DefaultSjw(int ps1, int ps2) {
  return std::max(1, std::min(ps1, ps2 / 2));
}

BitTimingSetting MakeSetting(const BitTimingRequest& rq, std::int64_t clock, int brp, int seg1,
                             int ps2) {
  BitTimingSetting s;
  s.brp = brp;
  s.prop = seg1 / 2;
  s.ps1 = seg1 - s.prop;
  s.ps2 = ps2;
  s.sjw = rq.sjw.value_or(DefaultSjw(s.ps1, s.ps2));
  s.bitrate = clock / (std::int64_t{brp} * s.quanta());
  s.wanted = rq.bitrate;
  return s;
}

std::string PermilleText(std::int64_t permille) {
  return std::to_string(permille / 10) + "." + std::to_string(permille % 10);
}

void CheckRequest(const BitTimingRequest& rq) {
  if (rq.samplePointPermille && (*rq.samplePointPermille < 500 || *rq.samplePointPermille > 999))
    throw std::out_of_range("sample point outside 50.0..99.9 %");
  if (rq.sjw && (*rq.sjw < 1 || *rq.sjw > kBitTimingLimits.sjwMax))
    throw std::out_of_range("SJW outside 1..4");
}

// Digits with an optional decimal part, as an integer numerator over 10^decimals.
bool ReadDecimal(std::string_view& text, std::int64_t& value, int& decimals) {
  value = 0;
  decimals = -1;
  std::size_t i = 0;
  int digits = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '.' && decimals < 0) {
      decimals = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 12) return false;
      value = value * 10 + (c - '0');
      if (decimals >= 0) ++decimals;
    } else {
      break;
    }
  }
  text.remove_prefix(i);
  if (decimals < 0) decimals = 0;
  return digits > 0;
}

std::string_view Trimmed(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  while (!t.empty() && t.back() == ' ') t.remove_suffix(1);
  return t;
}

}  // namespace

int DefaultSamplePointPermille(std::int64_t bitrate) {
  if (bitrate > 800000) return 750;
  if (bitrate > 500000) return 800;
  return 875;
}

std::int64_t CanClockHz(double foscHz) {
  if (!std::isfinite(foscHz) || foscHz < 1) return 0;
  // Above 2 THz no prescaler fits any bit rate anyway; the bound keeps the
  // conversion defined.
  return std::llround(std::min(foscHz, 2e12)) / 2;
}

BitTimingAdvice RecommendBitTiming(const BitTimingRequest& rq) {
  CheckRequest(rq);
  const auto& L = kBitTimingLimits;
  BitTimingAdvice a;
  a.clockHz = CanClockHz(rq.foscHz);
  a.samplePointNominal = rq.samplePointPermille.value_or(DefaultSamplePointPermille(rq.bitrate));
  if (a.clockHz <= 0) {
    a.note = "Fosc is 0 kHz: without an oscillator frequency no bit rate can be reached.";
    return a;
  }
  if (rq.bitrate <= 0) {
    a.note = "Choose a bit rate above 0.";
    return a;
  }

  // tseg counts Prop + PS1 + PS2 twice plus one: an even tseg takes the
  // prescaler rounded down, an odd one rounded up.
  std::int64_t bestRateError = LLONG_MAX;
  int bestSpError = INT_MAX;
  int bestT = 0, bestBrp = 0;
  for (int tseg = (L.tseg1Max + L.tseg2Max) * 2 + 1; tseg >= (L.tseg1Min + L.tseg2Min) * 2;
       --tseg) {
    const int quanta = 1 + tseg / 2;
    std::int64_t brp = a.clockHz / (quanta * rq.bitrate) + tseg % 2;
    brp = brp / L.brpInc * L.brpInc;
    if (brp < L.brpMin || brp > L.brpMax) continue;
    const std::int64_t rate = a.clockHz / (brp * quanta);
    const std::int64_t rateError = rate > rq.bitrate ? rate - rq.bitrate : rq.bitrate - rate;
    if (rateError > bestRateError) continue;
    if (rateError < bestRateError) bestSpError = INT_MAX;  // a better rate starts afresh
    const Split split = SplitSegments(tseg / 2, a.samplePointNominal);
    if (split.error >= bestSpError) continue;
    bestSpError = split.error;
    bestRateError = rateError;
    bestT = tseg / 2;
    bestBrp = static_cast<int>(brp);
    if (rateError == 0 && split.error == 0) break;
  }
  if (bestBrp == 0) {
    a.note =
        "No prescaler from 1 to 64 gives " + std::to_string(rq.bitrate) + " bit/s at this Fosc.";
    return a;
  }
  a.rateErrorPermille = static_cast<int>(bestRateError * 1000 / rq.bitrate);
  if (*a.rateErrorPermille > kMaxRateErrorPermille) {
    a.note = "The nearest bit rate is " + PermilleText(*a.rateErrorPermille) +
             " % off, more than 5.0 %.";
    return a;
  }
  const Split split = SplitSegments(bestT, a.samplePointNominal);
  a.recommended = MakeSetting(rq, a.clockHz, bestBrp, split.seg1, split.seg2);
  a.recommended->recommended = true;
  return a;
}

std::vector<BitTimingSetting> BitTimingCandidates(const BitTimingRequest& rq) {
  const BitTimingAdvice advice = RecommendBitTiming(rq);
  std::vector<BitTimingSetting> rows;
  if (advice.clockHz <= 0 || rq.bitrate <= 0) return rows;
  const auto& L = kBitTimingLimits;
  for (int brp = L.brpMin; brp <= L.brpMax; brp += L.brpInc)
    for (int ps2 = L.tseg2Min; ps2 <= L.tseg2Max; ++ps2)
      for (int seg1 = 2 * L.segMin; seg1 <= 2 * L.segMax; ++seg1) {
        const BitTimingSetting s = MakeSetting(rq, advice.clockHz, brp, seg1, ps2);
        if (s.errorBps() * 1000000 > rq.tolerancePpm * rq.bitrate) continue;
        if (advice.recommended && s.sameTiming(*advice.recommended)) continue;
        rows.push_back(s);
      }
  // Distance from the nominal sample point, |1000 (q - ps2) - sp q| / q,
  // compared exactly by cross-multiplying.
  const std::int64_t sp = advice.samplePointNominal;
  auto distance = [sp](const BitTimingSetting& s) {
    const std::int64_t q = s.quanta();
    return std::llabs(1000 * (q - s.ps2) - sp * q);
  };
  std::sort(rows.begin(), rows.end(), [&](const BitTimingSetting& x, const BitTimingSetting& y) {
    const std::int64_t dx = distance(x) * y.quanta(), dy = distance(y) * x.quanta();
    if (dx != dy) return dx < dy;
    if (x.quanta() != y.quanta()) return x.quanta() > y.quanta();
    if (x.errorBps() != y.errorBps()) return x.errorBps() < y.errorBps();
    return x.brp < y.brp;
  });
  if (advice.recommended) rows.insert(rows.begin(), *advice.recommended);
  return rows;
}

std::array<std::uint8_t, 3> EncodeBitTiming(const BitTimingSetting& s, std::uint8_t cnf2,
                                            std::uint8_t cnf3) {
  std::uint8_t cnf1 = WithField(0, kSJW, s.sjw - 1);
  cnf1 = WithField(cnf1, kBRP, s.brp - 1);
  cnf2 = WithField(cnf2, kBTLMODE, 1);
  cnf2 = WithField(cnf2, kPhaseSeg1, s.ps1 - 1);
  cnf2 = WithField(cnf2, kPropSeg, s.prop - 1);
  cnf3 = WithField(cnf3, kPhaseSeg2, s.ps2 - 1);
  return {cnf1, cnf2, cnf3};
}

void ApplyBitTiming(RegisterSet& rs, const BitTimingSetting& s) {
  const auto bytes = EncodeBitTiming(s, rs[CNF2], rs[CNF3]);
  rs.set(CNF1, bytes[0]);
  rs.set(CNF2, bytes[1]);
  rs.set(CNF3, bytes[2]);
}

using Cnf = std::array<std::uint8_t, 3>;
using FieldKind = BitTimingFieldKind;
const std::array<BitTimingField, 12> kBitTimingFields{{
    {"brp", "Prescaler", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.brp); }},
    {"prop", "Prop", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.prop); }},
    {"ps1", "PS1", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.ps1); }},
    {"ps2", "PS2", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.ps2); }},
    {"sjw", "SJW", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.sjw); }},
    {"quanta", "TQ/bit", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.quanta()); }},
    {"sample_point_percent", "Sample %", FieldKind::Percent,
     [](const BitTimingSetting& s, const Cnf&) { return s.samplePointPercent(); }},
    {"bitrate", "Bit/s", FieldKind::Count,
     [](const BitTimingSetting& s, const Cnf&) { return double(s.bitrate); }},
    {"error_percent", "Error %", FieldKind::Percent,
     [](const BitTimingSetting& s, const Cnf&) { return s.errorPercent(); }},
    {"cnf1", "CNF1", FieldKind::Hex,
     [](const BitTimingSetting&, const Cnf& c) { return double(c[0]); }},
    {"cnf2", "CNF2", FieldKind::Hex,
     [](const BitTimingSetting&, const Cnf& c) { return double(c[1]); }},
    {"cnf3", "CNF3", FieldKind::Hex,
     [](const BitTimingSetting&, const Cnf& c) { return double(c[2]); }},
}};

std::optional<std::int64_t> ParseBitRate(std::string_view text, std::string& error) {
  text = Trimmed(text);
  std::string_view rest = text;
  std::int64_t value = 0;
  int decimals = 0;
  std::int64_t scale = 1;
  bool ok = ReadDecimal(rest, value, decimals);
  if (ok && rest.size() == 1 && (rest[0] == 'k' || rest[0] == 'K')) scale = 1000;
  if (ok && rest.size() == 1 && rest[0] == 'M') scale = 1000000;
  if (scale != 1) rest.remove_prefix(1);
  std::int64_t divisor = 1;
  for (int d = 0; d < decimals; ++d) divisor *= 10;
  if (!ok || !rest.empty() || value * scale % divisor != 0) {
    error = "\"" + std::string(text) +
            "\" is not a bit rate in whole bit/s; write for example 125000, 125k or 1M.";
    return std::nullopt;
  }
  const std::int64_t bps = value * scale / divisor;
  if (bps < 1 || bps > kMaxBitRate) {
    error = "A CAN bit rate is 1 bit/s to 1M bit/s; " + std::string(text) + " is not.";
    return std::nullopt;
  }
  return bps;
}

std::string BitRateText(std::int64_t bps) {
  if (bps > 0 && bps % 1000000 == 0) return std::to_string(bps / 1000000) + "M";
  if (bps > 0 && bps % 1000 == 0) return std::to_string(bps / 1000) + "k";
  return std::to_string(bps);
}

std::optional<int> ParseSamplePoint(std::string_view text, std::string& error) {
  text = Trimmed(text);
  std::string_view rest = text;
  std::int64_t value = 0;
  int decimals = 0;
  bool ok = ReadDecimal(rest, value, decimals) && decimals <= 1;
  if (!rest.empty() && rest.front() == '%') rest.remove_prefix(1);
  const std::int64_t permille = decimals == 1 ? value : value * 10;
  if (!ok || !rest.empty() || permille < 500 || permille > 999) {
    error = "The sample point is a percentage from 50 to 99.9 with one decimal at most, \"" +
            std::string(text) + "\" is not.";
    return std::nullopt;
  }
  return static_cast<int>(permille);
}

}  // namespace zk7
