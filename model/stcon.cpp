// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/stcon.h"

#include <limits>

namespace zk7 {

const STCONBase& STCONBaseOf(int index) {
  static const STCONBase bases[kSTCONBaseCount] = {
      {"4096Tosc", 0x00, 1},
      {"16(4096Tosc)", 0x10, 16},
      {"256(4096Tosc)", 0x20, 256},
      {"4096(4096Tosc)", 0x30, 4096},
  };
  return bases[index >= 0 && index < kSTCONBaseCount ? index : 0];
}

int STCONBaseIndex(std::uint8_t stcon) {
  return (stcon & kSTCONBaseMask) >> 4;
}

int STCONMultiplier(std::uint8_t stcon) {
  return (stcon & kSTCONMultMask) + 1;
}

double STCONPeriodMs(int baseIndex, int multiplier, double fosc) {
  if (fosc == 0 || baseIndex < 0 || baseIndex >= kSTCONBaseCount)
    return std::numeric_limits<double>::quiet_NaN();
  // The order of the products matters for the last digit of the text shown.
  double t = 4096.0 / fosc;
  if (baseIndex != 0) t = t * STCONBaseOf(baseIndex).factor;
  return t * multiplier * 1000.0;
}

double STCONPeriodMs(std::uint8_t stcon, double fosc) {
  return STCONPeriodMs(STCONBaseIndex(stcon), STCONMultiplier(stcon), fosc);
}

}  // namespace zk7
