// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/atod.h"

#include <charconv>
#include <stdexcept>

#include "model/format.h"

namespace zk7 {

namespace {

template <std::size_t N>
int LineData(const std::array<ListLine, N>& lines, int line, const char* what) {
  if (line < 0 || line >= static_cast<int>(N))
    throw std::out_of_range(std::string(what) + " line " + std::to_string(line));
  return lines[static_cast<std::size_t>(line)].data;
}

void SetField(RegisterSet& rs, int reg, int mask, int shift, int line, int lines) {
  if (line < 0 || line >= lines)
    throw std::out_of_range(std::string(RegisterName(reg)) + " line " + std::to_string(line));
  rs.set(reg, (rs.reg(reg) & ~mask & 0xFF) | (line << shift));
}

std::string Text(std::optional<double> v, char sep) {
  return v ? FormatNumber(*v, sep) : std::string(NoValue());
}

void CheckChannel(int channel) {
  if (channel < 0 || channel >= kThresholdChannels)
    throw std::out_of_range("threshold channel " + std::to_string(channel));
}

}  // namespace

const std::array<ListLine, 4>& AtoDConvLines() {
  static const std::array<ListLine, 4> lines = {
      {{"Fosc / 2", 2}, {"Fosc / 8", 8}, {"Fosc / 32", 32}, {"RESERVED", 0}}};
  return lines;
}

const std::array<ListLine, 4>& AtoDAcqLines() {
  static const std::array<ListLine, 4> lines = {
      {{"64 / Tosc", 1}, {"2 * (64 / Tosc)", 2}, {"4 * (64 / Tosc)", 4}, {"8 * (64 / Tosc)", 8}}};
  return lines;
}

const std::array<ListLine, 8>& AutoConvLines() {
  static const std::array<ListLine, 8> lines = {{{"1:1", 1},
                                                 {"1:8", 8},
                                                 {"1:32", 32},
                                                 {"1:128", 128},
                                                 {"1:512", 512},
                                                 {"1:1024", 1024},
                                                 {"1:2048", 2048},
                                                 {"1:4096", 4096}}};
  return lines;
}

void SetAtoDConvLine(RegisterSet& rs, int line) {
  SetField(rs, ADCON1, 0xC0, 6, line, 4);
}
void SetAtoDAcqLine(RegisterSet& rs, int line) {
  SetField(rs, OPTREG1, 0x03, 0, line, 4);
}
void SetAutoConvLine(RegisterSet& rs, int line) {
  SetField(rs, ADCON0, 0x70, 4, line, 8);
}

std::optional<double> AtoDConvRateMHz(double fosc, int line) {
  int d = LineData(AtoDConvLines(), line, "conversion clock");
  if (d == 0) return std::nullopt;
  return fosc / 1000000.0 / d;
}

std::optional<double> AtoDAcqTimeUs(double fosc, int line) {
  int d = LineData(AtoDAcqLines(), line, "acquisition time");
  if (fosc == 0) return std::nullopt;
  return d * 64.0 / fosc * 1000000.0;
}

std::optional<double> AutoConvTimeMs(double fosc, int line) {
  int d = LineData(AutoConvLines(), line, "auto conversion");
  if (fosc == 0) return std::nullopt;
  return d * 1024.0 / fosc * 1000.0;
}

std::string AtoDConvRateText(double fosc, int line, char sep) {
  auto v = AtoDConvRateMHz(fosc, line);
  return v ? FormatNumber(*v, sep) : std::string(ReservedClockText());
}

std::string AtoDAcqTimeText(double fosc, int line, char sep) {
  return Text(AtoDAcqTimeUs(fosc, line), sep);
}

std::string AutoConvTimeText(double fosc, int line, char sep) {
  return Text(AutoConvTimeMs(fosc, line), sep);
}

int ThresholdHighRegister(int channel) {
  CheckChannel(channel);
  return ADCMP0H - 2 * channel;
}

int ThresholdLowRegister(int channel) {
  return ThresholdHighRegister(channel) + 1;
}

int ThresholdCode(const RegisterSet& rs, int channel) {
  return rs.reg(ThresholdHighRegister(channel)) * 4 + rs.reg(ThresholdLowRegister(channel)) / 64;
}

void SetThresholdCode(RegisterSet& rs, int channel, int code) {
  int hi = ThresholdHighRegister(channel);
  if (code < 0 || code > kThresholdMax)
    throw RangeError("threshold code " + std::to_string(code) + " outside 0 to 1023");
  rs.set(hi, code / 4);
  rs.set(hi + 1, (code * 64) & 0xFF);
}

ThresholdScale ScaleFromReferences(double vrefPlus, double vrefMinus) {
  return {vrefPlus - vrefMinus, vrefMinus};
}

double ThresholdVoltage(int code, const ThresholdScale& scale) {
  return code * (scale.span / 1024.0) + scale.base;
}

std::optional<double> ParseReferenceVoltage(std::string_view text) {
  bool digit = false;
  int points = 0;
  for (char c : text) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c == '.')
      ++points;
    else
      return std::nullopt;
  }
  if (!digit || points > 1) return std::nullopt;
  // from_chars does not take a number that ends or starts with the point on
  // every library, so give it one with digits on both sides.
  std::string s(text);
  if (s.front() == '.') s.insert(s.begin(), '0');
  if (s.back() == '.') s.push_back('0');
  double v = 0;
  auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size()) return std::nullopt;
  return v;
}

}  // namespace zk7
