// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The configuration's fields by name, as the command line's set, diff and
// JSON output, the serial numbers and the pre-burn check name them: image
// entries (registers, the reserved bytes, user memory, checksum), CAN
// identifiers taken as values, and the meaning of the configuration word.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/identifiers.h"
#include "model/registers.h"

namespace zk7 {

// Name of image entry 0..69: the register name, "reserved3", "reserved18",
// "reserved19", "USER0".."USER15", "checksum". Throws std::out_of_range outside 0..69.
std::string EntryName(int position);
// The entry with this exact name; none for any other text.
std::optional<int> EntryByName(std::string_view name);

// A CAN identifier as a value: 11 bits when standard, 29 when extended.
struct Identifier {
  bool extended = false;
  std::uint32_t id = 0;
  bool operator==(const Identifier& o) const { return extended == o.extended && id == o.id; }
};

// Identifier 0..5 (kCanIdName order) by its name "TXID0".."RXF1"; none otherwise.
std::optional<int> IdentifierByName(std::string_view name);
// The identifier in its four bytes, its type from SIDL bit 3.
Identifier ReadIdentifier(const RegisterSet& rs, int id);
// Writes value into identifier id's bytes as the CAN window stores them
// (SetCanId). False (nothing written) when the value does not fit its type.
bool WriteIdentifier(RegisterSet& rs, int id, const Identifier& value);
// "std:HEX" or "ext:HEX" (case of the prefix and digits free); false with
// error when the text is not one or the value does not fit.
bool ParseIdentifier(std::string_view text, Identifier& out, std::string& error);
// "std:7FF", "ext:1FFFFFFF".
std::string IdentifierText(const Identifier& value);

// Upper-case hex without leading zeros or prefix, for values of any width.
std::string HexText(std::uint64_t value);
// Hex digits only (an optional "0x" before them), at most max; false otherwise.
bool ParseHexNumber(std::string_view text, std::uint64_t max, std::uint64_t& value);

// What the configuration word means: bits 1:0 the oscillator, bit 2 the GP7 pin.
struct ConfigWordMeaning {
  const char* oscillator;  // "LP", "XT", "INVALID", "HS"
  const char* gp7;         // "RESET Pin" or "Digital Input"
  int meaningfulBits;      // bits 2:0
};
ConfigWordMeaning DescribeConfigWord(std::uint16_t word);

}  // namespace zk7
