// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/identifiers.h"

#include <stdexcept>

#include "model/can_timing.h"
#include "model/format.h"
#include "model/hex.h"

namespace zk7 {

std::optional<std::uint32_t> ParseCanId(std::string_view text, bool extended, std::string& error) {
  const char* kind = extended ? "extended" : "standard";
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  if (text.empty()) {
    error = std::string("Type the ") + kind + " identifier in hexadecimal, for example 123.";
    return std::nullopt;
  }
  std::string_view digits = text;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.remove_prefix(2);
  if (!IsHexText(digits)) {
    error = "\"" + std::string(text) + "\" is not a hexadecimal identifier.";
    return std::nullopt;
  }
  while (digits.size() > 1 && digits.front() == '0') digits.remove_prefix(1);
  const std::uint32_t max = CanIdMax(extended);
  const double value = HexToValue(digits);  // exact: at most 8 digits reach the test below
  if (digits.size() > 8 || value > max) {
    error =
        std::string(text) + " is above " + HexNoPad(max) + ", the largest " + kind + " identifier.";
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(value);
}

std::optional<std::vector<std::uint32_t>> ParseCanIdList(std::string_view text, bool extended,
                                                         std::string& error) {
  std::vector<std::uint32_t> ids;
  std::size_t i = 0;
  auto separator = [](char c) {
    return c == ' ' || c == ',' || c == ';' || c == '\t' || c == '\n';
  };
  while (i < text.size()) {
    if (separator(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !separator(text[end])) ++end;
    const auto id = ParseCanId(text.substr(i, end - i), extended, error);
    if (!id) return std::nullopt;
    ids.push_back(*id);
    i = end;
  }
  if (ids.empty()) {
    error = std::string("Type one or more ") + (extended ? "extended" : "standard") +
            " identifiers in hexadecimal, for example 120 121 12A.";
    return std::nullopt;
  }
  return ids;
}

std::array<std::uint8_t, 4> EncodeCanId(std::array<std::uint8_t, 4> b, std::uint32_t v,
                                        bool extended) {
  if (v > CanIdMax(extended)) throw std::out_of_range("identifier " + HexNoPad(v) + " too large");
  if (extended) {
    b[SIDH] = static_cast<std::uint8_t>(v >> 21);
    b[SIDL] = NormalisedSIDL(static_cast<int>(((v >> 18) & 7u) << 5 | ((v >> 16) & 3u)), true);
    b[EID8] = static_cast<std::uint8_t>(v >> 8);
    b[EID0] = static_cast<std::uint8_t>(v);
  } else {
    b[SIDH] = static_cast<std::uint8_t>(v >> 3);
    b[SIDL] = NormalisedSIDL(static_cast<int>((v & 7u) << 5 | (b[SIDL] & 3u)), false);
  }
  return b;
}

void SetCanId(RegisterSet& rs, int id, std::uint32_t value, bool extended) {
  std::array<std::uint8_t, 4> bytes{};
  for (int b = 0; b < 4; ++b) bytes[b] = rs.reg(CanIdReg(id, b));
  bytes = EncodeCanId(bytes, value, extended);
  for (int b = 0; b < 4; ++b) rs.set(CanIdReg(id, b), bytes[b]);
}

}  // namespace zk7
