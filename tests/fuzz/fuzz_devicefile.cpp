// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The device-file reader: any text is refused or read, and what it reads
// writes out to a file that reads back to the same configuration.
#include <cassert>

#include "files/devicefile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > zk7::kMaxDeviceFileBytes) return 0;  // ReadDeviceFile refuses these unread
  const std::string text = std::string(reinterpret_cast<const char*>(data), size);
  for (const char separator : {'.', ','}) {
    zk7::DeviceFileContents first;
    std::string error;
    if (!zk7::ParseDeviceFile(text, first, error, separator)) {
      assert(!error.empty());
      continue;
    }
    zk7::MemoryImage image;
    for (int i = 0; i < zk7::kImageSize; ++i) image.MemMap[i] = first.registers.entry(i);
    const std::string written =
        zk7::FormatDeviceFile(image, first.registers.ConfigWord(), first.foscText);
    zk7::DeviceFileContents again;
    assert(zk7::ParseDeviceFile(written, again, error, separator));
    assert(again.registers == first.registers);
    assert(again.oldVersion == first.oldVersion);
    assert(again.foscHz == first.foscHz);
  }
  return 0;
}
