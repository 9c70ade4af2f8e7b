// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Intel HEX import: the 70 image words and the configuration word, read from
// the export this program writes or from another tool's layout of the same
// words (any record length, any order, with or without an extended address
// record, start address records, CR LF, LF or CR line ends, either case of
// hex digits, a Ctrl-Z after the text).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "model/registers.h"

namespace zk7 {

struct IntelHexContents {
  // The low byte of each image word 0..69 (every word is 0x34xx).
  std::array<std::uint8_t, kImageSize> image{};
  // The low byte of the configuration word at word address 0x2007, when the file has it.
  std::optional<std::uint8_t> configLow;
};

// Parses a whole HEX text, all or nothing: out is assigned only on success.
// Accepted records: 00 (data), 01 (end), 02 and 04 (segment and linear
// address, which must be 0), 03 and 05 (start address, ignored). Every data byte must belong to an
// image word (word addresses 0..69, 0x34 as high byte) or to the configuration word (0x2007, high
// byte 0x3F). A refusal names the line: a bad record (no ':', a character that is not a hex digit,
// a wrong byte count or checksum), an address outside those words, a word of another form, a second
// value for the same address, a record after the end record, a missing image word (named by the end
// record's line) or a missing end record.
bool ParseIntelHex(const std::string& content, IntelHexContents& out, std::string& error);

// The export of this program is about 450 bytes; other tools' layouts of the
// same words stay far below this.
constexpr std::size_t kMaxIntelHexBytes = 64 * 1024;
bool ReadIntelHexFile(const std::string& path, IntelHexContents& out, std::string& error);

}  // namespace zk7
