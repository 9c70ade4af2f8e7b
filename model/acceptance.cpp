// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/acceptance.h"

#include <algorithm>
#include <bitset>
#include <stdexcept>

#include "model/can_timing.h"
#include "model/format.h"

namespace zk7 {

namespace {

constexpr int kMaskId = 3;     // RXM among the six identifiers
constexpr int kFilter0Id = 4;  // RXF0; RXF1 follows

int Ones(std::uint32_t v) {
  return static_cast<int>(std::bitset<32>(v).count());
}

// Identifiers of that type that agree with a fixed value on the given bits.
std::uint64_t Matching(std::uint32_t bits, bool extended) {
  return std::uint64_t{1} << (CanIdBits(extended) - Ones(bits & CanIdMax(extended)));
}

}  // namespace

bool Accepts(std::uint32_t id, bool extended, const AcceptanceFilter& f) {
  return f.extended == extended && ((id ^ f.id) & f.mask & CanIdMax(extended)) == 0;
}

ReceiveFilters ReadReceiveFilters(const RegisterSet& rs) {
  ReceiveFilters out;
  for (int n = 0; n < 2; ++n) {
    const bool ext = rs.reg(CanIdReg(kFilter0Id + n, SIDL)) & kSIDLExtended;
    out[n] = {RawID(rs, kFilter0Id + n, ext), RawID(rs, kMaskId, ext), ext};
  }
  return out;
}

unsigned FiltersTaking(std::uint32_t id, bool extended, const ReceiveFilters& filters) {
  unsigned taken = 0;
  for (unsigned n = 0; n < filters.size(); ++n)
    if (Accepts(id, extended, filters[n])) taken |= 1u << n;
  return taken;
}

std::uint64_t AcceptedCount(const ReceiveFilters& f, bool extended) {
  const bool use0 = f[0].extended == extended, use1 = f[1].extended == extended;
  std::uint64_t count = 0;
  if (use0) count += Matching(f[0].mask, extended);
  if (use1) count += Matching(f[1].mask, extended);
  // Identifiers both filters take agree with both on the union of the masks;
  // there are none when the filters differ where both masks have a 1.
  if (use0 && use1 && ((f[0].id ^ f[1].id) & f[0].mask & f[1].mask & CanIdMax(extended)) == 0)
    count -= Matching(f[0].mask | f[1].mask, extended);
  return count;
}

std::optional<FilterDesign> DesignFilters(const std::vector<std::uint32_t>& ids, bool extended) {
  if (ids.empty()) return std::nullopt;
  const std::uint32_t all = CanIdMax(extended);
  std::uint32_t allOnes = all, anyOne = 0;
  for (std::uint32_t id : ids) {
    if (id > all) throw std::out_of_range("identifier " + HexNoPad(id) + " too large");
    allOnes &= id;
    anyOne |= id;
  }
  const std::uint32_t agree = ~(allOnes ^ anyOne) & all;

  // Every other bit splits the list in two. Its signature: the bit of each
  // listed identifier, XOR the first one's, packed 64 to a word. Bits with one
  // signature split the list the same way; the mask may hold one such group,
  // and then each filter takes one side of the split.
  const int width = CanIdBits(extended);
  const std::size_t words = (ids.size() + 63) / 64;
  std::vector<std::vector<std::uint64_t>> signature(static_cast<std::size_t>(width));
  for (int b = 0; b < width; ++b)
    if (!(agree >> b & 1)) signature[b].assign(words, 0);
  for (std::size_t k = 0; k < ids.size(); ++k) {
    const std::uint32_t differs = (ids[k] ^ ids[0]) & ~agree & all;
    for (int b = 0; b < width; ++b)
      if (differs >> b & 1) signature[b][k / 64] |= std::uint64_t{1} << (k % 64);
  }
  std::uint32_t group = 0;
  int groupSize = 0;
  std::uint32_t seen = agree;
  for (int b = width - 1; b >= 0; --b) {  // ties go to the group with the highest bit
    if (seen >> b & 1) continue;
    std::uint32_t members = 0;
    for (int c = b; c >= 0; --c)
      if (!(seen >> c & 1) && signature[c] == signature[b]) members |= 1u << c;
    seen |= members;
    if (Ones(members) > groupSize) {
      group = members;
      groupSize = Ones(members);
    }
  }

  FilterDesign d;
  d.extended = extended;
  d.mask = agree | group;
  d.filter0 = ids[0] & d.mask;
  d.filter1 = (ids[0] ^ group) & d.mask;  // the other side differs in every bit of the group
  d.acceptedCount = AcceptedCount(d.filters(), extended);
  std::vector<std::uint32_t> distinct(ids);
  std::sort(distinct.begin(), distinct.end());
  d.listedCount =
      static_cast<std::uint64_t>(std::unique(distinct.begin(), distinct.end()) - distinct.begin());
  return d;
}

void ApplyFilterDesign(RegisterSet& rs, const FilterDesign& d) {
  SetCanId(rs, kMaskId, d.mask, d.extended);
  SetCanId(rs, kFilter0Id, d.filter0, d.extended);
  SetCanId(rs, kFilter0Id + 1, d.filter1, d.extended);
}

std::string FormatFilter(const AcceptanceFilter& f) {
  std::string id = HexNoPad(f.id);
  if (f.extended) id.insert(0, 8 - id.size(), '0');
  return id + ":" + HexNoPad(f.mask & CanIdMax(f.extended));
}

std::optional<AcceptanceFilter> ParseFilter(std::string_view text, std::string& error) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) {
    error = "\"" + std::string(text) +
            "\" is not a filter; write ID:MASK in hexadecimal, for example 120:7F0.";
    return std::nullopt;
  }
  std::string_view idText = text.substr(0, colon);
  std::string_view digits = idText;
  if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
    digits.remove_prefix(2);
  AcceptanceFilter f;
  f.extended = digits.size() == 8;
  const auto id = ParseCanId(idText, f.extended, error);
  if (!id) return std::nullopt;
  const auto mask = ParseCanId(text.substr(colon + 1), f.extended, error);
  if (!mask) {
    error = "Mask: " + error;
    return std::nullopt;
  }
  f.id = *id;
  f.mask = *mask;
  return f;
}

std::string TakingFilterNames(unsigned taken) {
  std::string names;
  for (int n = 0; n < 2; ++n)
    if (taken >> n & 1) names += (names.empty() ? "RXF" : " and RXF") + std::to_string(n);
  return names;
}

std::string FilterDesign::takesText() const {
  return "Takes " + std::to_string(acceptedCount) + (extended ? " extended" : " standard") +
         " identifiers: the " + std::to_string(listedCount) + " listed and " +
         std::to_string(beyondList()) + " more";
}

}  // namespace zk7
