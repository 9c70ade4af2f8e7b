// Serial numbers: each chip of a production run gets the next value of a
// rule, written into a CAN identifier or into user-memory bytes before the
// image is built.
//
//   TXID0=std:100        standard identifier 0x100, 0x101, 0x102, ...
//   RXF1=ext:1000:16     extended identifier 0x1000, 0x1010, 0x1020, ...
//   USER0-3=00010000     user-memory bytes 0..3 as one big-endian number
//   USER15=1:2           user-memory byte 15: 0x01, 0x03, 0x05, ...
//
// START is hexadecimal, STEP (default 1) decimal.
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

// Parses NAME=START[:STEP]. NAME is TXID0, TXID1, TXID2, RXF0 or RXF1 (START
// given as std:HEX or ext:HEX) or USERi-j / USERi (0 <= i <= j <= 15, at most
// 8 bytes). False with error for anything else, a STEP of 0, or a START that
// does not fit.
bool ParseSerialRule(std::string_view text, SerialRule& out, std::string& error);

// Writes value into rs; false with error (nothing written) when it does not fit.
bool ApplySerial(const SerialRule& rule, std::uint64_t value, RegisterSet& rs, std::string& error);

// The value as the log and the progress lines write it: upper-case hex, user
// memory padded to two digits a byte.
std::string SerialText(const SerialRule& rule, std::uint64_t value);

}  // namespace zk7
