// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Display formats shared by every window, report and message.
#pragma once

#include <string>

namespace zk7 {

// A register or memory byte: two upper-case hex digits ("0F", "FF").
std::string Hex2(unsigned value);
// A number inside a message: upper-case hex without leading zeros or prefix ("5", "34FF").
std::string HexNoPad(unsigned value);
// A derived quantity: the shortest general decimal text of the value with at
// most 15 significant digits, no trailing zeros ("2.5", "3.2" for
// 3.1999999999999997, "67108.864"). decimalSeparator replaces the point.
// Infinite or NaN values give "--".
std::string FormatNumber(double value, char decimalSeparator = '.');
// Text shown where a derived value cannot be computed (oscillator frequency 0).
inline const char* NoValue() { return "--"; }

}  // namespace zk7
