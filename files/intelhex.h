// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Intel HEX export of the program words and the configuration word.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/image.h"

namespace zk7 {

// Checksum of a type-00 record with count data bytes at address whose data
// bytes are given as hex digits (two per byte).
std::uint8_t HexRecordChecksum(int count, unsigned address, const std::string& dataText);

// The records of the export: extended linear address, 16-byte data records,
// the remainder, the configuration word at 0x400E, end of file; CR LF each.
std::string WriteIntelHex(const std::array<std::int16_t, kImageSize>& words,
                          std::int16_t configWord);

// Writes the export atomically; false with error when the file cannot be
// created or written (the old file is then intact).
bool WriteIntelHexFile(const std::string& path, const std::array<std::int16_t, kImageSize>& words,
                       std::int16_t configWord, std::string& error);

}  // namespace zk7
