// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The device memory image: the 70 bytes burnt into a chip (MemMap) and the
// 70 program words 0x3400 + byte (ProgramImage).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "model/registers.h"

namespace zk7 {

struct MemoryImage {
  // Image bytes; after a read-back from a chip, the low 8 bits of each word read.
  std::array<std::int16_t, kImageSize> MemMap{};
  // Program words, each 0x3400 + the image byte.
  std::array<std::int16_t, kImageSize> ProgramImage{};
};

// Sums entries 0..n-2 of words and stores the two's complement of the low
// byte of the sum into rs.ImageChecksum.
void CalcImageChecksum(const std::int16_t* words, std::size_t n, RegisterSet& rs);

// Rebuilds MemMap, ImageChecksum and ProgramImage from the register set.
void BuildMemoryImage(RegisterSet& rs, MemoryImage& image);

// Takes a chip's contents over whole ("Load to Memory"): every register,
// user-memory byte and the checksum from the low byte of each MemMap entry,
// and the configuration word as read (all 16 bits).
void TakeOverChipImage(const MemoryImage& chip, std::uint16_t configWord, RegisterSet& rs);

}  // namespace zk7
