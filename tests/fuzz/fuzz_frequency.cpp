// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The frequency text of the main window's box and line 72: whatever it takes
// as a frequency, a device file with that line reads back as the same one.
#include <cassert>
#include <cmath>

#include "files/devicefile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text = std::string(reinterpret_cast<const char*>(data), size);
  for (const char separator : {'.', ','}) {
    double kHz = 0;
    const bool number = zk7::ParseFrequencyKHz(text, kHz, separator);
    const auto hz = zk7::FoscHzFromText(text, separator);
    assert(!hz || (number && std::isfinite(*hz) && *hz >= 0));
    if (!hz) continue;
    zk7::MemoryImage image;
    zk7::DeviceFileContents back;
    std::string error;
    assert(zk7::ParseDeviceFile(zk7::FormatDeviceFile(image, 7, text), back, error, separator));
    assert(!back.oldVersion && back.foscHz == *hz);
  }
  return 0;
}
