// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/ftdi_wire.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "port/protocol.h"

namespace zk7 {
namespace {

bool ParseHexId(const std::string& text, std::uint16_t& id) {
  unsigned value = 0;
  const char* end = text.data() + text.size();
  const auto r = std::from_chars(text.data(), end, value, 16);
  if (text.empty() || text.size() > 4 || r.ec != std::errc() || r.ptr != end) return false;
  id = static_cast<std::uint16_t>(value);
  return true;
}

}  // namespace

bool ParseFtdiAddress(const std::string& text, FtdiAddress& address, std::string& error) {
  FtdiAddress result;
  const auto at = text.rfind('@');
  const std::string ids = text.substr(0, at);
  if (at != std::string::npos) {
    result.path = text.substr(at + 1);
    // "1-2.3": a bus number, a dash, port numbers joined by dots (up to 7).
    const auto dash = result.path.find('-');
    bool valid = dash != std::string::npos && dash > 0 && dash <= 3 &&
                 result.path.find_first_not_of("0123456789-.") == std::string::npos &&
                 result.path.find('-', dash + 1) == std::string::npos;
    int ports = 0;
    for (std::size_t k = dash + 1; valid && k <= result.path.size(); ++k) {
      const std::size_t end = std::min(result.path.find('.', k), result.path.size());
      valid = end > k && end - k <= 3;
      ++ports;
      k = end;
    }
    if (!valid || ports > 7) {
      error = "ftdi: '@" + result.path +
              "' is not a USB port path (bus, then ports, as the kernel names them: @1-2.3)";
      return false;
    }
  }
  if (!ids.empty()) {
    const auto first = ids.find(':');
    const auto second = first == std::string::npos ? first : ids.find(':', first + 1);
    const std::string vendor = ids.substr(0, first);
    const std::string product =
        first == std::string::npos ? std::string() : ids.substr(first + 1, second - first - 1);
    if (!ParseHexId(vendor, result.vendor) || !ParseHexId(product, result.product) ||
        (second != std::string::npos && second + 1 == ids.size())) {
      error = "ftdi: '" + text +
              "' is not VID:PID[:SERIAL][@PATH] (USB ids in hexadecimal, e.g. "
              "ftdi:0403:6001:A1B2C3D4)";
      return false;
    }
    result.anyDefault = false;
    if (second != std::string::npos) result.serial = ids.substr(second + 1);
  }
  address = result;
  return true;
}

std::string FtdiPortText(std::uint16_t vendor, std::uint16_t product, const std::string& serial,
                         const std::string& path) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", vendor, product);
  return "ftdi:" + std::string(ids) + (serial.empty() ? "" : ":" + serial) +
         (path.empty() ? "" : "@" + path);
}

const FtdiChip* FtdiChipByRelease(std::uint16_t release) {
  for (const FtdiChip& chip : kFtdiChips)
    if (chip.release == release) return &chip;
  return nullptr;
}

std::string FtdiModelName(std::uint16_t release) {
  if (const FtdiChip* chip = FtdiChipByRelease(release)) return chip->name;
  // The release numbers of FTDI's other chips, so a refusal names the chip.
  struct Other {
    std::uint16_t release;
    const char* name;
  };
  static const Other kOthers[] = {{0x0200, "FT8U232AM"},
                                  {0x0400, "FT232BM"},
                                  {0x0800, "FT4232H"},
                                  {0x1000, "FT-X series chip (FT230X, FT231X, ...)"}};
  for (const Other& o : kOthers)
    if (o.release == release) return o.name;
  char text[32];
  std::snprintf(text, sizeof text, "FTDI chip 0x%04X", release);
  return text;
}

std::string SupportedFtdiChips() {
  std::string text;
  const std::size_t n = sizeof kFtdiChips / sizeof kFtdiChips[0];
  for (std::size_t k = 0; k < n; ++k)
    text += std::string(k == 0 ? "" : k + 1 == n ? " and " : ", ") + kFtdiChips[k].name;
  return text;
}

std::uint8_t PinsFromData(std::uint8_t data) {
  std::uint8_t pins = 0;
  for (const UsbLine& line : kUsbWiring)
    if (((data & line.dataBit) != 0) == line.onWhenSet) pins |= line.pin;
  return pins;
}

std::uint8_t DataFromPins(std::uint8_t pins) {
  std::uint8_t data = 0x40;
  for (const UsbLine& line : kUsbWiring)
    if (((pins & line.pin) != 0) == line.onWhenSet) data |= line.dataBit;
  return data;
}

std::uint8_t PowerPins() {
  std::uint8_t pins = 0;
  for (const UsbLine& line : kUsbWiring)
    if (line.power) pins |= line.pin;
  return pins;
}

std::string PinNames(std::uint8_t mask) {
  std::string text;
  for (const UsbLine& line : kUsbWiring)
    if (mask & line.pin)
      text += (text.empty() ? "" : ", ") + std::string(line.name) + " on " + line.pinName;
  if (mask & kUsbReadBackPin)
    text += (text.empty() ? "" : ", ") + std::string("the read-back on ") + kUsbReadBackPinName;
  return text;
}

std::uint8_t StatusFromPins(std::uint8_t pins) {
  return static_cast<std::uint8_t>(kStatusConnected | (pins & kUsbReadBackPin ? 0x40 : 0));
}

std::string FtdiInUseText(const std::string& name) {
  return "USB adapter " + name + " is in use by another program";
}

std::string UsbTransferWords(int status) {
  switch (status) {
    case 1:
      return "the transfer failed (LIBUSB_TRANSFER_ERROR)";
    case 2:
      return "it timed out (LIBUSB_TRANSFER_TIMED_OUT)";
    case 3:
      return "it was cancelled (LIBUSB_TRANSFER_CANCELLED)";
    case 4:
      return "the adapter stalled it (LIBUSB_TRANSFER_STALL)";
    case 5:
      return "the adapter is gone (LIBUSB_TRANSFER_NO_DEVICE)";
    case 6:
      return "the adapter sent more than asked for (LIBUSB_TRANSFER_OVERFLOW)";
    default:
      return "it ended early";
  }
}

namespace {

// The chip's latency timer, set to 1 ms, runs out no sooner than 1 ms after
// the last packet it sent (which the host sees a little later) and, counting
// whole milliseconds, no later than 2 ms after it.
constexpr std::int64_t kTimerShortestNs = 900000;
constexpr std::int64_t kTimerLongestNs = 2000000;
// A transfer's share of the bus and the host beyond the pins' time.
constexpr std::int64_t kRoundTripNs = 100000;

// A wait on the host's clock with 1 % on top: CLOCK_MONOTONIC runs within
// 0.05 % of true time (NTP slews it by at most 500 ppm), so ms of it are ms.
std::int64_t WaitNs(int ms) {
  return static_cast<std::int64_t>(ms) * 1010000;
}

// "VPP on CTS# (D3) read high, CLK on TXD (D0) read low": the lines in mask
// whose pins differ.
std::string Mismatch(std::uint8_t wanted, std::uint8_t got, std::uint8_t mask) {
  const auto differ = static_cast<std::uint8_t>((wanted ^ got) & mask);
  std::string text;
  for (const UsbLine& line : kUsbWiring)
    if (differ & line.pin)
      text += (text.empty() ? "" : ", ") + std::string(line.name) + " on " + line.pinName +
              " read " + (got & line.pin ? "high" : "low");
  return text;
}

// Repeats the last byte until the echo fills whole packets, so that the chip
// sends it at once instead of holding its tail for the latency timer (1 to 2
// ms). A repeated byte changes no line: it only lengthens the state the pins
// are in, a programming pulse included.
void FillPackets(std::vector<std::uint8_t>& out, std::size_t payload) {
  if (payload > 0 && !out.empty())
    out.resize((out.size() + payload - 1) / payload * payload, out.back());
}

}  // namespace

SendResult SendChecked(FtdiBackend& backend, const std::vector<std::uint8_t>& data, int pinsBefore,
                       std::uint8_t mask, std::string& error) {
  std::vector<std::uint8_t> out;
  for (std::uint8_t d : data) out.push_back(PinsFromData(d));
  out.push_back(out.back());
  FillPackets(out, backend.packetPayload());
  std::vector<std::uint8_t> echo;
  if (!backend.transfer(out, echo, error)) return SendResult::Failed;
  for (std::size_t k = pinsBefore < 0 ? 1 : 0; k < out.size(); ++k) {
    const auto wanted = static_cast<std::uint8_t>(k == 0 ? pinsBefore : out[k - 1]);
    const auto got = static_cast<std::uint8_t>(k < echo.size() ? echo[k] : ~wanted);
    if (((got ^ wanted) & mask) != 0) {
      error = Mismatch(wanted, got, mask);
      return SendResult::Mismatch;
    }
  }
  return SendResult::Ok;
}

FtdiQueue::FtdiQueue(FtdiBackend& backend, std::size_t limit)
    : backend_(backend), limit_(limit), lastData_(kLinesOff), applied_(PinsFromData(kLinesOff)) {}

void FtdiQueue::write(std::uint8_t data) {
  out_.push_back(PinsFromData(data));
  lastData_ = data;
  if (out_.size() >= limit_) send();
}

void FtdiQueue::sample() {
  marks_.push_back(out_.size());
}

void FtdiQueue::hold(int ms) {
  if (ms <= 0) return;
  // The byte after the last one: its echo shows the pins the last one left.
  if (!out_.empty() || !marks_.empty()) {
    out_.push_back(out_.empty() ? applied_ : out_.back());
    if (!send()) return;
  }
  notBeforeNs_ = std::max(notBeforeNs_, echoNs_ + WaitNs(ms));
}

bool FtdiQueue::send() {
  // A sample after the last byte comes back with one more, unchanged, byte.
  if (!marks_.empty() && marks_.back() == out_.size())
    out_.push_back(out_.empty() ? applied_ : out_.back());
  if (!out_.empty() && problem_.empty()) {
    const std::size_t payload = backend_.packetPayload();
    FillPackets(out_, payload);
    keepTimer(out_.size(), payload);
    if (backend_.nowNs() < notBeforeNs_) backend_.sleepUntilNs(notBeforeNs_);
    if (problem_.empty()) transferChecked(out_);
  }
  for (std::size_t mark : marks_)
    samples_.push_back(problem_.empty() ? StatusFromPins(echo_[mark]) : std::uint8_t{0xFF});
  out_.clear();
  marks_.clear();
  return problem_.empty();
}

void FtdiQueue::transferChecked(const std::vector<std::uint8_t>& out) {
  std::string why;
  if (!backend_.transfer(out, echo_, why))
    problem_ = why.empty() ? std::string("a USB transfer failed") : why;
  else
    checkEcho(out);
  echoNs_ = backend_.nowNs();
  if (problem_.empty()) applied_ = out.back();
}

// An echo comes back whole at once only while the chip's latency timer does
// not run out with part of a packet in the chip: that part would wait for the
// next period. The timer restarts with every packet the chip sends and runs
// out 1 to 2 ms later. A wait of about that length (a programming pulse)
// would leave it to run out during the next echo; a packet of the unchanged
// pins, ending just before the timer may run out, restarts it. It only
// lengthens the state the pins are in, and the bytes that change a line still
// go out only once the wait is over.
void FtdiQueue::keepTimer(std::size_t bytes, std::size_t payload) {
  const FtdiChip* chip = FtdiChipByRelease(backend_.release());
  if (payload == 0 || !chip) return;
  const auto takes = [&](std::size_t n) {
    return static_cast<std::int64_t>(n) * 1000000000 / chip->pinRate + kRoundTripNs;
  };
  const std::int64_t now = backend_.nowNs(), start = std::max(now, notBeforeNs_);
  const std::int64_t runsOut = echoNs_ + kTimerShortestNs;
  if (start + takes(bytes) <= runsOut || start >= echoNs_ + kTimerLongestNs) return;
  const std::int64_t keepAt = std::min(start, runsOut) - takes(payload);
  if (keepAt < now) return;  // too late to restart it in time
  backend_.sleepUntilNs(keepAt);
  transferChecked(std::vector<std::uint8_t>(payload, applied_));
}

bool FtdiQueue::checkEcho(const std::vector<std::uint8_t>& out) {
  if (echo_.size() != out.size()) {
    problem_ = "the echo had " + std::to_string(echo_.size()) + " bytes for " +
               std::to_string(out.size()) + " sent";
    return false;
  }
  for (std::size_t k = 0; k < out.size(); ++k) {
    const std::uint8_t wanted = k == 0 ? applied_ : out[k - 1];
    if (((echo_[k] ^ wanted) & kUsbOutputPins) != 0) {
      problem_ = "the pins did not read back what was sent (" +
                 Mismatch(wanted, echo_[k], kUsbOutputPins) +
                 "): the adapter left bit-bang mode, a pin is stuck or shorted, or the echo is "
                 "out of step";
      return false;
    }
  }
  return true;
}

std::vector<std::uint8_t> FtdiQueue::takeSamples() {
  std::vector<std::uint8_t> taken;
  taken.swap(samples_);
  return taken;
}

void FtdiQueue::restart(std::int64_t echoNs) {
  out_.clear();
  marks_.clear();
  samples_.clear();
  lastData_ = kLinesOff;
  applied_ = PinsFromData(kLinesOff);
  echoNs_ = echoNs;
  notBeforeNs_ = 0;
  problem_.clear();
}

}  // namespace zk7
