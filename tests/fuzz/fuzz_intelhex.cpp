// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer target for the Intel HEX reader: any input is refused or read;
// what is read exports and reads back to the same words.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "files/intelhex.h"
#include "files/intelhex_reader.h"
#include "model/image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zk7::IntelHexContents hex;
  std::string error;
  if (!zk7::ParseIntelHex(text, hex, error)) {
    if (error.rfind("Line ", 0) != 0) std::abort();  // every refusal names its line
    return 0;
  }
  std::array<std::int16_t, zk7::kImageSize> words{};
  for (int i = 0; i < zk7::kImageSize; ++i)
    words[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(0x3400 + hex.image[i]);
  zk7::IntelHexContents again;
  if (!zk7::ParseIntelHex(zk7::WriteIntelHex(words, hex.configLow.value_or(7)), again, error) ||
      again.image != hex.image || again.configLow.value_or(7) != hex.configLow.value_or(7))
    std::abort();
  return 0;
}
