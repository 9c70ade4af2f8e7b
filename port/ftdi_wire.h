// The wire side of a USB programmer adapter built on an FTDI chip in
// synchronous bit-bang mode: the chips we drive, the text that names one
// ("ftdi:0403:6001:A1B2C3D4"), the small interface the USB library sits
// behind, and the framing that turns line changes, waits and status samples
// into pin bytes and cuts the samples out of the echo. No USB calls here.
//
// In synchronous bit-bang mode the chip applies the bytes it is sent to its
// eight pins at a fixed rate from its own clock and, for every byte, returns
// the pins as sampled just before that byte is applied. A sample wanted after
// some write therefore comes back with the byte that follows it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zk7 {

// Pin map: bit-bang pins D0..D5 and D7 carry data-register bits 0..5 and 7
// with the same polarities, so a data-register byte goes out as it is; D6 is
// the input that carries the chip's serial data output (status bit 6).
constexpr std::uint8_t kFtdiOutputPins = 0xBF;
constexpr std::uint8_t kFtdiReadBackPin = 0x40;

struct FtdiChip {
  const char* name;      // "FT232R"
  std::uint16_t vendor;  // USB ids the chip has unless its EEPROM says otherwise
  std::uint16_t product;
  bool byDefault;  // tried by a bare "ftdi" (an FT2232 is often a debugger: name it)
  // Pin bytes per second in synchronous bit-bang: waits are counted in these.
  int pinRate;
};

// The chips we drive; an FT2232 through its first channel.
constexpr FtdiChip kFtdiChips[] = {
    {"FT232R", 0x0403, 0x6001, true, 500000},
    {"FT232H", 0x0403, 0x6014, true, 1000000},
    {"FT2232", 0x0403, 0x6010, false, 500000},
};

// The text after "ftdi:": "" (the first FT232R or FT232H found), "VID:PID" or
// "VID:PID:SERIAL", ids in hexadecimal ("0403:6001:A1B2C3D4").
struct FtdiAddress {
  bool anyDefault = true;
  std::uint16_t vendor = 0;
  std::uint16_t product = 0;
  std::string serial;  // "" for the first device with these ids
};
// All or nothing: false with a sentence in error, address untouched.
bool ParseFtdiAddress(const std::string& text, FtdiAddress& address, std::string& error);
// "ftdi:0403:6001:A1B2C3D4" ("ftdi:0403:6001" without a serial number).
std::string FtdiPortText(std::uint16_t vendor, std::uint16_t product, const std::string& serial);

// The status-register byte the pins stand for: bit 6 from D6; the lines a USB
// adapter lacks read as a connected parallel adapter's, so traces of both
// paths compare equal (the cable check does not read them).
std::uint8_t StatusFromPins(std::uint8_t pins);

// "USB adapter FT232R A1B2C3D4 is in use by another program".
std::string FtdiInUseText(const std::string& name);

// Pin bytes that keep the lines still for at least ms at pinRate bytes per second.
std::size_t HoldBytes(int ms, int pinRate);

// The USB side of an adapter: libftdi on hardware, a simulated device in tests.
class FtdiBackend {
 public:
  virtual ~FtdiBackend() = default;
  // Opens the USB device (taking it from other programs) and puts it in
  // synchronous bit-bang mode with kFtdiOutputPins as outputs, all lines off.
  // False with a sentence in error: not found, no permission, or
  // FtdiInUseText() when another program holds it.
  virtual bool open(std::string& error) = 0;
  // Gives the device back; the lines keep their last levels. Transfers fail until open().
  virtual void close() = 0;
  // Sends out to the pins in order and fills echo with one sample per byte.
  // False with the reason in error when the transfer failed.
  virtual bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                        std::string& error) = 0;
  // The clock transfers are timed on, in nanoseconds.
  virtual std::int64_t nowNs() const = 0;
  virtual const FtdiChip& chip() const = 0;
  // "FT232R A1B2C3D4".
  virtual std::string name() const = 0;
};

// Pin bytes waiting to go out, with the places where samples are wanted. It
// sends only when a sample is needed, when it holds limit bytes, or when told.
class FtdiQueue {
 public:
  FtdiQueue(FtdiBackend& backend, std::size_t limit);
  void write(std::uint8_t value);
  // Repeats the last byte for at least ms of pin time.
  void hold(int ms);
  // A status sample of the pins as every byte queued so far leaves them.
  void sample();
  // Sends everything queued; the samples' status bytes join takeSamples().
  void send();
  std::vector<std::uint8_t> takeSamples();
  // After the device was opened afresh: its lines are all off and an earlier
  // failure (an unplugged adapter, now back) no longer stops sending.
  void restart();
  // The first failure. After it nothing is sent and samples read 0xFF, as
  // from a port that cannot be reached.
  const std::string& problem() const { return problem_; }

 private:
  FtdiBackend& backend_;
  std::size_t limit_;
  std::vector<std::uint8_t> out_;
  std::vector<std::size_t> marks_;  // sample k: the echo of out_[marks_[k]]
  std::vector<std::uint8_t> samples_;
  std::vector<std::uint8_t> echo_;
  std::uint8_t last_;
  std::string problem_;
};

}  // namespace zk7
