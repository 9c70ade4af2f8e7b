// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// CAN identifiers by value: reading an identifier typed in hexadecimal and
// writing it into the four identifier bytes (SIDH, SIDL, EID8, EID0).
//
// Text form: hexadecimal digits, upper or lower case, with or without "0x";
// at most 7FF for a standard identifier, 1FFFFFFF for an extended one.
//   "123", "0x123", "7ff"     standard or extended identifier 0x123 / 0x7FF
//   "1FFFFFFF"                the largest extended identifier
//   "800"                     refused as a standard identifier, taken as extended
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/registers.h"

namespace zk7 {

constexpr std::uint32_t kStdIdMax = 0x7FF;
constexpr std::uint32_t kExtIdMax = 0x1FFFFFFF;
constexpr std::uint32_t CanIdMax(bool extended) {
  return extended ? kExtIdMax : kStdIdMax;
}
constexpr int CanIdBits(bool extended) {
  return extended ? 29 : 11;
}

// The identifier text read as a value of that type; nullopt with error set to
// a sentence for the user when the text is empty, not hexadecimal or too large.
std::optional<std::uint32_t> ParseCanId(std::string_view text, bool extended, std::string& error);
// Identifiers separated by spaces, commas or semicolons; nullopt (error names
// the first bad word) when one is refused or the list is empty.
std::optional<std::vector<std::uint32_t>> ParseCanIdList(std::string_view text, bool extended,
                                                         std::string& error);

// The four bytes (SIDH, SIDL, EID8, EID0) holding identifier value of that
// type: SIDL bits 4 and 2 zero and bit 3 the type; a standard identifier
// leaves SIDL bits 1:0, EID8 and EID0 as they were in bytes. Throws
// std::out_of_range when value is above CanIdMax(extended) (a caller's bug).
std::array<std::uint8_t, 4> EncodeCanId(std::array<std::uint8_t, 4> bytes, std::uint32_t value,
                                        bool extended);
// Writes identifier id (0..5: TXID0..TXID2, RXM, RXF0, RXF1) with EncodeCanId.
void SetCanId(RegisterSet& rs, int id, std::uint32_t value, bool extended);

}  // namespace zk7
