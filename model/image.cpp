// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "model/image.h"

namespace zk7 {

void CalcImageChecksum(const std::int16_t* words, std::size_t n, RegisterSet& rs) {
  int sum = 0;
  for (std::size_t i = 0; i + 1 < n; ++i) sum += words[i];
  rs.setImageChecksum((0x100 - (sum & 0xFF)) & 0xFF);
}

void BuildMemoryImage(RegisterSet& rs, MemoryImage& image) {
  for (int i = 0; i < kChecksumEntry; ++i) image.MemMap[static_cast<std::size_t>(i)] = rs.entry(i);
  CalcImageChecksum(image.MemMap.data(), image.MemMap.size(), rs);
  image.MemMap[kChecksumEntry] = rs.ImageChecksum();
  for (std::size_t i = 0; i < image.MemMap.size(); ++i)
    image.ProgramImage[i] = static_cast<std::int16_t>(0x3400 + (image.MemMap[i] & 0xFF));
}

void TakeOverChipImage(const MemoryImage& chip, std::uint16_t configWord, RegisterSet& rs) {
  // Every entry is the low byte of a word read, so the checked stores hold.
  for (int i = 0; i < kImageSize; ++i)
    rs.setEntry(i, chip.MemMap[static_cast<std::size_t>(i)] & 0xFF);
  rs.setConfigWord(static_cast<std::int16_t>(configWord));
}

}  // namespace zk7
