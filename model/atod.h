// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The A/D converter: its three list settings with the times and rates they
// give at an oscillator frequency, and the four threshold detectors with
// their 10-bit codes and voltages. The A/D window and the command line share
// these.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "model/registers.h"

namespace zk7 {

// One line of a settings list: its text and the factor it stands for.
struct ListLine {
  const char* text;
  int data;
};

// Conversion clock, ADCON1 bits 7:6: "Fosc / 2", "Fosc / 8", "Fosc / 32",
// "RESERVED" (factors 2, 8, 32, 0: the reserved line runs from the internal
// RC clock, so no rate follows from Fosc).
const std::array<ListLine, 4>& AtoDConvLines();
// Acquisition time, OPTREG1 bits 1:0: 1, 2, 4 or 8 times 64 oscillator periods.
const std::array<ListLine, 4>& AtoDAcqLines();
// Time between automatic conversions, ADCON0 bits 6:4: 1:1 .. 1:4096 (x 1024 periods).
const std::array<ListLine, 8>& AutoConvLines();

inline int AtoDConvLine(const RegisterSet& rs) {
  return (rs[ADCON1] >> 6) & 3;
}
inline int AtoDAcqLine(const RegisterSet& rs) {
  return rs[OPTREG1] & 3;
}
inline int AutoConvLine(const RegisterSet& rs) {
  return (rs[ADCON0] >> 4) & 7;
}
// Store a list line into its register field, keeping the other bits.
void SetAtoDConvLine(RegisterSet& rs, int line);
void SetAtoDAcqLine(RegisterSet& rs, int line);
void SetAutoConvLine(RegisterSet& rs, int line);

// Conversion clock in MHz: Fosc / 1e6 / factor; none for "RESERVED".
std::optional<double> AtoDConvRateMHz(double fosc, int line);
// Acquisition time in microseconds: factor * 64 / Fosc * 1e6; none while Fosc is 0.
std::optional<double> AtoDAcqTimeUs(double fosc, int line);
// Time between automatic conversions in ms: factor * 1024 / Fosc * 1000; none while Fosc is 0.
std::optional<double> AutoConvTimeMs(double fosc, int line);

// The texts shown for them: the number, "--Frc--" for the reserved clock,
// "--" for a time without an oscillator frequency.
std::string AtoDConvRateText(double fosc, int line, char decimalSeparator = '.');
std::string AtoDAcqTimeText(double fosc, int line, char decimalSeparator = '.');
std::string AutoConvTimeText(double fosc, int line, char decimalSeparator = '.');
inline const char* ReservedClockText() {
  return "--Frc--";
}

// Threshold detectors, channels AN0..AN3. The code C (0..1023) is stored as
// ADCMPnH = C div 4 and ADCMPnL = (C * 64) and 0xFF (bits 5:0 zero).
constexpr int kThresholdChannels = 4;
constexpr int kThresholdMax = 1023;
int ThresholdHighRegister(int channel);  // ADCMPnH
int ThresholdLowRegister(int channel);   // ADCMPnL
int ThresholdCode(const RegisterSet& rs, int channel);
// Throws RangeError for a code outside 0..1023 (nothing stored).
void SetThresholdCode(RegisterSet& rs, int channel, int code);
// The threshold sliders run from the highest code at the top (position 0)
// to code 0 at the bottom.
inline int CodeAtSliderPosition(int position) {
  return kThresholdMax - position;
}
inline int SliderPositionOfCode(int code) {
  return kThresholdMax - code;
}

// Voltage scale of the threshold codes: base = Vref-, span = Vref+ - Vref-.
struct ThresholdScale {
  double span = 5.0;
  double base = 0.0;
};
ThresholdScale ScaleFromReferences(double vrefPlus, double vrefMinus);
// Voltage of a code: C * (span / 1024) + base.
double ThresholdVoltage(int code, const ThresholdScale& scale);
// A reference voltage typed as digits with at most one point ("5", "3.3",
// ".5"); none for an empty text or anything else.
std::optional<double> ParseReferenceVoltage(std::string_view text);

}  // namespace zk7
