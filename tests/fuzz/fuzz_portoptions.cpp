// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The port text of --port and ZK7_PORT and the emulated chip's options:
// refused with a reason, or values within their ranges.
#include <cassert>

#include "model/image.h"
#include "port/ftdi_wire.h"
#include "port/port.h"
#include "sim/emulator.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  zk7::PortChoice choice;
  std::uint16_t base = 0;
  std::string error;
  zk7::EmulatorOptions options;
  if (zk7::ParsePortChoice(text, choice, base, error)) {
    // Any base address in hex but 0 and FFFF (which no port has) is a port.
    assert(base != 0xFFFF);
    if (choice.kind == zk7::PortChoice::Emulator)
      assert(zk7::ParseEmulatorOptions(choice.emulatorOptions, options, error));
    zk7::FtdiAddress usb;
    if (choice.kind == zk7::PortChoice::Ftdi) assert(zk7::ParseFtdiAddress(choice.usb, usb, error));
  } else {
    assert(!error.empty());
  }
  error.clear();
  if (!zk7::ParseEmulatorOptions(text, options, error)) {
    assert(!error.empty());
    return 0;
  }
  for (const auto& [position, pulses] : options.pulsesNeeded)
    assert(position >= zk7::kConfigPosition && position < zk7::kImageSize && pulses >= 1);
  for (const auto& [position, bits] : options.stuckBits)
    assert(position >= zk7::kConfigPosition && position < zk7::kImageSize && bits < 0x4000);
  return 0;
}
