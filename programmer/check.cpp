// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "programmer/check.h"

#include <cstdio>

#include "model/format.h"
#include "model/named_fields.h"

namespace zk7 {

namespace {

constexpr std::uint16_t kProgramWordBase = 0x3400;
constexpr std::uint16_t kConfigWordBits = 0x3FF8;  // what LoadConfig sends above bits 2:0
constexpr int kNoPulseByte = 255;                  // the flow pulses only bytes below this

}  // namespace

std::vector<UnfitWord> FindUnfitWords(const std::array<std::uint16_t, kImageSize>& chipWords,
                                      std::uint16_t chipConfigWord, const MemoryImage& image,
                                      std::int16_t configWord) {
  std::vector<UnfitWord> unfit;
  for (int i = 0; i < kImageSize; ++i) {
    const int entry = image.MemMap[static_cast<std::size_t>(i)] & 0xFF;
    const auto wanted = static_cast<std::uint16_t>(kProgramWordBase + entry);
    const std::uint16_t chip = chipWords[static_cast<std::size_t>(i)];
    const bool pulsed = entry < kNoPulseByte;
    if (pulsed ? (chip & wanted) != wanted : chip != wanted) unfit.push_back({i, chip, wanted});
  }
  const int bits = configWord & 7;
  const bool pulsed = configWord < 255;
  const int chipBits = chipConfigWord & 7;
  if (pulsed ? (chipBits & bits) != bits : chipBits != bits)
    unfit.push_back(
        {kConfigWordPosition, chipConfigWord, static_cast<std::uint16_t>(kConfigWordBits | bits)});
  return unfit;
}

ChipCheck CheckChip(Programmer& programmer, RegisterSet& rs, MemoryImage& image,
                    const FlowCallbacks& cb) {
  BuildMemoryImage(rs, image);
  return CheckImage(programmer, image, rs.ConfigWord(), cb);
}

ChipCheck CheckImage(Programmer& programmer, const MemoryImage& image, std::int16_t configWord,
                     const FlowCallbacks& cb) {
  ChipCheck check;
  MemoryImage read;
  std::array<std::uint16_t, kImageSize> words{};
  FlowCallbacks readCb = cb;
  readCb.wordArrived = [&words](int position, int word) {
    words[static_cast<std::size_t>(position)] = static_cast<std::uint16_t>(word);
  };
  check.read = programmer.ReadImageWords(read, readCb);
  if (!check.read.ok()) return check;
  std::uint16_t config = 0;
  check.read = programmer.ReadChipConfigWord(config, cb);
  if (!check.read.ok()) return check;
  const auto silent = NoChipWord(words, config);
  check.noChip = silent.has_value();
  check.noChipWord = silent.value_or(0);
  if (!check.noChip) check.unfit = FindUnfitWords(words, config, image, configWord);
  return check;
}

std::string PositionText(int position) {
  return position == kConfigWordPosition ? "config" : Hex2(static_cast<unsigned>(position));
}

const char* RefusalTitle(bool noChip) {
  return noChip ? "No Chip" : UnfitTitle();
}

std::string NoChipSummary(std::uint16_t word) {
  char text[8];
  std::snprintf(text, sizeof text, "%04X", word);
  return std::string("Every word read ") + text + ": " + NoChipText() + ".";
}

std::string RefusalSummary(bool noChip, std::size_t unfitWords, std::uint16_t noChipWord) {
  if (noChip) return NoChipSummary(noChipWord);
  return std::to_string(unfitWords) + (unfitWords == 1 ? " word" : " words") +
         " of the chip would need bits to rise from 0 to 1.";
}

std::vector<std::string> UnfitWordLines(const std::vector<UnfitWord>& unfit) {
  std::vector<std::string> lines = {"Position  Register    Chip  Wanted"};
  for (const auto& w : unfit) {
    const std::string name = w.position == kConfigWordPosition ? "CONFIG" : EntryName(w.position);
    char line[80];
    std::snprintf(line, sizeof line, "  %-6s  %-10s  %04X  %04X", PositionText(w.position).c_str(),
                  name.c_str(), w.chip, w.wanted);
    lines.emplace_back(line);
  }
  return lines;
}

}  // namespace zk7
