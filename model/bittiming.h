// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// CAN bit timing from a target bit rate: the recommended setting (the one the
// Linux kernel's bit-timing calculation picks for a controller with these
// limits, so that our nodes and SocketCAN nodes on one bus agree), the table
// of every setting that comes within a tolerance, and writing a setting into
// CNF1..CNF3. Rates are whole bit/s, frequencies whole Hz, sample points in
// permille (tenths of a percent), so every face compares exactly.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/can_timing.h"
#include "model/registers.h"

namespace zk7 {

// What the chip's bit-timing registers can hold. One time quantum is
// 2 x prescaler / Fosc (the CAN clock is Fosc / 2); a bit is 1 + Prop + PS1 + PS2 TQ.
struct BitTimingLimits {
  int tseg1Min, tseg1Max;  // Prop + PS1, as the recommendation searches it
  int tseg2Min, tseg2Max;  // PS2
  int sjwMax;
  int brpMin, brpMax, brpInc;  // prescaler
  int segMin, segMax;          // Prop and PS1 each
};
constexpr BitTimingLimits kBitTimingLimits{3, 16, 2, 8, 4, 1, 64, 1, 1, 8};

// The bit rates offered first, in bit/s.
constexpr std::array<int, 9> kUsualBitRates{10000,  20000,  50000,  100000, 125000,
                                            250000, 500000, 800000, 1000000};
constexpr int kMaxBitRate = 1000000;

// What the user asks for.
struct BitTimingRequest {
  double foscHz = 0;                       // oscillator; the CAN clock is Fosc / 2
  std::int64_t bitrate = 0;                // wanted bit/s
  std::optional<int> samplePointPermille;  // nominal sample point; default by bit rate
  std::optional<int> sjw;                  // 1..4; default max(1, min(PS1, PS2 / 2))
  std::int64_t tolerancePpm = 5000;        // table: rate error allowed, parts per million
};

// One setting, lengths in TQ.
struct BitTimingSetting {
  int brp = 1;  // prescaler 1..64 (CNF1 holds brp - 1)
  int prop = 1, ps1 = 1, ps2 = 2, sjw = 1;
  std::int64_t bitrate = 0;  // achieved: clock / (brp x quanta), rounded down
  std::int64_t wanted = 0;   // the target bit rate
  bool recommended = false;  // the kernel's choice
  int quanta() const { return NumTQ(prop, ps1, ps2); }
  std::int64_t errorBps() const { return bitrate > wanted ? bitrate - wanted : wanted - bitrate; }
  double errorPercent() const { return wanted ? 100.0 * errorBps() / wanted : 0; }
  // After the synchronisation segment, Prop and PS1: exact, and in whole
  // permille rounded down as the kernel compares it.
  double samplePointPercent() const { return 100.0 * (quanta() - ps2) / quanta(); }
  int samplePointPermille() const { return 1000 * (quanta() - ps2) / quanta(); }
  unsigned brokenRules() const { return BrokenBitTimingRules(sjw, prop, ps1, ps2); }
  bool sameTiming(const BitTimingSetting& o) const {
    return brp == o.brp && prop == o.prop && ps1 == o.ps1 && ps2 == o.ps2;
  }
};

// The nominal sample point the kernel uses for a bit rate: 75.0 % above
// 800 kbit/s, 80.0 % above 500 kbit/s, 87.5 % otherwise.
int DefaultSamplePointPermille(std::int64_t bitrate);
// The CAN clock in whole Hz: Fosc rounded to Hz, halved (rounded down); 0 for
// a frequency below 1 Hz or not finite; at most 1 THz.
std::int64_t CanClockHz(double foscHz);

struct BitTimingAdvice {
  std::int64_t clockHz = 0;    // Fosc / 2
  int samplePointNominal = 0;  // permille, the user's or the default
  std::optional<BitTimingSetting> recommended;
  // The kernel's figure: best rate error in permille, rounded down (also when refused).
  std::optional<int> rateErrorPermille;
  std::string note;  // why nothing is recommended; "" when something is
};
// The kernel's recommendation; nothing when Fosc or the bit rate is not
// positive, when no prescaler fits, or when the best rate is more than 5.0 %
// off (the note says which). A sample point outside 50.0..99.9 % or an SJW
// outside 1..4 is a caller's bug (std::out_of_range); ParseSamplePoint checks text.
BitTimingAdvice RecommendBitTiming(const BitTimingRequest& request);
// Every setting within the limits (PS2 from 2 TQ; one row per prescaler,
// Prop + PS1 and PS2, Prop + PS1 divided as the recommendation divides it)
// whose rate is within the tolerance: the recommended setting first (also
// when it is outside the tolerance), the rest by distance from the nominal
// sample point, then by more TQ per bit, then by smaller rate error.
std::vector<BitTimingSetting> BitTimingCandidates(const BitTimingRequest& request);

// CNF1..CNF3 holding setting: CNF1 = SJW and prescaler; CNF2 = BTLMODE set
// (PS2 from CNF3), SAM kept from cnf2, PS1, Prop; CNF3 = bits 7:3 kept, PS2.
std::array<std::uint8_t, 3> EncodeBitTiming(const BitTimingSetting& s, std::uint8_t cnf2,
                                            std::uint8_t cnf3);
// Writes EncodeBitTiming into the register set's CNF1..CNF3.
void ApplyBitTiming(RegisterSet& rs, const BitTimingSetting& s);

// The fields of a setting as every face shows them, in this order: JSON key,
// column header, kind and value (cnf: the setting's CNF1..CNF3 bytes).
enum class BitTimingFieldKind { Count, Hex, Percent };
struct BitTimingField {
  const char* key;
  const char* header;
  BitTimingFieldKind kind;
  double (*value)(const BitTimingSetting& s, const std::array<std::uint8_t, 3>& cnf);
};
extern const std::array<BitTimingField, 12> kBitTimingFields;

// Text forms shared by the window and the command line. Bit rates: "125000",
// "125k", "83.3k" (must come to whole bit/s), "1M"; 1 to 1000000 bit/s.
std::optional<std::int64_t> ParseBitRate(std::string_view text, std::string& error);
// "125k", "1M", "83333": the shortest of these forms.
std::string BitRateText(std::int64_t bps);
// Sample point in percent with at most one decimal, "87.5" or "87.5%", 50 to
// 99.9; returns permille.
std::optional<int> ParseSamplePoint(std::string_view text, std::string& error);

}  // namespace zk7
