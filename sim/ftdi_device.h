// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A model of an FTDI USB chip (FT232R, FT232H, FT2232D, FT2232H first
// channel) on the programmer adapter board the wiring table of docs/usb-adapter.md
// describes, with the emulated ZK7 chip on the board's lines. It is the
// silicon as the USB host meets it: descriptors, vendor requests on endpoint
// 0, bulk OUT packets into endpoint 0x02 and IN packets out of 0x81, each at
// a time in nanoseconds that never goes back. What carries those calls is a
// transport: the tests' USB bus behind the libusb stand-in (sim/usb_bus.h),
// on a virtual or the real clock, or a gadgetfs program on the real clock.
//
// Written from the chips' datasheets and FTDI's application notes, never
// from the driver's tables: the FIFOs (the OUT one feeds the pins, the IN one
// holds what goes to the host), two modem-status bytes at the head of every
// IN packet, the latency timer (a packet that is not full leaves only once
// the timer, restarted by every packet sent and counting whole milliseconds,
// has expired; with nothing to send, a status-only packet each period), the baud divisor in
// eighths, the bit modes (serial port, asynchronous and synchronous bit-bang) kept across a
// serial-port open until a bit-mode reset, synchronous bit-bang's echo (the pins as they were just
// before each byte is applied) and its stall (no byte is applied while the IN FIFO is full), a byte
// width that varies on the full-speed parts, the serial port's outputs (TXD idle high, RTS# and
// DTR# low while asserted), the chip's weak pull-ups against the board's pull-downs, suspend,
// unplugging, and the EEPROM's inverted pins, suspend pull-down and serial number.
//
// A transport's part: one caller at a time (the model has no lock), times that never go back, a
// bulkIn call only when the host could take a packet (the call sends it and restarts the latency
// timer), a refused bulkOut packet offered again no sooner than nextChangeNs (the host meanwhile
// sees NAKs), and advance() when time passes without requests, so the pins and the emulated chip
// follow. A gadgetfs program answers ep0's setup events with control() and writes
// configDescriptor() for both speeds (gadgetfs takes bmAttributes 0x80 only: the FT232R's 0xA0
// must be changed there), reads ep2's packets into bulkOut() and writes bulkIn()'s packets to ep1,
// on the machine's clock.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "sim/emulator.h"

namespace zk7::sim {

// One chip's figures from its datasheet.
struct FtdiModel {
  const char* key;            // "ft232r"
  const char* name;           // "FT232R"
  std::uint16_t product;      // USB product id (vendor 0x0403)
  std::uint16_t release;      // bcdDevice
  bool highSpeed;             // 480 Mbit/s: 512-byte bulk packets
  int interfaces;             // channels
  int outFifo;                // bytes from the host waiting for the pins
  int inFifo;                 // bytes waiting for the host
  double pullUpOhms;          // an input pin's internal pull-up
  bool widthVaries;           // bit-bang byte widths vary (the R and 2232C/D parts)
  int pinsPerBaud;            // pin bytes per baud in bit-bang mode
  std::uint8_t attributes;    // configuration bmAttributes (0xA0: remote wake-up)
  const char* productString;  // string descriptor 2
};
extern const FtdiModel kFtdiModels[4];
// The model of "ft232r", "ft232h", "ft2232d" or "ft2232h"; nullptr otherwise.
const FtdiModel* FindFtdiModel(const std::string& key);
// "ft232r, ft232h, ft2232d or ft2232h".
std::string FtdiModelKeys();

// A control request's setup packet.
struct UsbSetup {
  std::uint8_t requestType;
  std::uint8_t request;
  std::uint16_t value;
  std::uint16_t index;
  std::uint16_t length;
};

class FtdiDevice {
 public:
  // serial "" makes an adapter without a serial number string (no EEPROM).
  FtdiDevice(const FtdiModel& model, std::unique_ptr<EmulatorDriver> chip,
             std::string serial = "SIMULATED");
  ~FtdiDevice();
  FtdiDevice(const FtdiDevice&) = delete;
  FtdiDevice& operator=(const FtdiDevice&) = delete;

  const FtdiModel& model() const { return model_; }
  const std::string& serial() const { return serial_; }

  // Descriptors (a high-speed chip on a full-speed bus has 64-byte packets).
  std::vector<std::uint8_t> deviceDescriptor() const;
  std::vector<std::uint8_t> configDescriptor(bool highSpeedBus) const;
  // String descriptor index (0: the language table); empty when there is none.
  std::vector<std::uint8_t> stringDescriptor(int index) const;
  int bulkPacket(bool highSpeedBus) const { return highSpeedBus && model_.highSpeed ? 512 : 64; }

  // A request on endpoint 0 at t: standard GET_DESCRIPTOR and configuration
  // requests, FTDI's vendor requests. Returns the bytes answered (IN) or taken
  // (OUT), or -1 for a stall.
  int control(std::int64_t t, const UsbSetup& setup, std::uint8_t* data);
  // A bulk OUT packet to endpoint 0x02 at t: false (NAK) while the OUT FIFO
  // has no room for all of it.
  bool bulkOut(std::int64_t t, const std::uint8_t* data, int n, bool highSpeedBus);
  // An IN token on endpoint 0x81 at t: a packet (status bytes first), or false (NAK).
  bool bulkIn(std::int64_t t, std::vector<std::uint8_t>& packet, bool highSpeedBus);
  // The first time after t at which bulkIn or bulkOut could answer otherwise
  // (a pin byte clocked, the latency timer expiring); INT64_MAX for never.
  std::int64_t nextChangeNs(std::int64_t t, bool highSpeedBus) const;
  // Runs the pins up to t (a transport calls it when time passes without a request).
  void advance(std::int64_t t) { run(static_cast<double>(t)); }

  // From outside: unplugged (the board loses its supply) and plugged in again
  // (a serial port with empty FIFOs, latency timer 16 ms); the host suspends
  // the bus.
  void unplug(std::int64_t t);
  void plugIn(std::int64_t t);
  bool plugged() const { return plugged_; }
  void suspend(std::int64_t t, bool on);

  // How it was made (before use): whether setting a bit mode keeps the output
  // latch or clears it (no datasheet says), the EEPROM's suspend pull-down and
  // inverted pins, the seed of the byte widths, and a board built other than
  // the wiring table (a pull-down of ohms on pins; 0 for none).
  void setLatchKeptAcrossBitmode(bool kept) { latchKept_ = kept; }
  void setEeprom(bool suspendPullDown, std::uint8_t invertedPins);
  void setSeed(std::uint32_t seed) { random_.seed(seed); }
  void setBoardPullDown(std::uint8_t pins, int ohms);

  // Faults: one stale echo byte ahead of the next ones (until a purge); the
  // clock line's pin stuck high; the bit mode lost (back to a serial port, as
  // after a glitch that resets the chip's mode but not its USB side).
  void staleEcho(std::int64_t t);
  void stickClockPin(std::int64_t t);
  void loseBitMode(std::int64_t t);

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

  enum class Mode { Serial, AsyncBitbang, SyncBitbang };
  Mode mode() const { return mode_; }
  int latencyMs() const { return latencyMs_; }
  // Pin bytes per second in bit-bang mode, from the divisor set last.
  double pinRateHz() const { return baud_ * model_.pinsPerBaud; }
  EmulatorDriver& emulator() { return *chip_; }

 private:
  enum class Level { Low, High, Between };
  struct OutByte {
    std::uint8_t value;
    double arrived;
  };
  Level pad(int pin) const;
  bool driven(int pin, bool& level) const;
  std::uint8_t pinByte() const;
  std::uint8_t lines() const;
  const char* adapterState() const;
  void settle(double t);
  void run(double t);
  void clockByte(double t);
  double byteNs();
  double expiry() const;  // of the latency timer
  std::uint8_t modemStatus() const;
  std::uint8_t lineStatus() const;
  int vendor(double t, const UsbSetup& s, std::uint8_t* data);
  void setBaud(std::uint16_t value, std::uint16_t index);

  FtdiModel model_;
  std::unique_ptr<EmulatorDriver> chip_;
  std::string serial_;
  std::mt19937 random_{1};

  bool plugged_ = true;
  bool suspended_ = false;
  Mode mode_ = Mode::Serial;
  std::uint8_t outputs_ = 0;  // bit-bang direction mask
  std::uint8_t latch_ = 0;
  bool latchKept_ = true;
  bool dtr_ = false, rts_ = false;  // asserted (pin low)
  bool txd_ = true;
  double baud_ = 9600;
  int latencyMs_ = 16;
  double lastPacket_ = 0;  // when the last IN packet left
  std::deque<OutByte> out_;
  std::deque<std::uint8_t> in_;
  double pinFree_ = 0;  // the next byte is applied no earlier
  bool stalled_ = false;
  double pinNow_ = 0;
  bool suspendPullDown_ = false;
  std::uint8_t inverted_ = 0;
  bool stuckClock_ = false;
  int pullDown_[8] = {};  // the board's, by pin

  std::uint8_t lines_ = 0;
  std::vector<PinState> history_;
  std::FILE* trace_ = nullptr;
};

}  // namespace zk7::sim
