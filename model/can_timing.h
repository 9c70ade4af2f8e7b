// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// CAN bit timing and identifiers: the fields of CNF1..CNF3, the derived
// timing quantities, the layout of the identifier bytes and the raw identifier.
// Pure functions, shared by the CAN window and the command line.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "model/registers.h"

namespace zk7 {

// A bit field of a register: the bits under mask, shifted down by shift.
struct CanField {
  Reg reg;
  std::uint8_t mask;
  int shift;
};

// The bit-timing fields. Segment and prescaler fields hold length - 1.
constexpr CanField kSJW{CNF1, 0xC0, 6};        // synchronisation jump width, 0..3 = 1..4 TQ
constexpr CanField kBRP{CNF1, 0x3F, 0};        // baud rate prescaler, 0..63 = divide by 1..64
constexpr CanField kBTLMODE{CNF2, 0x80, 7};    // PS2 length from CNF3 (1) or from PS1/IPT (0)
constexpr CanField kSAM{CNF2, 0x40, 6};        // bus sampled three times (1) or once (0)
constexpr CanField kPhaseSeg1{CNF2, 0x38, 3};  // phase segment 1, 0..7 = 1..8 TQ
constexpr CanField kPropSeg{CNF2, 0x07, 0};    // propagation segment, 0..7 = 1..8 TQ
constexpr CanField kWAKFIL{CNF3, 0x40, 6};     // wake-up filter on (1) or off (0)
constexpr CanField kPhaseSeg2{CNF3, 0x07, 0};  // phase segment 2, 0..7 = 1..8 TQ

// The field's value within byte.
constexpr int FieldValue(std::uint8_t byte, const CanField& f) {
  return (byte & f.mask) >> f.shift;
}
// byte with the field replaced by value (value is cut to the field's width).
constexpr std::uint8_t WithField(std::uint8_t byte, const CanField& f, int value) {
  return static_cast<std::uint8_t>((byte & ~f.mask) | ((value << f.shift) & f.mask));
}

// The bit timing held in CNF1..CNF3, lengths in TQ.
struct CanBitTiming {
  int sjw = 1;   // 1..4
  int brp = 0;   // prescaler field 0..63 (the clock is divided by brp + 1)
  int prop = 1;  // 1..8
  int ps1 = 1;   // 1..8
  int ps2 = 1;   // 1..8 (a field of 0 is 1 TQ, shorter than a controller accepts)
  bool sam = false, btlmode = false, wakfil = false;
};
CanBitTiming DecodeBitTiming(const RegisterSet& rs);

// TQ in one bit: the synchronisation segment (always 1 TQ) and the three segments.
constexpr int NumTQ(int prop, int ps1, int ps2) {
  return 1 + prop + ps1 + ps2;
}

// Nominal bit time in microseconds for prescaler field brp, numTQ quanta and
// oscillator fosc (Hz), computed as TQ := 2 (brp + 1) / fosc, then
// TQ x 1e6 x numTQ, in this order so the result rounds the same way every time.
// NaN when fosc is 0 (no finite result).
double BitTimeUs(int brp, int numTQ, double fosc);
// Bit rate in kbit/s for a bit time in microseconds; NaN when it has no finite value.
double BitRateKbps(double bitTimeUs);
// Sample point, in percent of the bit: after the synchronisation, propagation
// and first phase segments.
double SamplePointPercent(int prop, int ps1, int numTQ);

// The information processing time of the controller, in TQ.
constexpr int kInformationProcessingTQ = 2;
// Phase segment 2 as the controller uses it: the CNF3 field with BTLMODE
// set, otherwise the larger of PS1 and the information processing time.
constexpr int EffectivePS2(int ps1, int ps2, bool btlmode) {
  return btlmode ? ps2 : (ps1 > kInformationProcessingTQ ? ps1 : kInformationProcessingTQ);
}

// Rules a controller of this layout needs; a setting may break them.
enum BitTimingRule : unsigned {
  kRulePs2AtLeast2 = 1,     // PS2 at least 2 TQ
  kRulePs2AboveSjw = 2,     // PS2 longer than SJW
  kRuleSeg1AtLeastPs2 = 4,  // Prop + PS1 at least PS2
};
struct BitTimingRuleInfo {
  BitTimingRule rule;
  const char* broken;  // what a breaking setting does, as a warning
  const char* key;     // name in JSON output
};
constexpr std::array<BitTimingRuleInfo, 3> kBitTimingRules{{
    {kRulePs2AtLeast2, "PS2 shorter than 2 TQ", "ps2_below_2"},
    {kRulePs2AboveSjw, "PS2 not longer than SJW", "ps2_not_above_sjw"},
    {kRuleSeg1AtLeastPs2, "PropSeg + PS1 shorter than PS2", "seg1_below_ps2"},
}};
// The rules these lengths break, as BitTimingRule bits.
unsigned BrokenBitTimingRules(int sjw, int prop, int ps1, int ps2);

// What a CAN controller of this layout needs and the settings break, as one
// line ("" when nothing is wrong), judged on the phase segment 2 the
// controller uses (EffectivePS2): PS2 at least 2 TQ, PS2 longer than SJW,
// PropSeg + PS1 at least PS2. Advice only; nothing is refused.
std::string TimingWarnings(int sjw, int prop, int ps1, int ps2, bool btlmode);

// The six identifiers: three transmit identifiers, the receive mask and the
// two receive filters, each in four bytes SIDH, SIDL, EID8, EID0 in this order.
constexpr int kCanIdCount = 6;
constexpr std::array<Reg, kCanIdCount> kCanIdFirstReg{TXID0SIDH, TXID1SIDH, TXID2SIDH,
                                                      RXMSIDH,   RXF0SIDH,  RXF1SIDH};
constexpr std::array<const char*, kCanIdCount> kCanIdName{"TXID0", "TXID1", "TXID2",
                                                          "RXM",   "RXF0",  "RXF1"};
enum CanIdByte : int { SIDH = 0, SIDL = 1, EID8 = 2, EID0 = 3 };
// Register of byte b (CanIdByte) of identifier id (0..5).
constexpr int CanIdReg(int id, int b) {
  return kCanIdFirstReg[static_cast<std::size_t>(id)] + b;
}

constexpr std::uint8_t kSIDLExtended = 0x08;  // SIDL bit 3: extended identifier
constexpr std::uint8_t kSIDLKept = 0xE3;      // SIDL bits 7:5 and 1:0; bits 4 and 2 are written 0
// The SIDL byte as stored: bits 7:5 and 1:0 of b, bit 3 from the identifier type.
constexpr std::uint8_t NormalisedSIDL(int b, bool extended) {
  return static_cast<std::uint8_t>((b & kSIDLKept) | (extended ? kSIDLExtended : 0));
}

// The identifier itself: 11 bits (standard) from SIDH and SIDL bits 7:5, or
// 29 bits (extended) from all four bytes. SIDL bit 3 is not read; the caller
// says which kind it is.
std::uint32_t RawID(std::uint8_t sidh, std::uint8_t sidl, std::uint8_t eid8, std::uint8_t eid0,
                    bool extended);
std::uint32_t RawID(const RegisterSet& rs, int id, bool extended);

// The 28 CAN register bytes in the order the register table shows them.
constexpr int kCanTableSize = 28;
extern const std::array<Reg, kCanTableSize> kCanTable;

}  // namespace zk7
