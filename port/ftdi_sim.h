// A simulated USB adapter for tests and benchmarks: the emulated chip sits on
// the pins of an FTDI chip in synchronous bit-bang mode. Each byte sent is
// applied to the chip as the data register would be, the echo carries the
// pins sampled just before each byte, and every transfer costs a round trip
// plus the bytes' pin time on a virtual clock, which is also the chip's clock.
#pragma once

#include <cstdint>
#include <memory>

#include "port/emulator.h"
#include "port/ftdi_wire.h"

namespace zk7 {

class SimulatedFtdi : public FtdiBackend {
 public:
  // rateFactor > 1 makes the pins run faster than the chip's pinRate says.
  explicit SimulatedFtdi(std::unique_ptr<EmulatorDriver> chip, const FtdiChip& type = kFtdiChips[0],
                         std::int64_t roundTripNs = 1000000, double rateFactor = 1.0);

  // Opening costs one round trip (the control transfers that set up bit-bang
  // mode) and latches every line off; it is refused while busy or unplugged.
  bool open(std::string& error) override;
  void close() override;
  bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                std::string& error) override;
  std::int64_t nowNs() const override { return clockNs_; }
  const FtdiChip& chip() const override { return type_; }
  std::string name() const override { return std::string(type_.name) + " SIMULATED"; }

  EmulatorDriver& emulator() { return *chip_; }
  int transfers() const { return transfers_; }
  int opens() const { return opens_; }
  int closes() const { return closes_; }
  bool isOpen() const { return open_; }
  // Makes every transfer and open from now on fail, as an unplugged adapter's would.
  void unplug() { unplugged_ = true; }
  // While busy, open() is refused as when another program holds the adapter.
  void setBusy(bool busy) { busy_ = busy; }

 private:
  std::unique_ptr<EmulatorDriver> chip_;
  const FtdiChip& type_;
  std::int64_t roundTripNs_;
  double byteNs_;
  double clockNs_ = 0;
  std::uint8_t latch_ = 0xFF;
  int transfers_ = 0;
  int opens_ = 0;
  int closes_ = 0;
  bool open_ = false;
  bool unplugged_ = false;
  bool busy_ = false;
};

}  // namespace zk7
