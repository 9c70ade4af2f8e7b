// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/devicefile.h"

#include <charconv>
#include <cmath>
#include <optional>
#include <string_view>
#include <vector>

#include "files/atomicfile.h"

namespace zk7 {

namespace {

constexpr int kConfigWordLine = kImageSize + 1;  // 71
constexpr int kFoscLine = kImageSize + 2;        // 72

// Splits into lines ended by LF (a CR before the LF is dropped); a last line
// without an ending still counts, an empty tail after the last LF does not.
std::vector<std::string_view> SplitLines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    auto end = text.find('\n', start);
    const bool last = end == std::string_view::npos;
    if (last) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (last) break;
    start = end + 1;
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

std::string LineLabel(int line) {
  const int entry = line - 1;
  std::string what;
  if (entry < kRegisterCount) {
    const char* name = RegisterName(entry);
    what = *name ? name : "reserved byte";
  } else if (entry < kChecksumEntry) {
    what = "user memory byte " + std::to_string(entry - kUserMemoryFirstEntry);
  } else if (entry == kChecksumEntry) {
    what = "checksum";
  } else if (line == kConfigWordLine) {
    what = "configuration word";
  } else {
    what = "frequency in kHz";
  }
  return "Line " + std::to_string(line) + " (" + what + ")";
}

// Reads a whole decimal number with an optional sign.
bool ParseInteger(std::string_view text, long long& value) {
  text = Trim(text);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return false;
  const auto* first = text.data();
  const auto* last = first + text.size();
  const auto [ptr, ec] = std::from_chars(first, last, value);
  return ec == std::errc() && ptr == last;
}

bool ParseNumberLine(std::string_view raw, int line, long long lo, long long hi, long long& value,
                     std::string& error) {
  const std::string_view text = Trim(raw);
  if (!ParseInteger(text, value)) {
    error = LineLabel(line) + ": \"" + std::string(text) + "\" is not a whole number.";
    return false;
  }
  if (value < lo || value > hi) {
    error = LineLabel(line) + ": " + std::to_string(value) + " does not fit (" +
            std::to_string(lo) + " to " + std::to_string(hi) + ").";
    return false;
  }
  return true;
}

}  // namespace

bool ParseFrequencyKHz(std::string_view raw, double& kHz, char decimalSeparator) {
  std::string text(Trim(raw));
  if (text.empty()) return false;
  if (decimalSeparator != '.') {
    for (char& c : text)
      if (c == decimalSeparator) c = '.';
  }
  std::string_view digits = text;
  if (digits.front() == '+') digits.remove_prefix(1);
  if (digits.empty()) return false;
  // Only plain decimal notation: from_chars would otherwise also take
  // "inf", "nan" and hexadecimal forms.
  for (char c : digits)
    if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == 'e' || c == 'E' || c == '+'))
      return false;
  double value = 0;
  const auto* last = digits.data() + digits.size();
  const auto [ptr, ec] = std::from_chars(digits.data(), last, value, std::chars_format::general);
  if (ec != std::errc() || ptr != last || !std::isfinite(value)) return false;
  kHz = value;
  return true;
}

std::optional<double> FoscHzFromText(std::string_view text, char decimalSeparator,
                                     std::string* why) {
  double kHz = 0;
  const char* problem = nullptr;
  if (!ParseFrequencyKHz(text, kHz, decimalSeparator))
    problem = "is not a number.";
  else if (kHz < 0)
    problem = "is negative; a frequency cannot be.";
  else if (!std::isfinite(kHz * 1000.0))
    problem = "is too large for a frequency.";
  if (!problem) return kHz * 1000.0 + 0.0;  // "-0" is 0 like any other zero
  if (why) *why = "\"" + std::string(Trim(text)) + "\" " + problem;
  return std::nullopt;
}

bool ParseDeviceFile(const std::string& content, DeviceFileContents& out, std::string& error,
                     char decimalSeparator) {
  std::string_view text = content;
  // A byte-order mark, as some editors put at the start, is not part of line 1.
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  const auto lines = SplitLines(text);
  if (static_cast<int>(lines.size()) < kConfigWordLine) {
    error = "The file ends after line " + std::to_string(lines.size()) +
            "; a device file holds at least " + std::to_string(kConfigWordLine) + " lines.";
    return false;
  }

  DeviceFileContents parsed;
  for (int i = 0; i < kImageSize; ++i) {
    long long value = 0;
    if (!ParseNumberLine(lines[static_cast<std::size_t>(i)], i + 1, 0, 255, value, error))
      return false;
    parsed.registers.setEntry(i, value);
  }
  long long word = 0;
  if (!ParseNumberLine(lines[kConfigWordLine - 1], kConfigWordLine, -32768, 32767, word, error))
    return false;
  parsed.registers.setConfigWord(static_cast<std::int16_t>(word));

  // A missing or blank frequency line means the frequency was never saved.
  if (static_cast<int>(lines.size()) < kFoscLine || Trim(lines[kFoscLine - 1]).empty()) {
    parsed.oldVersion = true;
  } else {
    const std::string_view text = lines[kFoscLine - 1];
    std::string why;
    const auto hz = FoscHzFromText(text, decimalSeparator, &why);
    if (!hz) {
      error = LineLabel(kFoscLine) + ": " + why;
      return false;
    }
    parsed.foscText = std::string(Trim(text));
    parsed.foscHz = *hz;
  }
  // Lines after 72 are ignored.
  out = parsed;
  return true;
}

bool ReadDeviceFile(const std::string& path, DeviceFileContents& out, std::string& error,
                    char decimalSeparator) {
  std::string content;
  return SayInterruptedWriteOnFailure(path,
                                      ReadWholeFile(path, kMaxDeviceFileBytes, content, error) &&
                                          ParseDeviceFile(content, out, error, decimalSeparator),
                                      error);
}

namespace {

// A number the way a numeric print writes it: the sign position (a space or
// "-"), the digits, one space.
void AppendNumberLine(std::string& text, long value) {
  text += value < 0 ? "-" : " ";
  text += std::to_string(value < 0 ? -value : value);
  text += " \r\n";
}

}  // namespace

std::string FormatDeviceFile(const MemoryImage& image, std::int16_t configWord,
                             const std::string& foscText) {
  std::string text;
  for (const auto entry : image.MemMap) AppendNumberLine(text, entry);
  AppendNumberLine(text, configWord);
  // The frequency is one line: a line break in it would shift every reader.
  for (char c : foscText)
    if (c != '\r' && c != '\n') text += c;
  text += "\r\n";
  return text;
}

bool WriteDeviceFile(const std::string& path, const MemoryImage& image, std::int16_t configWord,
                     const std::string& foscText, std::string& error) {
  for (int i = 0; i < kImageSize; ++i) {
    const auto v = image.MemMap[static_cast<std::size_t>(i)];
    if (v < 0 || v > 255) {
      error = LineLabel(i + 1) + ": " + std::to_string(v) + " is not a byte.";
      return false;
    }
  }
  return AtomicWriteFile(path, FormatDeviceFile(image, configWord, foscText), error);
}

}  // namespace zk7
