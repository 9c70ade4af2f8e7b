// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The device file (*.dvs): 70 image bytes, the configuration word and the
// frequency text, one value per line, CR LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "model/image.h"
#include "model/registers.h"

namespace zk7 {

struct DeviceFileContents {
  RegisterSet registers;    // registers, user memory, checksum (as read) and ConfigWord
  bool oldVersion = false;  // 71-line file: no frequency line
  std::string foscText;     // line 72 as written (empty for an old-version file)
  double foscHz = 0;        // line 72 read as kHz, times 1000
};

// Reads a frequency text in kHz: decimal notation with "." or
// decimalSeparator, spaces around it skipped. False for anything else,
// NaN and infinities included.
bool ParseFrequencyKHz(std::string_view text, double& kHz, char decimalSeparator = '.');

// The frequency in Hz that a frequency line (kHz) stands for, exactly as the
// device-file reader takes line 72: a number as ParseFrequencyKHz reads it,
// not negative, finite once in Hz. nullopt otherwise, with the reason in why
// ("\"-5\" is negative; ...") when why is given.
std::optional<double> FoscHzFromText(std::string_view text, char decimalSeparator = '.',
                                     std::string* why = nullptr);

// Parses a whole device file. On failure returns false with error set to the
// description shown after "Error! "; out is then unspecified and the caller's
// configuration must be left as it was. decimalSeparator is the user's
// separator, accepted in line 72 beside ".". A blank line 72 counts as a
// missing one (oldVersion); lines after 72 are ignored. Lines end in CR LF or
// LF alone.
bool ParseDeviceFile(const std::string& content, DeviceFileContents& out, std::string& error,
                     char decimalSeparator = '.');
// A device file is about 300 bytes; anything this large is not one.
constexpr std::size_t kMaxDeviceFileBytes = 64 * 1024;
// Reads and parses the file at path (an unreadable or oversized file is an error).
bool ReadDeviceFile(const std::string& path, DeviceFileContents& out, std::string& error,
                    char decimalSeparator = '.');

// Text of a device file: lines 1-70 from MemMap, line 71 ConfigWord, line 72 foscText.
std::string FormatDeviceFile(const MemoryImage& image, std::int16_t configWord,
                             const std::string& foscText);
// Writes it atomically; on failure the old file is intact and error says why.
bool WriteDeviceFile(const std::string& path, const MemoryImage& image, std::int16_t configWord,
                     const std::string& foscText, std::string& error);

}  // namespace zk7
