// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated chip's file: any text is refused or read, and what it reads
// is written back to a file that reads to the same memory.
#include <cassert>

#include "sim/emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > zk7::kMaxChipFileBytes) return 0;  // refused before parsing
  zk7::ChipMemory memory;
  std::string error;
  if (!zk7::ParseChipFile(std::string(reinterpret_cast<const char*>(data), size), memory, error)) {
    assert(!error.empty() && memory == zk7::ChipMemory());
    return 0;
  }
  zk7::ChipMemory again;
  assert(zk7::ParseChipFile(zk7::FormatChipFile(memory), again, error));
  assert(again == memory);
  return 0;
}
