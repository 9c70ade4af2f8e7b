// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/hex.h"

namespace zk7 {

bool ISHEX(int key) {
  return (key >= 48 && key <= 57) || (key >= 65 && key <= 70) || (key >= 97 && key <= 102) ||
         key == 8;
}

int HexKeyFilter(int key) {
  if (!ISHEX(key)) return 0;
  return key >= 71 ? key - 32 : key;
}

static int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

double HexToValue(std::string_view text) {
  double result = 0;
  double weight = 1;
  for (auto it = text.rbegin(); it != text.rend(); ++it) {
    result += weight * DigitValue(*it);
    weight *= 16;
  }
  return result;
}

bool IsHexText(std::string_view text) {
  if (text.empty()) return false;
  for (char c : text)
    if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f'))) return false;
  return true;
}

}  // namespace zk7
