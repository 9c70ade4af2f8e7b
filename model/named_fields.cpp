// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/named_fields.h"

#include <cctype>

#include "model/can_timing.h"
#include "model/format.h"

namespace zk7 {

namespace {

constexpr const char* kUserPrefix = "USER";
constexpr const char* kReservedPrefix = "reserved";

// "USER7" -> 7 for a prefix and a decimal number below limit.
std::optional<int> NumberedName(std::string_view name, std::string_view prefix, int limit) {
  if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size() ||
      name.size() > prefix.size() + 2)
    return std::nullopt;
  int n = 0;
  for (char c : name.substr(prefix.size())) {
    if (c < '0' || c > '9') return std::nullopt;
    n = n * 10 + (c - '0');
  }
  if (name[prefix.size()] == '0' && name.size() > prefix.size() + 1) return std::nullopt;
  return n < limit ? std::optional<int>(n) : std::nullopt;
}

}  // namespace

std::string EntryName(int position) {
  if (position < 0 || position >= kImageSize)
    throw std::out_of_range("image entry " + std::to_string(position));
  if (position < kRegisterCount) {
    const char* name = RegisterName(position);
    return *name ? name : kReservedPrefix + std::to_string(position);
  }
  if (position < kChecksumEntry)
    return kUserPrefix + std::to_string(position - kUserMemoryFirstEntry);
  return "checksum";
}

std::optional<int> EntryByName(std::string_view name) {
  if (const int r = RegisterIndex(name); r >= 0) return r;
  if (const auto k = NumberedName(name, kUserPrefix, kUserMemorySize))
    return kUserMemoryFirstEntry + *k;
  if (const auto r = NumberedName(name, kReservedPrefix, kRegisterCount); r && !*RegisterName(*r))
    return r;
  if (name == "checksum") return kChecksumEntry;
  return std::nullopt;
}

std::optional<int> IdentifierByName(std::string_view name) {
  for (int id = 0; id < kCanIdCount; ++id)
    if (name == kCanIdName[static_cast<std::size_t>(id)]) return id;
  return std::nullopt;
}

Identifier ReadIdentifier(const RegisterSet& rs, int id) {
  const bool extended = (rs.reg(CanIdReg(id, SIDL)) & kSIDLExtended) != 0;
  return {extended, RawID(rs, id, extended)};
}

bool WriteIdentifier(RegisterSet& rs, int id, const Identifier& value) {
  if (value.id > CanIdMax(value.extended)) return false;
  SetCanId(rs, id, value.id, value.extended);
  return true;
}

std::string HexText(std::uint64_t value) {
  std::string digits;
  do {
    digits.insert(0, 1, "0123456789ABCDEF"[value & 0xF]);
    value >>= 4;
  } while (value != 0);
  return digits;
}

bool ParseHexNumber(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
    text.remove_prefix(2);
  if (text.empty()) return false;
  std::uint64_t v = 0;
  for (char c : text) {
    const int d = std::isxdigit(static_cast<unsigned char>(c))
                      ? (std::isdigit(static_cast<unsigned char>(c))
                             ? c - '0'
                             : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10)
                      : -1;
    if (d < 0 || v > (max - static_cast<std::uint64_t>(d)) / 16) return false;
    v = v * 16 + static_cast<std::uint64_t>(d);
  }
  value = v;
  return true;
}

bool ParseIdentifier(std::string_view text, Identifier& out, std::string& error) {
  const auto colon = text.find(':');
  std::string kind(text.substr(0, colon == std::string_view::npos ? 0 : colon));
  for (char& c : kind) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (colon == std::string_view::npos || (kind != "std" && kind != "ext")) {
    error = "'" + std::string(text) + "' is not std:HEX or ext:HEX";
    return false;
  }
  const bool extended = kind == "ext";
  std::uint64_t v = 0;
  if (!ParseHexNumber(text.substr(colon + 1), CanIdMax(extended), v)) {
    error = "'" + std::string(text) + "' is not a " + (extended ? "29" : "11") +
            "-bit identifier (0 to " + HexNoPad(CanIdMax(extended)) + " in hex)";
    return false;
  }
  out = {extended, static_cast<std::uint32_t>(v)};
  return true;
}

std::string IdentifierText(const Identifier& value) {
  return (value.extended ? "ext:" : "std:") + HexNoPad(value.id);
}

ConfigWordMeaning DescribeConfigWord(std::uint16_t word) {
  static const char* const kOscillator[] = {"LP", "XT", "INVALID", "HS"};
  return {kOscillator[word & 3], (word & kConfigGP7Reset) ? "RESET Pin" : "Digital Input",
          word & 7};
}

}  // namespace zk7
