// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Serial numbers: each chip of a production run gets the next value of a
// rule, written into a CAN identifier or into user-memory bytes before the
// image is built.
//
//   TXID0=std:100        standard identifier 0x100, 0x101, 0x102, ...
//   RXF1=ext:1000:16     extended identifier 0x1000, 0x1010, 0x1020, ...
//   USER0-3=00010000     user-memory bytes 0..3 as one big-endian number
//   USER15=1:2           user-memory byte 15: 0x01, 0x03, 0x05, ...
//   TXID0=std:100..std:1FF             a station's range: 0x100 to 0x1FF, 256 values
//   RXF0=ext:18FF0000:16..ext:18FF0FFF 0x18FF0000, 0x18FF0010, ... up to 0x18FF0FF0
//   USER0-3=00010000..0001FFFF         user memory 0x00010000 to 0x0001FFFF
//
// START and LAST are hexadecimal, LAST written as START is (an identifier's
// type prefix included); STEP (default 1) is decimal. Without LAST the range
// ends at the field's largest value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/registers.h"

namespace zk7 {

struct SerialRule {
  std::string name;                 // as written: "TXID0", "USER0-3"
  std::optional<int> identifier;    // an identifier (CanIdName index), else user memory
  bool extended = false;            // the identifier's type
  int firstUser = 0, lastUser = 0;  // user-memory bytes, most significant first
  std::uint64_t start = 0;
  std::uint64_t step = 1;
  // The last value a range may give (none: up to the field's largest value).
  std::optional<std::uint64_t> last;
  // The largest value the field holds: 0x7FF, 0x1FFFFFFF, or all ones in the bytes' width.
  std::uint64_t max() const;
  // The largest value the rule gives: last, or max().
  std::uint64_t end() const { return last && *last < max() ? *last : max(); }
};

// Widest user-memory field a serial number may take, in bytes.
constexpr int kMaxSerialBytes = 8;

// Parses NAME=START[:STEP][..LAST]. NAME is TXID0, TXID1, TXID2, RXF0 or RXF1
// (START given as std:HEX or ext:HEX) or USERi-j / USERi (0 <= i <= j <= 15,
// at most 8 bytes). False with error for anything else, a STEP of 0, a START
// or LAST that does not fit, a LAST below START, without START's prefix or of
// another type.
bool ParseSerialRule(std::string_view text, SerialRule& out, std::string& error);

// The rule's values as written: "std:100..std:1FF", "00010000..0001FFFF".
std::string SerialRangeText(const SerialRule& rule);
// How many values the rule gives from `from` (a value of the rule) to its
// end; 0 past the end. (A range of 2^64 values is counted as 2^64 - 1.)
std::uint64_t SerialValuesFrom(const SerialRule& rule, std::uint64_t from);
// Why no value is left: "the serial range TXID0 std:100..std:1FF is used up (256 values)".
std::string SerialUsedUpText(const SerialRule& rule);

// Writes value into rs; false with error (nothing written) when it does not fit.
bool ApplySerial(const SerialRule& rule, std::uint64_t value, RegisterSet& rs, std::string& error);

// The value as the log and the progress lines write it: upper-case hex, user
// memory padded to two digits a byte.
std::string SerialText(const SerialRule& rule, std::uint64_t value);

}  // namespace zk7
