// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Acceptance filtering of received CAN frames, for a controller with one
// receive mask (RXM) and two filters (RXF0, RXF1): which filters take an
// identifier, how many identifiers they take in all, and the mask and filters
// that take a given list of identifiers and as few others as possible.
//
// A frame passes filter RXFn when the filter's SIDL bit 3 names the frame's
// type and the frame's identifier agrees with the filter's wherever the mask
// has a 1: the 11 bits SIDH:SIDL 7:5 for standard frames, all 29 bits for
// extended ones. The chip takes a frame that passes RXF0 or RXF1.
//
// Text form of one filter with its mask, ID:MASK in hexadecimal, as zk7prog
// prints and reads it; eight ID digits mean an extended identifier:
//   "123:7FF"            the standard identifier 123 only
//   "120:7F0"            standard identifiers 120 to 12F
//   "0:0"                every standard identifier
//   "00000123:1FFFFFFF"  the extended identifier 123 only
//   "10000000:10000000"  every extended identifier with bit 28 set
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "model/identifiers.h"
#include "model/registers.h"

namespace zk7 {

// One receive filter together with the mask it is compared under.
struct AcceptanceFilter {
  std::uint32_t id = 0;    // the filter's identifier, 11 or 29 bits
  std::uint32_t mask = 0;  // bits in which a frame's identifier must agree with id
  bool extended = false;   // the frame type the filter takes
  bool operator==(const AcceptanceFilter& o) const {
    return id == o.id && mask == o.mask && extended == o.extended;
  }
};
using ReceiveFilters = std::array<AcceptanceFilter, 2>;  // RXF0, RXF1

// True when a frame with identifier id of that type passes filter f.
bool Accepts(std::uint32_t id, bool extended, const AcceptanceFilter& f);
// RXF0 and RXF1 as the register set holds them: the type from each filter's
// SIDL bit 3, identifier and mask read with that type.
ReceiveFilters ReadReceiveFilters(const RegisterSet& rs);
// The filters that take the frame: bit n is set when RXFn takes it.
unsigned FiltersTaking(std::uint32_t id, bool extended, const ReceiveFilters& filters);
// The filters of a FiltersTaking result: "RXF0", "RXF1", "RXF0 and RXF1" ("" for none).
std::string TakingFilterNames(unsigned taken);
// How many identifiers of that type (of 2^11 or 2^29) pass RXF0 or RXF1;
// counted, not enumerated.
std::uint64_t AcceptedCount(const ReceiveFilters& filters, bool extended);

// A mask and two filters for a list of identifiers of one type.
struct FilterDesign {
  bool extended = false;
  std::uint32_t mask = 0, filter0 = 0, filter1 = 0;
  std::uint64_t acceptedCount = 0;  // identifiers of that type taken, the listed ones included
  std::uint64_t listedCount = 0;    // distinct identifiers in the list
  std::uint64_t beyondList() const { return acceptedCount - listedCount; }
  ReceiveFilters filters() const {
    return {AcceptanceFilter{filter0, mask, extended}, AcceptanceFilter{filter1, mask, extended}};
  }
  // "Takes 8 standard identifiers: the 6 listed and 2 more" (both faces say it).
  std::string takesText() const;
};
// The design that takes every listed identifier and the fewest identifiers of
// that type in all: the mask holds the bits on which the list agrees plus the
// largest group of bits that split the list the same way (one filter for
// each side). nullopt for an empty list; std::out_of_range for an identifier
// above CanIdMax(extended). Linear in the list's length.
std::optional<FilterDesign> DesignFilters(const std::vector<std::uint32_t>& ids, bool extended);
// Writes RXM, RXF0 and RXF1 (SIDL bit 3 included) with the design's type.
void ApplyFilterDesign(RegisterSet& rs, const FilterDesign& design);

// "ID:MASK" as described above.
std::string FormatFilter(const AcceptanceFilter& f);
// Reads "ID:MASK"; nullopt with error set for anything else.
std::optional<AcceptanceFilter> ParseFilter(std::string_view text, std::string& error);

}  // namespace zk7
