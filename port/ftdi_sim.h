// A simulated USB programmer adapter for tests, benchmarks and the
// emulator's usb= option: an FTDI chip as its datasheets describe it, the
// board of the README's wiring table around it, and the emulated chip on that
// board's lines. It sits below libftdi's calls, so the driver's set-up
// sequence, waits and echo checks run against it as against hardware.
//
// Modelled from the datasheets and libftdi, never from the driver's own
// constants: the serial-port state at plug-in (TXD, RTS#, DTR# driven high,
// the rest inputs with the chip's weak pull-ups) and a program holding
// /dev/ttyUSBn (DTR# and RTS# low); inputs at the divider of that pull-up and
// the board's resistor; a latch that is either kept or reset to 0 when the
// bit mode is set (no datasheet says which); libftdi's 9600 baud at open and
// its rate x 4 once a bit-bang mode is set; the pin clock from the divisor
// the chip picks (1/8 steps) times its pins per baud; on the BM/R/FT2232C/D
// parts a byte width that varies (seeded) around the nominal one; the FIFOs
// (echo not read: the chip stops clocking once its IN FIFO is full, and the
// OUT FIFO then fills); USB packets per (micro)frame and a round trip; a
// transfer that fails after its bytes reached the pins, an unplug, echo
// faults, suspend and the EEPROM's suspend pull-down and inverted pins.
//
// Time is virtual: one clock for the host and the pins, advanced by the
// simulated transfers and by sleepUntilNs(). The emulated chip reads it.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "port/emulator.h"
#include "port/ftdi_wire.h"

namespace zk7 {

// An FTDI chip's figures from its datasheet.
struct UsbModel {
  const char* key;  // "ft232r": the emulator's usb= value
  const char* name;
  std::uint16_t release;  // USB bcdDevice
  bool highSpeed;         // 480 Mbit/s: 512-byte packets in 125 us microframes
  double baseClockHz;     // the baud-rate generator's reference in bit-bang use
  int pinsPerBaud;        // pin bytes per baud in bit-bang mode
  int outFifo;            // bytes from the host waiting for the pins
  int inFifo;             // echo bytes waiting for the host
  double pullUpOhms;      // an input pin's internal pull-up
  bool widthVaries;       // bit-bang byte widths vary (BM, R, FT2232C/D)
};
extern const UsbModel kUsbModels[4];
// The model of an emulator usb= value; nullptr for an unknown one.
const UsbModel* FindUsbModel(const std::string& key);
// "ft232r, ft232h, ft2232d or ft2232h".
std::string UsbModelKeys();

class SimulatedFtdi : public FtdiBackend {
 public:
  explicit SimulatedFtdi(std::unique_ptr<EmulatorDriver> chip,
                         const UsbModel& model = kUsbModels[0], UsbEmulation usb = {});
  ~SimulatedFtdi() override;
  SimulatedFtdi(const SimulatedFtdi&) = delete;
  SimulatedFtdi& operator=(const SimulatedFtdi&) = delete;

  bool open(std::string& error) override;
  void close() override;
  std::uint16_t release() const override { return model_.release; }
  std::string name() const override { return std::string(model_.name) + " SIMULATED"; }
  bool setLatencyTimer(int ms, std::string& error) override;
  bool setBitmode(std::uint8_t outputs, Mode mode, std::string& error) override;
  bool setBaudrate(int baud, std::string& error) override;
  bool purge(std::string& error) override;
  bool readPins(std::uint8_t& pins, std::string& error) override;
  bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                std::string& error) override;
  std::int64_t nowNs() const override { return static_cast<std::int64_t>(now_); }
  void sleepUntilNs(std::int64_t ns) override;
  void sequenceStarts() override { chip_->sequenceStarts(); }

  // What the adapter was made as (before its first open).
  void setLatchKeptAcrossBitmode(bool kept) { latchKept_ = kept; }
  void setEeprom(bool suspendPullDown, std::uint8_t invertedPins);
  void setSeed(std::uint32_t seed) { random_.seed(seed); }
  // A board built other than the wiring table says: the pull-down on pins.
  void setBoardPullDown(std::uint8_t pins, int ohms);
  // What happens to it from outside: another program opens it as a serial
  // port (DTR# and RTS# asserted) and sends bytes on TXD; unplugged and
  // plugged in again; the host suspends the bus; another program holds it;
  // transfer n fails as usb-fail does.
  void openAsSerialPort();
  void sendAsSerialPort(const std::string& bytes);
  void unplug();
  void plugIn();
  void suspend(bool on);
  void setBusy(bool busy) { busy_ = busy; }
  void failTransfer(int n) { failAt_.push_back(n); }

  // The lines as the chip sees them, in data-register meaning (bit 3 set: VPP
  // on; bit 4 clear: VDD on; bit 7 clear: programming mode), at every change
  // from plug-in (time 0), with what the adapter was doing.
  struct PinState {
    std::int64_t ns;
    std::uint8_t lines;
    const char* adapter;  // "serial port", "inputs", "bit-bang", "suspended", "unplugged"
  };
  const std::vector<PinState>& history() const { return history_; }
  // Appends "T <microseconds> <hex>" per change, starting with the state now.
  bool setPinTrace(const std::string& path, std::string& error);
  // Pin bytes per second the chip clocks now.
  double pinRateHz() const { return pinRate_; }

  EmulatorDriver& emulator() { return *chip_; }
  int transfers() const { return transfers_; }
  int opens() const { return opens_; }
  int closes() const { return closes_; }
  bool isOpen() const { return open_; }

 private:
  enum class Level { Low, High, Between };
  struct Echo {
    std::uint8_t pins;
    double ns;  // when it was sampled
  };
  Level pad(int pin) const;
  std::uint8_t pinByte() const;
  std::uint8_t lines() const;
  const char* adapterState() const;
  bool driven(int pin, bool& level) const;
  void settle(double ns);
  void control();
  bool gone(std::string& error) const;
  double byteWidth();
  void apply(std::uint8_t byte, double& t);

  std::unique_ptr<EmulatorDriver> chip_;
  UsbModel model_;
  UsbEmulation usb_;
  double roundTrip_;  // ns
  double slot_;       // ns per bulk packet in either direction
  int packet_;        // bulk packet bytes
  double now_ = 0;    // host and pins, ns
  double pinNow_ = 0;
  double pinFree_ = 0;  // the pins take the next byte no earlier
  double pinRate_ = 0;
  std::mt19937 random_{1};

  bool plugged_ = true;
  bool open_ = false;
  bool busy_ = false;
  bool suspended_ = false;
  bool serialPortOpen_ = false;  // DTR# and RTS# asserted
  bool txd_ = true;
  bool bitbang_ = false;
  bool bitbangSetSinceOpen_ = false;
  bool latchKept_ = true;
  bool suspendPullDown_ = false;
  bool stuck_ = false;
  std::uint8_t inverted_ = 0;
  int pullDown_[8] = {};  // the board's, by pin
  std::uint8_t outputs_ = 0;
  std::uint8_t latch_ = 0;
  std::deque<Echo> inFifo_;
  std::deque<std::uint8_t> outFifo_;  // bytes the pins have not taken yet
  std::vector<int> failAt_;
  std::uint8_t lines_ = 0;
  std::vector<PinState> history_;
  std::FILE* trace_ = nullptr;
  int transfers_ = 0;
  int opens_ = 0;
  int closes_ = 0;
};

// The emulator's port for the text after "emulator:": the emulated chip
// alone, or (with usb=MODEL) behind a simulated adapter through the USB
// driver, its pins traced to ZK7_PIN_TRACE when that is set. nullptr with
// why in error.
std::unique_ptr<PortDriver> OpenEmulatedPort(const std::string& options, std::string& error);

}  // namespace zk7
