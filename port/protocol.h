// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The serial programming protocol's command codes and power lines, shared by
// the host side and the emulated chip, and the text of a port address.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace zk7 {

// Stands for the configuration word where an image position (0..69) is
// expected: in failures, check results and the emulated chip's options.
constexpr int kConfigWordPosition = -1;

constexpr int kCmdLoadConfig = 0x00;
constexpr int kCmdLoadData = 0x02;
constexpr int kCmdReadData = 0x04;
constexpr int kCmdIncrement = 0x06;
constexpr int kCmdBeginProgramming = 0x08;
constexpr int kCmdEndProgramming = 0x0E;

// The data-register byte with every programmer line off (the line shadow's
// first value): what a driver sets before the first line change reaches it.
constexpr std::uint8_t kLinesOff = 0xD0;
// The status byte of a connected adapter with the read-back line low: bit 7
// high, bits 5 and 4 low (the cable check passes), unused low bits high.
constexpr std::uint8_t kStatusConnected = 0x8F;
// The data-register bits that put the chip under power or in programming mode.
constexpr std::uint8_t kVppOnBit = 0x08;   // programming voltage, on while set
constexpr std::uint8_t kVddOffBit = 0x10;  // supply, on while clear
constexpr std::uint8_t kPrgOffBit = 0x80;  // programming-mode select, on while clear

// True until leaving programming mode is complete: VPP or VDD on, or the
// programming-mode select still on (a run stopped between the last two writes
// of leaving must still get its nPRG off).
inline bool LinesPowered(std::uint8_t data) {
  return (data & kVppOnBit) != 0 || (data & kVddOffBit) == 0 || (data & kPrgOffBit) == 0;
}

// "0x378".
inline std::string PortAddressText(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%03X", value);
  return text;
}

}  // namespace zk7
