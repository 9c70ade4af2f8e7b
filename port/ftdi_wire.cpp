#include "port/ftdi_wire.h"

#include <charconv>
#include <cstdio>

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
  if (!text.empty()) {
    const auto first = text.find(':');
    const auto second = first == std::string::npos ? first : text.find(':', first + 1);
    const std::string vendor = text.substr(0, first);
    const std::string product =
        first == std::string::npos ? std::string() : text.substr(first + 1, second - first - 1);
    if (!ParseHexId(vendor, result.vendor) || !ParseHexId(product, result.product) ||
        (second != std::string::npos && second + 1 == text.size())) {
      error = "ftdi: '" + text +
              "' is not VID:PID[:SERIAL] (USB ids in hexadecimal, e.g. ftdi:0403:6001:A1B2C3D4)";
      return false;
    }
    result.anyDefault = false;
    if (second != std::string::npos) result.serial = text.substr(second + 1);
  }
  address = result;
  return true;
}

std::string FtdiPortText(std::uint16_t vendor, std::uint16_t product, const std::string& serial) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%04x:%04x", vendor, product);
  return "ftdi:" + std::string(ids) + (serial.empty() ? "" : ":" + serial);
}

std::uint8_t StatusFromPins(std::uint8_t pins) {
  return static_cast<std::uint8_t>(kStatusConnected | (pins & kFtdiReadBackPin));
}

std::string FtdiInUseText(const std::string& name) {
  return "USB adapter " + name + " is in use by another program";
}

std::size_t HoldBytes(int ms, int pinRate) {
  if (ms <= 0) return 0;
  // Rounded up, and one more: the hold never falls short by a fraction of a byte.
  const std::int64_t bytes = (static_cast<std::int64_t>(ms) * pinRate + 999) / 1000;
  return static_cast<std::size_t>(bytes + 1);
}

FtdiQueue::FtdiQueue(FtdiBackend& backend, std::size_t limit)
    : backend_(backend), limit_(limit), last_(kLinesOff) {}

void FtdiQueue::write(std::uint8_t value) {
  out_.push_back(value);
  last_ = value;
  if (out_.size() >= limit_) send();
}

void FtdiQueue::hold(int ms) {
  for (std::size_t n = HoldBytes(ms, backend_.chip().pinRate); n > 0; --n) write(last_);
}

void FtdiQueue::sample() {
  marks_.push_back(out_.size());
}

void FtdiQueue::send() {
  // A sample after the last byte comes back with one more, unchanged, byte.
  if (!marks_.empty() && marks_.back() == out_.size()) out_.push_back(last_);
  if (out_.empty()) return;
  if (problem_.empty() && !backend_.transfer(out_, echo_, problem_)) {
    problem_ = backend_.name() + ": " + (problem_.empty() ? "USB transfer failed" : problem_);
  }
  for (std::size_t mark : marks_)
    samples_.push_back(problem_.empty() && mark < echo_.size() ? StatusFromPins(echo_[mark])
                                                               : std::uint8_t{0xFF});
  out_.clear();
  marks_.clear();
}

std::vector<std::uint8_t> FtdiQueue::takeSamples() {
  std::vector<std::uint8_t> taken;
  taken.swap(samples_);
  return taken;
}

void FtdiQueue::restart() {
  out_.clear();
  marks_.clear();
  samples_.clear();
  last_ = kLinesOff;
  problem_.clear();
}

}  // namespace zk7
