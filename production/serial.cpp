// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "production/serial.h"

#include <charconv>

#include "model/can_timing.h"
#include "model/format.h"
#include "model/named_fields.h"

namespace zk7 {

namespace {

// The identifiers a serial number may go into: the mask is not one.
bool SerialIdentifierAllowed(int id) {
  return std::string_view(kCanIdName[static_cast<std::size_t>(id)]) != "RXM";
}

bool ParseDecimal(std::string_view text, std::uint64_t& value) {
  const auto* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  return !text.empty() && ec == std::errc() && ptr == end;
}

bool ParseUserRange(std::string_view name, int& first, int& last) {
  if (name.substr(0, 4) != "USER") return false;
  name.remove_prefix(4);
  const auto dash = name.find('-');
  std::uint64_t a = 0, b = 0;
  if (!ParseDecimal(name.substr(0, dash), a)) return false;
  b = a;
  if (dash != std::string_view::npos && !ParseDecimal(name.substr(dash + 1), b)) return false;
  if (a > b || b >= static_cast<std::uint64_t>(kUserMemorySize)) return false;
  first = static_cast<int>(a);
  last = static_cast<int>(b);
  return true;
}

}  // namespace

std::uint64_t SerialRule::max() const {
  if (identifier) return CanIdMax(extended);
  const int bits = 8 * (lastUser - firstUser + 1);
  return bits >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
}

bool ParseSerialRule(std::string_view text, SerialRule& out, std::string& error) {
  const auto eq = text.find('=');
  if (eq == std::string_view::npos) {
    error = "'" + std::string(text) + "' is not NAME=START[:STEP][..LAST]";
    return false;
  }
  SerialRule rule;
  rule.name = std::string(text.substr(0, eq));
  std::string_view value = text.substr(eq + 1);
  // A range's end follows "..": neither START nor STEP holds a dot.
  std::optional<std::string_view> lastText;
  if (const auto dots = value.find(".."); dots != std::string_view::npos) {
    lastText = value.substr(dots + 2);
    value = value.substr(0, dots);
  }
  // The step is what follows the last colon, unless that colon ends "std:" / "ext:".
  const auto colon = value.rfind(':');
  std::string_view startText = value;
  if (colon != std::string_view::npos && value.find(':') != colon) {
    startText = value.substr(0, colon);
  } else if (colon != std::string_view::npos && !IdentifierByName(rule.name)) {
    startText = value.substr(0, colon);
  }
  if (startText.size() < value.size()) {
    const std::string_view stepText = value.substr(startText.size() + 1);
    if (!ParseDecimal(stepText, rule.step) || rule.step == 0) {
      error = "the step '" + std::string(stepText) + "' is not a whole number from 1";
      return false;
    }
  }

  if (const auto id = IdentifierByName(rule.name)) {
    if (!SerialIdentifierAllowed(*id)) {
      error = "the receive mask RXM takes no serial number (use TXID0..TXID2, RXF0 or RXF1)";
      return false;
    }
    Identifier start;
    if (!ParseIdentifier(startText, start, error)) {
      error = rule.name + ": " + error;
      return false;
    }
    rule.identifier = *id;
    rule.extended = start.extended;
    rule.start = start.id;
    if (lastText) {
      Identifier last;
      const std::string prefix(startText.substr(0, 4));
      if (!ParseIdentifier(*lastText, last, error)) {
        error = lastText->find(':') == std::string_view::npos
                    ? rule.name + ": the range's end '" + std::string(*lastText) +
                          "' is not written as its start (" + prefix + "HEX)"
                    : rule.name + ": " + error;
        return false;
      }
      if (last.extended != start.extended) {
        error = rule.name + ": the range's end " + std::string(*lastText) +
                " is of another type than its start " + std::string(startText);
        return false;
      }
      rule.last = last.id;
    }
  } else if (ParseUserRange(rule.name, rule.firstUser, rule.lastUser)) {
    if (rule.lastUser - rule.firstUser + 1 > kMaxSerialBytes) {
      error = rule.name + ": a serial number takes at most " + std::to_string(kMaxSerialBytes) +
              " bytes";
      return false;
    }
    const std::string digits = std::to_string(2 * (rule.lastUser - rule.firstUser + 1));
    if (!ParseHexNumber(startText, rule.max(), rule.start)) {
      error = rule.name + ": '" + std::string(startText) + "' is not a hex number of at most " +
              digits + " digits";
      return false;
    }
    if (lastText && !ParseHexNumber(*lastText, rule.max(), rule.last.emplace())) {
      error = rule.name + ": the range's end '" + std::string(*lastText) +
              "' is not a hex number of at most " + digits + " digits";
      return false;
    }
  } else {
    error = "'" + rule.name +
            "' is not TXID0, TXID1, TXID2, RXF0, RXF1 or USERi-j (user-memory bytes 0..15)";
    return false;
  }
  if (rule.last && *rule.last < rule.start) {
    error = rule.name + ": the range's end " + std::string(*lastText) + " is below its start";
    return false;
  }
  out = rule;
  return true;
}

std::string SerialRangeText(const SerialRule& rule) {
  if (rule.identifier)
    return IdentifierText({rule.extended, static_cast<std::uint32_t>(rule.start)}) + ".." +
           IdentifierText({rule.extended, static_cast<std::uint32_t>(rule.end())});
  return SerialText(rule, rule.start) + ".." + SerialText(rule, rule.end());
}

std::uint64_t SerialValuesFrom(const SerialRule& rule, std::uint64_t from) {
  if (from > rule.end()) return 0;
  const std::uint64_t steps = (rule.end() - from) / rule.step;
  return steps == ~std::uint64_t{0} ? steps : steps + 1;
}

std::string SerialUsedUpText(const SerialRule& rule) {
  const std::uint64_t size = SerialValuesFrom(rule, rule.start);
  return "the serial range " + rule.name + " " + SerialRangeText(rule) + " is used up (" +
         std::to_string(size) + (size == 1 ? " value)" : " values)");
}

bool ApplySerial(const SerialRule& rule, std::uint64_t value, RegisterSet& rs, std::string& error) {
  if (value > rule.max()) {
    error = "the serial value " + SerialText(rule, value) + " does not fit " + rule.name;
    return false;
  }
  if (rule.identifier)
    return WriteIdentifier(rs, *rule.identifier,
                           Identifier{rule.extended, static_cast<std::uint32_t>(value)});
  for (int k = rule.lastUser; k >= rule.firstUser; --k) {
    rs.setUser(k, static_cast<long long>(value & 0xFF));
    value >>= 8;
  }
  return true;
}

std::string SerialText(const SerialRule& rule, std::uint64_t value) {
  std::string digits = HexText(value);
  if (!rule.identifier) {
    const std::size_t width = static_cast<std::size_t>(2 * (rule.lastUser - rule.firstUser + 1));
    if (digits.size() < width) digits.insert(0, width - digits.size(), '0');
  }
  return digits;
}

}  // namespace zk7
