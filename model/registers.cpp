// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/registers.h"

namespace zk7 {

const std::array<RegisterInfo, kRegisterCount>& RegisterTable() {
  static const std::array<RegisterInfo, kRegisterCount> table = {{
      {IOINTEN, "IOINTEN", 0x00},     {IOINTPO, "IOINTPO", 0x00},
      {GPLAT, "GPLAT", 0x00},         {RESERVED3, "", 0xFF},
      {OPTREG1, "OPTREG1", 0xF0},     {T1CON, "T1CON", 0x00},
      {T2CON, "T2CON", 0x00},         {PR1, "PR1", 0xFF},
      {PR2, "PR2", 0xFF},             {PWM1DCH, "PWM1DCH", 0xFF},
      {PWM2DCH, "PWM2DCH", 0xFF},     {CNF1, "CNF1", 0x00},
      {CNF2, "CNF2", 0x00},           {CNF3, "CNF3", 0x01},
      {ADCON0, "ADCON0", 0x00},       {ADCON1, "ADCON1", 0x00},
      {STCON, "STCON", 0x3F},         {OPTREG2, "OPTREG2", 0x00},
      {RESERVED18, "", 0xFF},         {RESERVED19, "", 0xFF},
      {RXMSIDH, "RXMSIDH", 0xFF},     {RXMSIDL, "RXMSIDL", 0xEB},
      {RXMEID8, "RXMEID8", 0xFF},     {RXMEID0, "RXMEID0", 0xFF},
      {RXF0SIDH, "RXF0SIDH", 0xFF},   {RXF0SIDL, "RXF0SIDL", 0xEB},
      {RXF0EID8, "RXF0EID8", 0xFF},   {RXF0EID0, "RXF0EID0", 0xFF},
      {RXF1SIDH, "RXF1SIDH", 0xFF},   {RXF1SIDL, "RXF1SIDL", 0xEB},
      {RXF1EID8, "RXF1EID8", 0xFF},   {RXF1EID0, "RXF1EID0", 0xFF},
      {TXID0SIDH, "TXID0SIDH", 0xFF}, {TXID0SIDL, "TXID0SIDL", 0xEB},
      {TXID0EID8, "TXID0EID8", 0xFF}, {TXID0EID0, "TXID0EID0", 0xFF},
      {TXID1SIDH, "TXID1SIDH", 0xFF}, {TXID1SIDL, "TXID1SIDL", 0xEB},
      {TXID1EID8, "TXID1EID8", 0xFF}, {TXID1EID0, "TXID1EID0", 0xFF},
      {TXID2SIDH, "TXID2SIDH", 0xFF}, {TXID2SIDL, "TXID2SIDL", 0xEB},
      {TXID2EID8, "TXID2EID8", 0xFF}, {TXID2EID0, "TXID2EID0", 0xFF},
      {ADCMP3H, "ADCMP3H", 0xFF},     {ADCMP3L, "ADCMP3L", 0xC0},
      {ADCMP2H, "ADCMP2H", 0xFF},     {ADCMP2L, "ADCMP2L", 0xC0},
      {ADCMP1H, "ADCMP1H", 0xFF},     {ADCMP1L, "ADCMP1L", 0xC0},
      {ADCMP0H, "ADCMP0H", 0xFF},     {ADCMP0L, "ADCMP0L", 0xC0},
      {GPDDR, "GPDDR", 0x7F},
  }};
  return table;
}

const char* RegisterName(int index) {
  return RegisterTable().at(static_cast<std::size_t>(index)).name;
}

int RegisterIndex(std::string_view name) {
  if (name.empty()) return -1;
  for (const auto& r : RegisterTable())
    if (name == r.name) return r.index;
  return -1;
}

std::uint8_t CheckedByte(long long value, std::string_view what) {
  if (value < 0 || value > 255)
    throw RangeError("value " + std::to_string(value) + " does not fit " + std::string(what) +
                     " (0 to 255)");
  return static_cast<std::uint8_t>(value);
}

static std::string RegisterLabel(int index) {
  const char* n = RegisterName(index);
  return *n ? std::string(n) : "reserved byte " + std::to_string(index);
}

void RegisterSet::set(int index, long long value) {
  if (index < 0 || index >= kRegisterCount)
    throw std::out_of_range("register index " + std::to_string(index));
  regs_[static_cast<std::size_t>(index)] = CheckedByte(value, RegisterLabel(index));
}

void RegisterSet::setUser(int k, long long value) {
  if (k < 0 || k >= kUserMemorySize) throw std::out_of_range("user memory index " + std::to_string(k));
  user_[static_cast<std::size_t>(k)] = CheckedByte(value, "user memory byte " + std::to_string(k));
}

void RegisterSet::setImageChecksum(long long value) {
  checksum_ = CheckedByte(value, "the image checksum");
}

std::uint8_t RegisterSet::entry(int i) const {
  if (i < kUserMemoryFirstEntry) return reg(i);
  if (i < kChecksumEntry) return user(i - kUserMemoryFirstEntry);
  if (i == kChecksumEntry) return checksum_;
  throw std::out_of_range("image entry " + std::to_string(i));
}

void RegisterSet::setEntry(int i, long long value) {
  if (i < kUserMemoryFirstEntry)
    set(i, value);
  else if (i < kChecksumEntry)
    setUser(i - kUserMemoryFirstEntry, value);
  else if (i == kChecksumEntry)
    setImageChecksum(value);
  else
    throw std::out_of_range("image entry " + std::to_string(i));
}

void SetDefaultRegisters(RegisterSet& rs) {
  for (const auto& r : RegisterTable()) rs.set(r.index, r.defaultValue);
  for (int k = 0; k < kUserMemorySize; ++k) rs.setUser(k, 0xFF);
  rs.setImageChecksum(0xFF);
  rs.setConfigWord(0x0007);
}

std::int16_t WithOscMode(std::int16_t word, int mode) {
  return static_cast<std::int16_t>((word & 0xFC) + (mode & 3));
}

std::int16_t WithGP7Reset(std::int16_t word, bool reset) {
  return static_cast<std::int16_t>((word & 0xFB) | (reset ? kConfigGP7Reset : 0));
}

}  // namespace zk7
