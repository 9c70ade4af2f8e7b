// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The pre-burn check: can a chip take a configuration? The chip's memory is
// one-time programmable (a programming pulse only clears bits), so a word can
// become the wanted word only when it already is, or when the wanted word's
// bits are all still set on the chip and the flow pulses it. A chip that
// fails the check is refused before any programming pulse.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "model/image.h"
#include "model/registers.h"
#include "programmer/programmer.h"

namespace zk7 {

struct UnfitWord {
  int position;          // image position 0..69, or kConfigWordPosition
  std::uint16_t chip;    // the word read from the chip
  std::uint16_t wanted;  // the word the programming flow would leave there
};

struct ChipCheck {
  FlowResult read;  // the reads' outcome: Passed once the chip was read, else Busy or Aborted
  // Every word read 0000, or every word 3FFF, the configuration word
  // included (NoChipWord): nothing answered. unfit is then empty.
  bool noChip = false;
  std::uint16_t noChipWord = 0;  // what every word read then
  std::vector<UnfitWord> unfit;
  bool fit() const { return read.ok() && !noChip && unfit.empty(); }
};

// Compares what a chip holds with what ProgramDevice would burn for image
// (built) and configWord, word by word, as the flow treats them: an image
// byte 0xFF and a configuration word of 255 or more get no pulse and must
// already read back as wanted; every other word must hold all the wanted
// word's bits (wanted AND chip = wanted). The configuration word is compared
// in bits 2:0 only, as the flow verifies it.
std::vector<UnfitWord> FindUnfitWords(const std::array<std::uint16_t, kImageSize>& chipWords,
                                      std::uint16_t chipConfigWord, const MemoryImage& image,
                                      std::int16_t configWord);

// Builds the image of rs (as ProgramDevice does), reads the chip's image words
// and configuration word with the read flows, and compares (or finds that no
// chip answered). Nothing is burnt.
ChipCheck CheckChip(Programmer& programmer, RegisterSet& rs, MemoryImage& image,
                    const FlowCallbacks& cb);
// The same on an image already built and configWord.
ChipCheck CheckImage(Programmer& programmer, const MemoryImage& image, std::int16_t configWord,
                     const FlowCallbacks& cb);

// A position as messages and the production log write it: two hex digits, or "config".
std::string PositionText(int position);

// The refusal's texts, shared by the window and the command line.
inline const char* UnfitTitle() {
  return "Chip Cannot Take This Configuration";
}
inline const char* UnfitText() {
  return "These words of the chip would need bits to rise from 0 to 1:";
}
inline const char* NothingBurntText() {
  return "The chip was refused before programming; nothing was burnt.";
}
inline const char* NoChipText() {
  return "no chip in the socket, or the chip is not powered";
}
// What a production log writes as the position of a chip refused for no chip.
inline const char* NoChipPosition() {
  return "nochip";
}
// A refusal's title, and its one sentence: why nothing answered (every word
// read noChipWord), or how many words cannot be taken (their list is
// UnfitWordLines).
const char* RefusalTitle(bool noChip);
std::string RefusalSummary(bool noChip, std::size_t unfitWords, std::uint16_t noChipWord = 0);
// "Every word read 3FFF: no chip in the socket, or the chip is not powered."
std::string NoChipSummary(std::uint16_t word);
// The words as a table: a header line and one line per word (position,
// register name, chip word, wanted word, in hex).
std::vector<std::string> UnfitWordLines(const std::vector<UnfitWord>& unfit);

}  // namespace zk7
