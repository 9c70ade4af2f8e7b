#include "port/ftdi_sim.h"

#include "port/protocol.h"

namespace zk7 {

SimulatedFtdi::SimulatedFtdi(std::unique_ptr<EmulatorDriver> chip, const FtdiChip& type,
                             std::int64_t roundTripNs, double rateFactor)
    : chip_(std::move(chip)),
      type_(type),
      roundTripNs_(roundTripNs),
      byteNs_(1e9 / (type.pinRate * rateFactor)) {
  chip_->setClock([this] { return static_cast<std::int64_t>(clockNs_); });
}

bool SimulatedFtdi::open(std::string& error) {
  if (open_) return true;
  if (unplugged_) {
    error = "no adapter found at ftdi:0403:6001";
    return false;
  }
  if (busy_) {
    error = FtdiInUseText(name());
    return false;
  }
  clockNs_ += roundTripNs_;
  latch_ = kLinesOff;
  chip_->write(0, latch_);
  open_ = true;
  ++opens_;
  return true;
}

void SimulatedFtdi::close() {
  if (!open_) return;
  open_ = false;
  ++closes_;
}

bool SimulatedFtdi::transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                             std::string& error) {
  if (unplugged_) {
    error = "USB write failed: LIBUSB_ERROR_NO_DEVICE";
    return false;
  }
  if (!open_) {
    error = "USB write failed: the device is not open";
    return false;
  }
  ++transfers_;
  echo.clear();
  clockNs_ += roundTripNs_ / 2;  // the bytes travel to the adapter
  for (std::uint8_t byte : out) {
    const std::uint8_t sampled =
        static_cast<std::uint8_t>((latch_ & kFtdiOutputPins) | (chip_->read(0) & kFtdiReadBackPin));
    echo.push_back(sampled);
    latch_ = byte;
    chip_->write(0, byte);
    clockNs_ += byteNs_;
  }
  clockNs_ += roundTripNs_ - roundTripNs_ / 2;  // and the echo back
  return true;
}

}  // namespace zk7
