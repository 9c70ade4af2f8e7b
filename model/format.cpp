// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/format.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace zk7 {

std::string Hex2(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02X", value & 0xFFu);
  return buf;
}

std::string HexNoPad(unsigned value) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%X", value);
  return buf;
}

std::string FormatNumber(double value, char decimalSeparator) {
  if (!std::isfinite(value)) return NoValue();
  if (value == 0) return "0";  // also folds -0
  char buf[64];
  // %.15G keeps 15 significant digits; strip the zeros it may leave after the point.
  std::snprintf(buf, sizeof buf, "%.15G", value);
  std::string s(buf);
  auto e = s.find('E');
  std::string mant = e == std::string::npos ? s : s.substr(0, e);
  std::string exp = e == std::string::npos ? "" : s.substr(e);
  if (mant.find('.') != std::string::npos) {
    while (!mant.empty() && mant.back() == '0') mant.pop_back();
    if (!mant.empty() && mant.back() == '.') mant.pop_back();
  }
  if (!exp.empty()) {
    // "E-05" -> "E-5", "E+20" -> "E+20"
    char sign = exp[1];
    int n = std::atoi(exp.c_str() + 2);
    exp = std::string("E") + sign + std::to_string(n);
  }
  s = mant + exp;
  if (decimalSeparator != '.')
    for (char& c : s)
      if (c == '.') c = decimalSeparator;
  return s;
}

}  // namespace zk7
