// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The chip's configuration: 53 register bytes in device order, user memory,
// the image checksum and the configuration word.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace zk7 {

constexpr int kRegisterCount = 53;
constexpr int kUserMemorySize = 16;
constexpr int kImageSize = 70;  // 53 registers + 16 user bytes + checksum
constexpr int kUserMemoryFirstEntry = 53;
constexpr int kChecksumEntry = 69;

// Register indices in device order (= image entry numbers).
enum Reg : int {
  IOINTEN = 0, IOINTPO, GPLAT, RESERVED3, OPTREG1, T1CON, T2CON, PR1, PR2, PWM1DCH,
  PWM2DCH, CNF1, CNF2, CNF3, ADCON0, ADCON1, STCON, OPTREG2, RESERVED18, RESERVED19,
  RXMSIDH, RXMSIDL, RXMEID8, RXMEID0, RXF0SIDH, RXF0SIDL, RXF0EID8, RXF0EID0,
  RXF1SIDH, RXF1SIDL, RXF1EID8, RXF1EID0, TXID0SIDH, TXID0SIDL, TXID0EID8, TXID0EID0,
  TXID1SIDH, TXID1SIDL, TXID1EID8, TXID1EID0, TXID2SIDH, TXID2SIDL, TXID2EID8, TXID2EID0,
  ADCMP3H, ADCMP3L, ADCMP2H, ADCMP2L, ADCMP1H, ADCMP1L, ADCMP0H, ADCMP0L, GPDDR
};
static_assert(GPDDR == kRegisterCount - 1, "register table out of step");

struct RegisterInfo {
  int index;
  const char* name;  // "" for the three reserved bytes
  std::uint8_t defaultValue;
};

// The one table of registers: index, name, default. Everything that names a
// register (files, displays, reports) reads it from here.
const std::array<RegisterInfo, kRegisterCount>& RegisterTable();
// Name of a register, "" for a reserved byte; throws std::out_of_range for a bad index.
const char* RegisterName(int index);
// Index of the register with this exact name, or -1.
int RegisterIndex(std::string_view name);

// Thrown when a value outside 0..255 would be stored into a byte.
class RangeError : public std::out_of_range {
 public:
  using std::out_of_range::out_of_range;
};

// Checked conversion to a byte: throws RangeError for a value outside 0..255.
std::uint8_t CheckedByte(long long value, std::string_view what);

// Bits 1:0 of ConfigWord.
enum OscMode : int { OscLP = 0, OscXT = 1, OscInvalid = 2, OscHS = 3 };
constexpr int kConfigGP7Reset = 0x04;

class RegisterSet {
 public:
  RegisterSet() = default;

  std::uint8_t reg(int index) const { return regs_.at(static_cast<std::size_t>(index)); }
  std::uint8_t operator[](Reg r) const { return reg(r); }
  // Stores value into register index; throws RangeError outside 0..255 (nothing stored).
  void set(int index, long long value);

  std::uint8_t user(int k) const { return user_.at(static_cast<std::size_t>(k)); }
  void setUser(int k, long long value);

  std::uint8_t ImageChecksum() const { return checksum_; }
  void setImageChecksum(long long value);

  std::int16_t ConfigWord() const { return configWord_; }
  void setConfigWord(std::int16_t value) { configWord_ = value; }

  // Image entry 0..69 as held in the register set (registers, user memory, checksum).
  std::uint8_t entry(int i) const;
  void setEntry(int i, long long value);

  const std::array<std::uint8_t, kRegisterCount>& registers() const { return regs_; }
  const std::array<std::uint8_t, kUserMemorySize>& userMemory() const { return user_; }

  bool operator==(const RegisterSet& o) const {
    return regs_ == o.regs_ && user_ == o.user_ && checksum_ == o.checksum_ &&
           configWord_ == o.configWord_;
  }
  bool operator!=(const RegisterSet& o) const { return !(*this == o); }

 private:
  std::array<std::uint8_t, kRegisterCount> regs_{};
  std::array<std::uint8_t, kUserMemorySize> user_{};
  std::uint8_t checksum_ = 0;
  std::int16_t configWord_ = 0;
};

// Loads the power-up defaults: table values, user memory 0xFF, checksum 0xFF,
// ConfigWord 0x0007.
void SetDefaultRegisters(RegisterSet& rs);

// ConfigWord with its oscillator bits replaced and the high byte cleared, as
// the oscillator options do: (word AND 0xFC) + mode.
std::int16_t WithOscMode(std::int16_t word, int mode);
// ConfigWord with bit 2 (GP7 is the reset input) set or cleared, high byte cleared.
std::int16_t WithGP7Reset(std::int16_t word, bool reset);

}  // namespace zk7
