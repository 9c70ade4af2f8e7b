// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The scheduled transmission register STCON and its period.
#pragma once

#include <cstdint>

namespace zk7 {

constexpr int kSTCONEnable = 0x80;    // scheduled transmission on
constexpr int kSTCONAtoDData = 0x40;  // message carries the A/D result registers
constexpr int kSTCONBaseMask = 0x30;  // base period
constexpr int kSTCONMultMask = 0x0F;  // multiplier minus one

// The four base periods, in the order of the base list: the item text, the
// value of bits 5:4 in place, and the factor k of 4096 Tosc.
struct STCONBase {
  const char* text;
  int bits;
  int factor;
};
constexpr int kSTCONBaseCount = 4;
const STCONBase& STCONBaseOf(int index);  // index 0..3

int STCONBaseIndex(std::uint8_t stcon);   // bits 5:4, 0..3
int STCONMultiplier(std::uint8_t stcon);  // bits 3:0 plus one, 1..16

// Period in ms of base index 0..3 and multiplier M, evaluated as
// (4096 / Fosc) * k * M * 1000 (k left out for index 0). NaN when Fosc is 0
// or the index is outside 0..3.
double STCONPeriodMs(int baseIndex, int multiplier, double fosc);
double STCONPeriodMs(std::uint8_t stcon, double fosc);

}  // namespace zk7
