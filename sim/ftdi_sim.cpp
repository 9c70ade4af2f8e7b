// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ftdi_sim.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "port/ftdi_driver.h"

namespace zk7 {
namespace {

// FTDI's vendor requests, as libftdi sends them to the first channel.
constexpr std::uint8_t kReset = 0x00, kSetBaudRate = 0x03, kSetLatencyTimer = 0x09,
                       kSetBitmode = 0x0B, kReadPins = 0x0C;
constexpr std::uint16_t kChannelA = 1;
constexpr std::int64_t kTimeoutNs = 5000000000;  // libftdi's

}  // namespace

SimulatedFtdi::SimulatedFtdi(std::unique_ptr<EmulatorDriver> chip, const sim::FtdiModel& model,
                             const UsbEmulation& usb)
    : bus_(sim::UsbBus::Time::Virtual, false),
      device_(model, std::move(chip)),
      id_(bus_.plug(device_)) {
  bus_.setFaults(id_, sim::UsbBus::faultsOf(usb));
  if (usb.roundTripMs > 0) {
    const auto half = static_cast<std::int64_t>(usb.roundTripMs * 500000);
    bus_.setHostLatency(half, half);
  }
}

SimulatedFtdi::~SimulatedFtdi() {
  close();
}

bool SimulatedFtdi::request(std::uint8_t request, std::uint16_t value, std::uint8_t* in,
                            std::string& error) {
  if (!open_) {
    error = "USB device unavailable";
    return false;
  }
  const int n = bus_.control(id_,
                             {static_cast<std::uint8_t>(in ? 0xC0 : 0x40), request, value,
                              kChannelA, static_cast<std::uint16_t>(in ? 1 : 0)},
                             in, 5000);
  if (n >= 0) return true;
  error = n == sim::kBusNoDevice ? "LIBUSB_ERROR_NO_DEVICE" : "LIBUSB_ERROR_PIPE";
  return false;
}

bool SimulatedFtdi::open(std::string& error) {
  if (open_) return true;
  char ids[32];
  std::snprintf(ids, sizeof ids, "ftdi:0403:%04x", device_.model().product);
  const int rc = bus_.open(id_) == sim::kBusOk ? bus_.claim(id_, this, true) : sim::kBusNoDevice;
  if (rc == sim::kBusNoDevice) error = std::string("no adapter found at ") + ids;
  if (rc == sim::kBusBusy) error = FtdiInUseText(name());
  if (rc != sim::kBusOk) return false;
  // libftdi resets the port and sets 9600 baud at every open.
  open_ = true;
  bitbang_ = false;
  if (!request(kReset, 0, nullptr, error) || !setBaudrate(9600, error)) {
    close();
    return false;
  }
  return true;
}

void SimulatedFtdi::close() {
  if (!open_) return;
  bus_.release(id_, this, true);
  open_ = false;
}

bool SimulatedFtdi::setLatencyTimer(int ms, std::string& error) {
  return request(kSetLatencyTimer, static_cast<std::uint16_t>(ms), nullptr, error);
}

bool SimulatedFtdi::setBitmode(std::uint8_t outputs, Mode mode, std::string& error) {
  const int code = mode == Mode::Reset ? 0 : 4;
  if (!request(kSetBitmode, static_cast<std::uint16_t>(outputs | (code << 8)), nullptr, error))
    return false;
  bitbang_ = mode != Mode::Reset;
  return true;
}

// The divisor in eighths of the 3 MHz reference (or 12 MHz on the H parts),
// encoded as AN232B-05 and AN_120 give it.
bool SimulatedFtdi::setBaudrate(int baud, std::string& error) {
  static const int kCode[8] = {0, 3, 2, 4, 1, 5, 6, 7};
  const sim::FtdiModel& m = device_.model();
  const double wanted = static_cast<double>(baud) * (bitbang_ ? 4 : 1);
  const bool fast = m.highSpeed && wanted * 10 > 120e6 / 0x3FFF;
  const double reference = fast ? 12e6 : 3e6;
  long eighths = std::clamp(std::lround(reference * 8 / wanted), 8L, 0x3FFFL * 8 + 7);
  if (eighths > 12 && eighths < 16) eighths = 16;  // no divisor between 1.5 and 2
  if (eighths > 8 && eighths < 12) eighths = 12;
  if (baud <= 0 || std::fabs(reference * 8 / eighths - wanted) > 0.05 * wanted) {
    error = "Unsupported baudrate. Note: bitbang baudrates are automatically multiplied by 4";
    return false;
  }
  unsigned long encoded = eighths == 8 ? 0 : eighths == 12 ? 1 : eighths >> 3;
  if (eighths != 8 && eighths != 12)
    encoded |= static_cast<unsigned long>(kCode[eighths & 7]) << 14;
  if (fast) encoded |= 1ul << 17;
  const bool highIndex = m.interfaces > 1 || m.highSpeed;
  const auto index =
      static_cast<std::uint16_t>(highIndex ? ((encoded >> 8) & 0xFF00) | kChannelA : encoded >> 16);
  if (!open_) {
    error = "USB device unavailable";
    return false;
  }
  const int n = bus_.control(
      id_, {0x40, kSetBaudRate, static_cast<std::uint16_t>(encoded & 0xFFFF), index, 0}, nullptr,
      5000);
  if (n < 0) error = n == sim::kBusNoDevice ? "LIBUSB_ERROR_NO_DEVICE" : "LIBUSB_ERROR_PIPE";
  return n >= 0;
}

bool SimulatedFtdi::purge(std::string& error) {
  return request(kReset, 1, nullptr, error) && request(kReset, 2, nullptr, error);
}

bool SimulatedFtdi::readPins(std::uint8_t& pins, std::string& error) {
  return request(kReadPins, 0, &pins, error);
}

bool SimulatedFtdi::transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                             std::string& error) {
  echo.clear();
  if (!open_) {
    error = "USB write failed: the adapter is not open";
    return false;
  }
  const std::size_t size = out.size();
  const int packet = device_.bulkPacket(bus_.highSpeed(id_));
  // Reads end on a short packet or at their length: as long as the packets
  // a whole-packet echo fills, a read ends with the last of them.
  const bool whole = size % static_cast<std::size_t>(packet - 2) == 0;
  std::vector<std::uint8_t> data(out),
      packets(whole ? size / static_cast<std::size_t>(packet - 2) * packet : 4096);
  sim::BusTransfer wr, rd;
  wr.device = rd.device = id_;
  wr.endpoint = 0x02;
  rd.endpoint = 0x81;
  wr.buffer = data.data();
  wr.length = static_cast<int>(size);
  rd.buffer = packets.data();
  rd.length = static_cast<int>(packets.size());
  wr.timeoutNs = rd.timeoutNs = kTimeoutNs;
  wr.owner = rd.owner = this;
  const std::int64_t limit = UsbTransferDeadlineNs(size);
  const std::int64_t deadline = bus_.nowNs() + limit;
  bool wrote = false;
  if (bus_.submit(rd) != sim::kBusOk || bus_.submit(wr) != sim::kBusOk)
    error = "USB write failed: the transfer could not be started";
  // As libftdi: each IN transfer that ends is read, its status bytes cut,
  // and submitted again until the echo is complete.
  while (error.empty() && !(wrote && echo.size() >= size)) {
    const std::int64_t left = deadline - bus_.nowNs();
    if (left <= 0) {
      error = std::string("USB ") + (wrote ? "read" : "write") + " failed: no answer within " +
              std::to_string(limit / 1000000) + " ms";
      break;
    }
    for (sim::BusTransfer* t : bus_.wait(this, left)) {
      const int status = static_cast<int>(t->status);
      if (t == &wr) {
        wrote = true;
        if (status != 0) error = "USB write failed: " + UsbTransferWords(status);
        continue;
      }
      for (int at = 0; at < rd.actual; at += packet)
        for (int k = at + 2; k < std::min(rd.actual, at + packet) && echo.size() < size; ++k)
          echo.push_back(packets[static_cast<std::size_t>(k)]);
      if (rd.status == sim::TransferStatus::NoDevice)
        error = "USB read failed: " + UsbTransferWords(status);
      else if (echo.size() < size && bus_.submit(rd) != sim::kBusOk)
        error = "USB read failed: the transfer could not be started";
    }
  }
  // Whatever is still in flight comes back before its buffers go.
  for (sim::BusTransfer* t : {&wr, &rd}) bus_.cancel(*t);
  while (wr.inFlight || rd.inFlight) bus_.wait(this, kTimeoutNs);
  if (!error.empty()) echo.clear();
  return error.empty();
}

std::unique_ptr<PortDriver> OpenEmulatedPort(const std::string& options, std::string& error) {
  std::unique_ptr<EmulatorDriver> chip = EmulatorDriver::create(options, error);
  if (!chip || chip->options().usb.model.empty()) return chip;
  const UsbEmulation usb = chip->options().usb;
  auto sim = std::make_unique<SimulatedFtdi>(std::move(chip), *sim::FindFtdiModel(usb.model), usb);
  if (const char* path = std::getenv("ZK7_PIN_TRACE"); path && *path) {
    // A debugging aid asked for by environment: say so on stderr if it cannot work.
    std::string why;
    if (!sim->device().setPinTrace(path, why)) std::fprintf(stderr, "zk7: %s\n", why.c_str());
  }
  return MakeFtdiDriver(std::move(sim), error);
}

}  // namespace zk7
