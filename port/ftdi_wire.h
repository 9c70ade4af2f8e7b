// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The wire side of a USB programmer adapter built on an FTDI chip in
// synchronous bit-bang mode: the chips we drive and their clock figures, the
// adapter's wiring (which pin carries which line, at which level, with which
// pull resistor), the text that names one ("ftdi:0403:6001:A1B2C3D4"), the
// small interface the USB library sits behind, and the framing that turns
// line changes, waits and status samples into pin bytes, checks every echo
// and cuts the samples out of it. No USB calls here.
//
// In synchronous bit-bang mode the chip applies the bytes it is sent to its
// eight pins at a fixed rate from its own clock and, for every byte, returns
// the pins as sampled just before that byte is applied. A sample wanted after
// some write therefore comes back with the byte that follows it, and the echo
// of every byte shows the pins the byte before it left.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk7 {

// One FTDI chip we drive, with the figures its pin clock follows.
struct FtdiChip {
  const char* name;  // "FT232R"
  // USB ids the chip has unless its EEPROM says otherwise, and its USB
  // release number (bcdDevice), which tells chips with the same ids apart.
  std::uint16_t vendor;
  std::uint16_t product;
  std::uint16_t release;
  bool byDefault;  // tried by a bare "ftdi" (an FT2232 is often a debugger: name it)
  // The baud-rate generator's reference: 3 MHz on the full-speed chips, 12 MHz
  // on the high-speed ones (libftdi picks their 120 MHz / 10 clock).
  int baseClockHz;
  // Pin bytes per baud in bit-bang mode: 16 on FT232R and FT2232C/D, 5 on the H series.
  int pinsPerBaud;
  // Pin bytes per second we run it at: the rate a parallel port's writes have,
  // so the chip's serial clock keeps the timing it was proven with.
  int pinRate;
};

// The chips we drive; an FT2232 through its first channel.
constexpr FtdiChip kFtdiChips[] = {
    {"FT232R", 0x0403, 0x6001, 0x0600, true, 3000000, 16, 1000000},
    {"FT232H", 0x0403, 0x6014, 0x0900, true, 12000000, 5, 1000000},
    {"FT2232D", 0x0403, 0x6010, 0x0500, false, 3000000, 16, 1000000},
    {"FT2232H", 0x0403, 0x6010, 0x0700, false, 12000000, 5, 1000000},
};
// The row of a USB release number; nullptr for a chip we have no figures for.
const FtdiChip* FtdiChipByRelease(std::uint16_t release);
// "FT4232H", "FT-X series (FT230X, FT231X, ...)", "FTDI chip 0x1234": any FTDI release number.
std::string FtdiModelName(std::uint16_t release);
// "FT232R, FT232H, FT2232D and FT2232H".
std::string SupportedFtdiChips();

// What to ask libftdi's ftdi_set_baudrate for (it multiplies the rate by 4 in
// bit-bang mode) so the pins run at chip.pinRate; every row divides exactly.
constexpr int BaudRequest(const FtdiChip& chip) {
  return chip.pinRate / (4 * chip.pinsPerBaud);
}
constexpr bool DividesExactly(const FtdiChip& chip) {
  const int baud = 4 * BaudRequest(chip);
  return baud * chip.pinsPerBaud == chip.pinRate && chip.baseClockHz % baud == 0;
}
static_assert(DividesExactly(kFtdiChips[0]) && DividesExactly(kFtdiChips[1]) &&
                  DividesExactly(kFtdiChips[2]) && DividesExactly(kFtdiChips[3]),
              "every chip's pins run at exactly its pinRate");

// The adapter's wiring: one row per line. Every line that can power the chip
// or reach it sits on a pin that is an input while the FTDI chip is a serial
// port (RXD, CTS#, DSR#, DCD#, RI#), is on while its pin is high, and has a
// pull-down on the board that beats the chip's weak pull-up. Every state the
// adapter shows without us driving it (serial port at plug-in, a program
// holding /dev/ttyUSBn with DTR and RTS asserted, all pins inputs, a latch
// reset to 0, suspend, unplugged) then leaves them off. Clock and data sit on
// the serial outputs (TXD, RTS#), harmless while their enables are off; the
// read-back sits on DTR# behind a series resistor, as the serial port drives it.
struct UsbLine {
  const char* name;      // "VPP"
  std::uint8_t dataBit;  // its data-register bit (mask)
  bool onWhenSet;        // the line is on (or 1) while that bit is set
  std::uint8_t pin;      // bit-bang pin D0..D7 (mask)
  const char* pinName;   // "CTS# (D3)"
  bool power;            // VPP, VDD or nPRG: what "switched off" must prove
  int pullDownOhms;      // on the board; 0 for none
};
constexpr UsbLine kUsbWiring[] = {
    {"DATA", 0x01, true, 0x04, "RTS# (D2)", false, 0},
    {"CLK", 0x02, true, 0x01, "TXD (D0)", false, 0},
    {"DATWREN", 0x04, true, 0x02, "RXD (D1)", false, 10000},
    {"VPP", 0x08, true, 0x08, "CTS# (D3)", true, 10000},
    {"VDD", 0x10, false, 0x20, "DSR# (D5)", true, 10000},
    {"CLKEN", 0x20, true, 0x40, "DCD# (D6)", false, 10000},
    {"nPRG", 0x80, false, 0x80, "RI# (D7)", true, 10000},
};
// The input that carries the chip's serial data output (status bit 6), high
// while that line is high, through a 1 kOhm series resistor.
constexpr std::uint8_t kUsbReadBackPin = 0x10;
constexpr const char* kUsbReadBackPinName = "DTR# (D4)";
constexpr int kUsbReadBackSeriesOhms = 1000;
// The pins we drive.
constexpr std::uint8_t kUsbOutputPins = static_cast<std::uint8_t>(~kUsbReadBackPin);

// A data-register byte as pin levels, and back (bit 6, unused, reads 1).
std::uint8_t PinsFromData(std::uint8_t data);
std::uint8_t DataFromPins(std::uint8_t pins);
// The pins of the power lines (VPP, VDD, nPRG).
std::uint8_t PowerPins();
// "VPP on CTS# (D3), CLK on TXD (D0)": the lines whose pins are in mask.
std::string PinNames(std::uint8_t mask);

// The text after "ftdi": "" (the first FT232R or FT232H found), ":VID:PID" or
// ":VID:PID:SERIAL", ids in hexadecimal ("0403:6001:A1B2C3D4"), any of them
// followed by "@PATH", the USB port the adapter is plugged into as the
// kernel names it (bus 1, port 2 of the root hub, port 3 of the hub there:
// "1-2.3"). The path names an adapter without a serial number, and the guard
// gets both so that it can only ever switch the board the program used.
struct FtdiAddress {
  bool anyDefault = true;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::string serial;  // "" for the first device with these ids
  std::string path;    // "" for any port
};
// All or nothing: false with a sentence in error, address untouched. text is
// what follows "ftdi:" ("" for a bare "ftdi"); "@1-2" alone is accepted too.
bool ParseFtdiAddress(const std::string& text, FtdiAddress& address, std::string& error);
// "ftdi:0403:6001:A1B2C3D4" ("ftdi:0403:6001" without a serial number), with
// "@1-2.3" after it for a path.
std::string FtdiPortText(std::uint16_t vendor, std::uint16_t product, const std::string& serial,
                         const std::string& path = "");

// The status-register byte the pins stand for: bit 6 from the read-back pin;
// the lines a USB adapter lacks read as a connected parallel adapter's, so
// traces of both paths compare equal (the cable check does not read them).
std::uint8_t StatusFromPins(std::uint8_t pins);

// "USB adapter FT232R A1B2C3D4 is in use by another program".
std::string FtdiInUseText(const std::string& name);

// How long one transfer of bytes pin bytes (and their echo) may take before
// it is given up: a latency period and the host's hiccups, and for every
// byte five times what the slowest chip and bus take (a full-speed bus
// shared by both directions, a pin clock a third slower than nominal).
constexpr std::int64_t UsbTransferDeadlineNs(std::size_t bytes) {
  return 250000000 + static_cast<std::int64_t>(bytes) * 10000;
}
// What a USB transfer's status (libusb_transfer_status: 1 error, 2 timed out,
// 3 cancelled, 4 stall, 5 no device, 6 overflow) means, with libusb's name.
std::string UsbTransferWords(int status);

// The USB side of an adapter: libftdi on hardware, a simulated adapter in
// tests. Each call is one libftdi call (or, for open and transfer, the few
// that make it) and returns false with the reason in error.
class FtdiBackend {
 public:
  enum class Mode { Reset, SyncBitbang };  // serial port, synchronous bit-bang
  virtual ~FtdiBackend() = default;
  // Opens the USB device, taking it from the kernel's serial driver until
  // close(). False with a sentence: not found, no permission, or
  // FtdiInUseText() when another program holds it.
  virtual bool open(std::string& error) = 0;
  // Gives the device back (the serial driver takes it again); the pins keep
  // what they show. Everything else fails until open().
  virtual void close() = 0;
  // The open device's USB release number (bcdDevice).
  virtual std::uint16_t release() const = 0;
  // "FT232R A1B2C3D4".
  virtual std::string name() const = 0;
  virtual bool setLatencyTimer(int ms, std::string& error) = 0;
  // outputs: the pins driven (others are inputs).
  virtual bool setBitmode(std::uint8_t outputs, Mode mode, std::string& error) = 0;
  // libftdi's rate: multiplied by 4 once a bit-bang mode was set since open.
  virtual bool setBaudrate(int baud, std::string& error) = 0;
  // Empties both FIFOs: bytes not yet at the pins and echo not yet read.
  virtual bool purge(std::string& error) = 0;
  // The eight pins' levels now, whatever the mode.
  virtual bool readPins(std::uint8_t& pins, std::string& error) = 0;
  // Sends out to the pins in order and reads one echo byte per byte sent.
  virtual bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                        std::string& error) = 0;
  // The host's monotonic clock in nanoseconds, and a wait on it.
  virtual std::int64_t nowNs() const = 0;
  virtual void sleepUntilNs(std::int64_t ns) = 0;
  // A chip's sequence begins (PortDriver::sequenceStarts): nothing for a real
  // adapter; the simulated one hands it to its emulated chip.
  virtual void sequenceStarts() {}
  // The echo bytes a full IN packet carries (the packet less its two status
  // bytes): the chip sends a full packet at once, a shorter one only when its
  // latency timer expires. 0 when not known.
  virtual std::size_t packetPayload() const { return 0; }
  // After a failed open(): no such adapter is plugged in, looked for afresh.
  virtual bool gone() const { return false; }
  // The port text that names the adapter opened last and no other (ids,
  // serial number, path); "" before the first open.
  virtual std::string portText() const { return {}; }
  // Empty normally; what goes wrong beyond the adapter (the simulated one's
  // emulated chip cannot save its file).
  virtual std::string problem() const { return {}; }
};

// Pin bytes waiting to go out, with the places where samples are wanted. It
// sends only when a sample or a wait needs it, when it holds limit bytes, or
// when told. Every echo is checked: its driven pins must show the byte sent
// before it, or the transfer counts as failed.
class FtdiQueue {
 public:
  FtdiQueue(FtdiBackend& backend, std::size_t limit);
  // One data-register byte.
  void write(std::uint8_t data);
  // A status sample of the pins as every byte queued so far leaves them.
  void sample();
  // The lines stay as they are for at least ms: what is queued is sent with
  // one more byte, whose echo proves the last one reached the pins, and
  // nothing more goes out until ms (plus 1 %) have passed on the host's clock
  // since that echo arrived. The adapter's own clock is not trusted with it.
  void hold(int ms);
  // Sends everything queued; the samples' status bytes join takeSamples().
  // False once a transfer failed (problem() says why).
  bool send();
  std::vector<std::uint8_t> takeSamples();
  // After the adapter was set up afresh with its lines off at time echoNs:
  // an earlier failure no longer stops sending.
  void restart(std::int64_t echoNs);
  // The first failure. After it nothing is sent and samples read 0xFF, as
  // from a port that cannot be reached.
  const std::string& problem() const { return problem_; }
  // The last data-register byte queued.
  std::uint8_t lastData() const { return lastData_; }
  // Nothing waits to be sent: after a send, the pins are proven to show lastData().
  bool idle() const { return out_.empty(); }

 private:
  void transferChecked(const std::vector<std::uint8_t>& out);
  void keepTimer(std::size_t bytes, std::size_t payload);
  bool checkEcho(const std::vector<std::uint8_t>& out);
  FtdiBackend& backend_;
  std::size_t limit_;
  std::vector<std::uint8_t> out_;   // pin bytes
  std::vector<std::size_t> marks_;  // sample k: the echo of out_[marks_[k]]
  std::vector<std::uint8_t> samples_;
  std::vector<std::uint8_t> echo_;
  std::uint8_t lastData_;
  std::uint8_t applied_;          // pins the last byte sent left
  std::int64_t echoNs_ = 0;       // when the last echo arrived
  std::int64_t notBeforeNs_ = 0;  // no byte goes out before this
  std::string problem_;
};

// Sends bytes (data-register meaning) followed by one unchanged byte and
// checks the echo: the pins in mask must read back as sent. pinsBefore is
// what the pins showed before, or -1 when unknown (after a purge). Failed
// puts the transfer's reason in error, Mismatch the lines that did not
// follow ("VPP on CTS# (D3) read high").
enum class SendResult { Ok, Failed, Mismatch };
SendResult SendChecked(FtdiBackend& backend, const std::vector<std::uint8_t>& data, int pinsBefore,
                       std::uint8_t mask, std::string& error);

}  // namespace zk7
