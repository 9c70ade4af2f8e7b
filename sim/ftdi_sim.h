// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The emulator's usb=MODEL port: the emulated chip on the model of an FTDI
// adapter (sim/ftdi_device.h), on a simulated USB bus with a virtual clock
// (sim/usb_bus.h), so the USB path can be tried without hardware. libftdi
// needs a real USB device, so this backend sends the model the requests
// libftdi would send (the tests run libftdi itself against the same model
// through the libusb stand-in): a reset and 9600 baud at open, the latency
// timer, the bit mode, the baud divisor in eighths, the purges, the pin
// reads, and each transfer as a bulk write with the echo read meanwhile,
// two status bytes cut from the head of every packet.
#pragma once

#include <memory>
#include <string>

#include "port/ftdi_wire.h"
#include "sim/emulator.h"
#include "sim/ftdi_device.h"
#include "sim/usb_bus.h"

namespace zk7 {

class SimulatedFtdi : public FtdiBackend {
 public:
  SimulatedFtdi(std::unique_ptr<EmulatorDriver> chip, const sim::FtdiModel& model,
                const UsbEmulation& usb);
  ~SimulatedFtdi() override;

  bool open(std::string& error) override;
  void close() override;
  std::uint16_t release() const override { return device_.model().release; }
  std::string name() const override { return std::string(device_.model().name) + " SIMULATED"; }
  bool setLatencyTimer(int ms, std::string& error) override;
  bool setBitmode(std::uint8_t outputs, Mode mode, std::string& error) override;
  bool setBaudrate(int baud, std::string& error) override;
  bool purge(std::string& error) override;
  bool readPins(std::uint8_t& pins, std::string& error) override;
  bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                std::string& error) override;
  std::int64_t nowNs() const override { return bus_.nowNs(); }
  void sleepUntilNs(std::int64_t ns) override { bus_.sleepUntilNs(ns); }
  void sequenceStarts() override { device_.emulator().sequenceStarts(); }
  bool gone() const override { return !bus_.plugged(id_); }
  std::size_t packetPayload() const override {
    return static_cast<std::size_t>(device_.bulkPacket(bus_.highSpeed(id_)) - 2);
  }
  std::string problem() const override { return device_.emulator().problem(); }

  sim::FtdiDevice& device() { return device_; }

 private:
  bool request(std::uint8_t request, std::uint16_t value, std::uint8_t* in, std::string& error);

  mutable sim::UsbBus bus_;
  mutable sim::FtdiDevice device_;
  int id_;
  bool open_ = false;
  bool bitbang_ = false;  // libftdi multiplies a bit-bang baud rate by 4
};

// The emulator's port for the text after "emulator:": the emulated chip
// alone, or (with usb=MODEL) behind a simulated adapter through the USB
// driver, its pins traced to ZK7_PIN_TRACE when that is set. nullptr with
// why in error.
std::unique_ptr<PortDriver> OpenEmulatedPort(const std::string& options, std::string& error);

}  // namespace zk7
