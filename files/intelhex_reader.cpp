// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "files/intelhex_reader.h"

#include <map>
#include <string_view>
#include <vector>

#include "files/atomicfile.h"
#include "model/format.h"

namespace zk7 {

namespace {

constexpr unsigned kImageBytes = 2 * kImageSize;  // byte addresses 0..139
constexpr unsigned kConfigByteAddress = 0x400E;   // word address 0x2007, low byte first
constexpr unsigned kImageHighByte = 0x34;
constexpr unsigned kConfigHighByte = 0x3F;

enum RecordType : unsigned {
  kData = 0x00,
  kEnd = 0x01,
  kSegment = 0x02,
  kStartSegment = 0x03,
  kLinear = 0x04,
  kStartLinear = 0x05,
};
constexpr char kDosEndOfFile = 0x1A;  // Ctrl-Z, which old DOS tools put after the text

std::string LinePrefix(int line) {
  return "Line " + std::to_string(line) + ": ";
}

// A character as a reader of the message can see it.
std::string Shown(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u >= 0x21 && u < 0x7F) return std::string("'") + c + "'";
  return "the byte " + Hex2(u);
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r'))
    s.remove_suffix(1);
  return s;
}

// Decodes ":" and the digits of one record into its bytes; checks its length and checksum.
bool DecodeRecord(std::string_view text, int line, std::vector<unsigned>& bytes,
                  std::string& error) {
  if (text.front() != ':') {
    error =
        LinePrefix(line) + "a record starts with ':', this line with " + Shown(text.front()) + ".";
    return false;
  }
  text.remove_prefix(1);
  for (char c : text) {
    if (HexDigit(c) < 0) {
      error = LinePrefix(line) + Shown(c) + " is not a hexadecimal digit.";
      return false;
    }
  }
  if (text.size() % 2 != 0 || text.size() < 10) {
    error = LinePrefix(line) + "a record has an even number of digits, at least 10; this one has " +
            std::to_string(text.size()) + ".";
    return false;
  }
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2)
    bytes.push_back(static_cast<unsigned>(HexDigit(text[i]) * 16 + HexDigit(text[i + 1])));
  const unsigned count = bytes[0];
  if (bytes.size() != count + 5) {
    error = LinePrefix(line) + "the byte count says " + std::to_string(count) +
            " data bytes, the record holds " + std::to_string(bytes.size() - 5) + ".";
    return false;
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i + 1 < bytes.size(); ++i) sum += bytes[i];
  const unsigned expected = (0x100u - (sum & 0xFFu)) & 0xFFu;
  if (bytes.back() != expected) {
    error = LinePrefix(line) + "the checksum is " + Hex2(bytes.back()) +
            ", the record's bytes need " + Hex2(expected) + ".";
    return false;
  }
  return true;
}

struct PlacedByte {
  unsigned value;
  int line;
};

std::string WordText(unsigned byteAddress) {
  return "word address " + HexNoPad(byteAddress / 2) + " (byte address " + HexNoPad(byteAddress) +
         ")";
}

// The word at byteAddress (even) from the bytes placed: false with error when
// only one of its bytes is there or its high byte is not highByte.
bool CheckWord(const std::map<unsigned, PlacedByte>& bytes, unsigned byteAddress, unsigned highByte,
               bool& present, std::uint8_t& low, std::string& error) {
  const auto lo = bytes.find(byteAddress);
  const auto hi = bytes.find(byteAddress + 1);
  present = lo != bytes.end() && hi != bytes.end();
  if (lo == bytes.end() && hi == bytes.end()) return true;
  if (!present) {
    const int line = lo != bytes.end() ? lo->second.line : hi->second.line;
    error = LinePrefix(line) + "only one byte of " + WordText(byteAddress) + " is given.";
    return false;
  }
  if (hi->second.value != highByte) {
    error = LinePrefix(hi->second.line) + WordText(byteAddress) + " holds " +
            Hex2(hi->second.value) + Hex2(lo->second.value) + "; it must be " + Hex2(highByte) +
            "xx.";
    return false;
  }
  low = static_cast<std::uint8_t>(lo->second.value);
  return true;
}

}  // namespace

bool ParseIntelHex(const std::string& content, IntelHexContents& out, std::string& error) {
  std::string_view text = content;
  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  // A Ctrl-Z that only line ends or more Ctrl-Z follow marks the end of the text.
  if (const auto eof = text.find(kDosEndOfFile);
      eof != std::string_view::npos &&
      text.find_first_not_of(std::string_view("\x1A\r\n \t", 5), eof) == std::string_view::npos)
    text = text.substr(0, eof);

  std::map<unsigned, PlacedByte> placed;  // byte address -> value and the line that gave it
  std::vector<unsigned> bytes;
  int line = 0, endLine = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    // Lines end in LF, CR LF or a lone CR.
    auto stop = text.find_first_of("\r\n", start);
    if (stop == std::string_view::npos) stop = text.size();
    const std::string_view record = Trim(text.substr(start, stop - start));
    start = stop + (text.substr(stop, 2) == "\r\n" ? 2 : 1);
    ++line;
    if (record.empty()) continue;
    if (endLine != 0) {
      error = LinePrefix(line) + "a record after the end record of line " +
              std::to_string(endLine) + ".";
      return false;
    }
    if (!DecodeRecord(record, line, bytes, error)) return false;
    const unsigned count = bytes[0];
    const unsigned address = bytes[1] * 256 + bytes[2];
    const unsigned type = bytes[3];
    switch (type) {
      case kData:
        for (unsigned k = 0; k < count; ++k) {
          const unsigned at = address + k;
          if (at >= kImageBytes && (at < kConfigByteAddress || at > kConfigByteAddress + 1)) {
            error = LinePrefix(line) + WordText(at) +
                    " lies outside the image (word addresses 0 to 45) and the configuration word "
                    "(2007).";
            return false;
          }
          const unsigned value = bytes[4 + k];
          const auto [it, fresh] = placed.emplace(at, PlacedByte{value, line});
          if (!fresh && it->second.value != value) {
            error = LinePrefix(line) + WordText(at & ~1u) + " was given another value on line " +
                    std::to_string(it->second.line) + ".";
            return false;
          }
        }
        break;
      case kEnd:
        if (count != 0) {
          error = LinePrefix(line) + "an end record carries no data.";
          return false;
        }
        endLine = line;
        break;
      case kSegment:
      case kLinear:
        if (count != 2) {
          error = LinePrefix(line) + "an address record carries 2 data bytes.";
          return false;
        }
        if (bytes[4] != 0 || bytes[5] != 0) {
          error = LinePrefix(line) + "the upper address " + Hex2(bytes[4]) + Hex2(bytes[5]) +
                  " is not 0; every word of this chip lies below it.";
          return false;
        }
        break;
      case kStartSegment:
      case kStartLinear:
        // Where a processor would start running: nothing to burn.
        if (count != 4) {
          error = LinePrefix(line) + "a start address record carries 4 data bytes.";
          return false;
        }
        break;
      default:
        error =
            LinePrefix(line) + "record type " + Hex2(type) + " is not accepted (only 00 to 05).";
        return false;
    }
  }
  if (endLine == 0) {
    error = LinePrefix(line == 0 ? 1 : line) + "the file ends without an end record (:00000001FF).";
    return false;
  }

  IntelHexContents parsed;
  for (unsigned w = 0; w < static_cast<unsigned>(kImageSize); ++w) {
    bool present = false;
    if (!CheckWord(placed, 2 * w, kImageHighByte, present, parsed.image[w], error)) return false;
    if (!present) {
      error =
          LinePrefix(endLine) + "the file ends, but image " + WordText(2 * w) + " was never given.";
      return false;
    }
  }
  bool present = false;
  std::uint8_t low = 0;
  if (!CheckWord(placed, kConfigByteAddress, kConfigHighByte, present, low, error)) return false;
  if (present) parsed.configLow = low;
  out = parsed;
  return true;
}

bool ReadIntelHexFile(const std::string& path, IntelHexContents& out, std::string& error) {
  std::string content;
  return SayInterruptedWriteOnFailure(
      path,
      ReadWholeFile(path, kMaxIntelHexBytes, content, error) && ParseIntelHex(content, out, error),
      error);
}

}  // namespace zk7
