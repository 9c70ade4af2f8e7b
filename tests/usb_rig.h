// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A simulated FTDI adapter with the emulated chip on it, plugged into the
// simulated USB bus that the libusb stand-in serves, so the real libftdi
// drives it; and the USB driver over it through libftdi, on the bus's clock.
#pragma once

#include <memory>
#include <string>

#include "port/ftdi_driver.h"
#include "sim/emulator.h"
#include "sim/ftdi_device.h"
#include "sim/usb_bus.h"

struct UsbRig {
  explicit UsbRig(const zk7::sim::FtdiModel& model = zk7::sim::kFtdiModels[0],
                  zk7::sim::UsbBus::Time time = zk7::sim::UsbBus::Time::Virtual)
      : bus(time), device(model, std::make_unique<zk7::EmulatorDriver>()), id(bus.plug(device)) {}

  // The backend and the driver for address (what follows "ftdi:"), timed on
  // the bus's clock; nullptr with why (also in a build without libftdi).
  std::unique_ptr<zk7::FtdiBackend> backend(std::string& error, const std::string& address = "") {
    zk7::FtdiAddress a;
    if (!zk7::ParseFtdiAddress(address, a, error)) return nullptr;
    auto b = zk7::MakeLibFtdiBackend(a, &bus);
    if (!b) error = zk7::FtdiUnavailableReason();
    return b;
  }
  std::unique_ptr<zk7::PortDriver> driver(std::string& error, const std::string& address = "") {
    auto b = backend(error, address);
    return b ? zk7::MakeFtdiDriver(std::move(b), error) : nullptr;
  }
  // Another program opens /dev/ttyUSBn (DTR and RTS asserted) and sends text.
  void writeAsSerialPort(const std::string& text) {
    bus.serialOpen(id);
    bus.serialWrite(id, text);
  }

  zk7::sim::UsbBus bus;
  zk7::sim::FtdiDevice device;
  int id;
};
