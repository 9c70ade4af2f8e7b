// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "sim/ftdi_device.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

namespace zk7::sim {

// FIFO sizes, packet sizes and pull-ups from each chip's datasheet (OUT is
// the chip's receive buffer, IN its transmit buffer); pin bytes per baud in
// bit-bang mode as measured by others (16 on the full-speed parts, 5 on the
// H series). Only the FT232R asks for remote wake-up.
const FtdiModel kFtdiModels[4] = {
    {"ft232r", "FT232R", 0x6001, 0x0600, false, 1, 256, 128, 200e3, true, 16, 0xA0,
     "FT232R USB UART"},
    {"ft232h", "FT232H", 0x6014, 0x0900, true, 1, 1024, 1024, 75e3, false, 5, 0x80,
     "Single RS232-HS"},
    {"ft2232d", "FT2232D", 0x6010, 0x0500, false, 2, 384, 128, 200e3, true, 16, 0x80, "Dual RS232"},
    {"ft2232h", "FT2232H", 0x6010, 0x0700, true, 2, 4096, 4096, 75e3, false, 5, 0x80,
     "Dual RS232-HS"},
};

const FtdiModel* FindFtdiModel(const std::string& key) {
  for (const FtdiModel& m : kFtdiModels)
    if (key == m.key) return &m;
  return nullptr;
}

std::string FtdiModelKeys() {
  return "ft232r, ft232h, ft2232d or ft2232h";
}

namespace {

// The wiring table of docs/usb-adapter.md, as the board is built: each line's
// data-register bit, whether the line is on while that bit is set, the pin
// (ADBUS number; TXD, RXD, RTS#, CTS#, DTR#, DSR#, DCD#, RI# on the FT232R)
// and the board's pull-down. A line is on while its pin is high.
struct BoardLine {
  std::uint8_t dataBit;
  bool onWhenSet;
  int pin;
  int pullDownOhms;
};
constexpr BoardLine kBoard[] = {
    {0x01, true, 2, 0},       // serial data to the chip: RTS#
    {0x02, true, 0, 0},       // serial clock: TXD
    {0x04, true, 1, 10000},   // data-line driver enable: RXD
    {0x08, true, 3, 10000},   // VPP: CTS#
    {0x10, false, 5, 10000},  // VDD, on while bit 4 is clear: DSR#
    {0x20, true, 6, 10000},   // clock-line enable: DCD#
    {0x80, false, 7, 10000},  // programming-mode select, on while bit 7 is clear: RI#
};
// The chip's serial data output comes back on DTR# through 1 kOhm.
constexpr int kReadBackPin = 4;
// Unplugged, the board has no supply: every line at 0 V, so off.
constexpr std::uint8_t kEveryLineOff = 0xD0;

// The serial port's pins.
constexpr int kTxd = 0, kRts = 2, kCts = 3, kDtr = 4, kDsr = 5, kDcd = 6, kRi = 7;
constexpr double kVccio = 3.3;
constexpr double kLowBelow = 0.8;  // input thresholds of the board's logic
constexpr double kHighAbove = 2.0;

// FTDI's vendor requests.
enum Request {
  kReset = 0x00,
  kModemCtrl = 0x01,
  kSetFlowCtrl = 0x02,
  kSetBaudRate = 0x03,
  kSetData = 0x04,
  kPollModemStatus = 0x05,
  kSetEventChar = 0x06,
  kSetErrorChar = 0x07,
  kSetLatencyTimer = 0x09,
  kGetLatencyTimer = 0x0A,
  kSetBitmode = 0x0B,
  kReadPins = 0x0C,
  kReadEeprom = 0x90,
};

void Put16(std::vector<std::uint8_t>& d, std::uint16_t v) {
  d.push_back(static_cast<std::uint8_t>(v & 0xFF));
  d.push_back(static_cast<std::uint8_t>(v >> 8));
}

std::vector<std::uint8_t> StringDescriptor(const std::string& text) {
  std::vector<std::uint8_t> d = {static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
  for (char c : text) Put16(d, static_cast<std::uint8_t>(c));
  return d;
}

}  // namespace

FtdiDevice::FtdiDevice(const FtdiModel& model, std::unique_ptr<EmulatorDriver> chip,
                       std::string serial)
    : model_(model), chip_(std::move(chip)), serial_(std::move(serial)) {
  for (const BoardLine& line : kBoard) pullDown_[line.pin] = line.pullDownOhms;
  chip_->setClock([this] { return static_cast<std::int64_t>(pinNow_); });
  lines_ = lines();
  chip_->write(0, lines_);
  history_.push_back({0, lines_, adapterState()});
}

FtdiDevice::~FtdiDevice() {
  if (trace_) std::fclose(trace_);
}

std::vector<std::uint8_t> FtdiDevice::deviceDescriptor() const {
  std::vector<std::uint8_t> d = {18, 1, 0x00, 0x02,
                                 0,  0, 0,    static_cast<std::uint8_t>(model_.highSpeed ? 64 : 8)};
  Put16(d, 0x0403);
  Put16(d, model_.product);
  Put16(d, model_.release);
  d.insert(d.end(), {1, 2, static_cast<std::uint8_t>(serial_.empty() ? 0 : 3), 1});
  return d;
}

std::vector<std::uint8_t> FtdiDevice::configDescriptor(bool highSpeedBus) const {
  const int packet = bulkPacket(highSpeedBus);
  std::vector<std::uint8_t> d = {9, 2};
  Put16(d, static_cast<std::uint16_t>(9 + 23 * model_.interfaces));
  d.insert(d.end(),
           {static_cast<std::uint8_t>(model_.interfaces), 1, 0, model_.attributes, 45});  // 90 mA
  for (int i = 0; i < model_.interfaces; ++i) {
    d.insert(d.end(), {9, 4, static_cast<std::uint8_t>(i), 0, 2, 0xFF, 0xFF, 0xFF, 2});
    for (const int address : {0x81 + 2 * i, 0x02 + 2 * i}) {
      d.insert(d.end(), {7, 5, static_cast<std::uint8_t>(address), 2});
      Put16(d, static_cast<std::uint16_t>(packet));
      d.push_back(0);
    }
  }
  return d;
}

std::vector<std::uint8_t> FtdiDevice::stringDescriptor(int index) const {
  switch (index) {
    case 0:
      return {4, 3, 0x09, 0x04};  // English (United States)
    case 1:
      return StringDescriptor("FTDI");
    case 2:
      return StringDescriptor(model_.productString);
    case 3:
      if (!serial_.empty()) return StringDescriptor(serial_);
      break;
  }
  return {};
}

bool FtdiDevice::driven(int pin, bool& level) const {
  const auto bit = static_cast<std::uint8_t>(1u << pin);
  if (suspended_) return false;
  if (mode_ != Mode::Serial) {
    if (!(outputs_ & bit)) return false;
    level = (latch_ & bit) != 0;
  } else if (pin == kTxd) {
    level = txd_;
  } else if (pin == kRts || pin == kDtr) {
    level = !(pin == kRts ? rts_ : dtr_);  // active low
  } else {
    return false;
  }
  level ^= (inverted_ & bit) != 0;
  return true;
}

FtdiDevice::Level FtdiDevice::pad(int pin) const {
  if (stuckClock_ && pin == kTxd) return Level::High;
  bool level = false;
  if (driven(pin, level)) return level ? Level::High : Level::Low;
  if (pin == kReadBackPin) return chip_->read(0) & 0x40 ? Level::High : Level::Low;
  if (suspended_ && suspendPullDown_) return Level::Low;
  // The chip's weak pull-up against the board's pull-down.
  const double board = pullDown_[pin];
  if (board <= 0) return Level::High;
  const double volts = kVccio * board / (board + model_.pullUpOhms);
  return volts < kLowBelow ? Level::Low : volts > kHighAbove ? Level::High : Level::Between;
}

std::uint8_t FtdiDevice::pinByte() const {
  std::uint8_t pins = 0;
  for (int pin = 0; pin < 8; ++pin)
    if (pad(pin) != Level::Low) pins |= static_cast<std::uint8_t>(1u << pin);
  return pins;
}

std::uint8_t FtdiDevice::lines() const {
  if (!plugged_) return kEveryLineOff;
  std::uint8_t data = 0x40;
  for (const BoardLine& line : kBoard) {
    // A level between the thresholds may switch the line on: counted as on.
    const bool on = pad(line.pin) != Level::Low;
    if (on == line.onWhenSet) data |= line.dataBit;
  }
  return data;
}

const char* FtdiDevice::adapterState() const {
  if (!plugged_) return "unplugged";
  if (suspended_) return "suspended";
  if (mode_ == Mode::Serial) return "serial port";
  return outputs_ ? "bit-bang" : "inputs";
}

void FtdiDevice::settle(double t) {
  pinNow_ = std::max(pinNow_, t);
  const std::uint8_t now = lines();
  const char* state = adapterState();
  if (now == lines_ && std::strcmp(state, history_.back().adapter) == 0) return;
  if (now != lines_) {
    chip_->write(0, now);
    if (trace_) std::fprintf(trace_, "T %.3f %02X\n", pinNow_ / 1000.0, now);
  }
  lines_ = now;
  history_.push_back({static_cast<std::int64_t>(pinNow_), now, state});
}

double FtdiDevice::byteNs() {
  const double nominal = 1e9 / pinRateHz();
  if (!model_.widthVaries) return nominal;
  // The bit-bang erratum of these parts gives no bound: half to one and a half.
  return nominal * std::uniform_real_distribution<double>(0.5, 1.5)(random_);
}

// Applies the next byte of the OUT FIFO at t: sent on TXD as a serial
// character, or put on the pins, in synchronous mode with the pins as they
// were just before going into the IN FIFO.
void FtdiDevice::clockByte(double t) {
  const std::uint8_t byte = out_.front().value;
  out_.pop_front();
  if (mode_ == Mode::Serial) {
    const double bit = 1e9 / baud_;
    for (int k = 0; k < 10; ++k) {  // start bit, eight data bits from bit 0, stop bit
      txd_ = k == 0 ? false : k == 9 ? true : ((byte >> (k - 1)) & 1) != 0;
      settle(t + k * bit);
    }
    pinFree_ = t + 10 * bit;
    return;
  }
  settle(t);
  if (mode_ == Mode::SyncBitbang) in_.push_back(pinByte());
  latch_ = byte;
  settle(t);
  pinFree_ = t + byteNs();
}

void FtdiDevice::run(double t) {
  while (plugged_ && !suspended_ && !out_.empty()) {
    const double at = std::max(pinFree_, out_.front().arrived);
    if (at > t) break;
    if (mode_ == Mode::SyncBitbang && in_.size() >= static_cast<std::size_t>(model_.inFifo)) {
      stalled_ = true;  // until the host reads
      break;
    }
    clockByte(at);
  }
  pinNow_ = std::max(pinNow_, t);
}

std::uint8_t FtdiDevice::modemStatus() const {
  // CTS, DSR, RI and DCD are active while their pins are low.
  std::uint8_t s = 0x01;
  if (pad(kCts) == Level::Low) s |= 0x10;
  if (pad(kDsr) == Level::Low) s |= 0x20;
  if (pad(kRi) == Level::Low) s |= 0x40;
  if (pad(kDcd) == Level::Low) s |= 0x80;
  return s;
}

// The line status (AN232B-04): the transmit holding register empty (bit 5)
// once the OUT FIFO is, the transmitter empty (bit 6) once the serial port's
// last stop bit has left TXD too. The kernel's serial driver waits for the
// latter before it closes the port.
std::uint8_t FtdiDevice::lineStatus() const {
  if (!out_.empty()) return 0x00;
  return mode_ == Mode::Serial && pinNow_ < pinFree_ ? 0x20 : 0x60;
}

int FtdiDevice::control(std::int64_t t, const UsbSetup& s, std::uint8_t* data) {
  if (!plugged_) return -1;
  run(static_cast<double>(t));
  const int type = s.requestType & 0x60;
  if (type == 0x40) {
    const int n = vendor(static_cast<double>(t), s, data);
    settle(static_cast<double>(t));
    return n;
  }
  if (type != 0) return -1;
  std::vector<std::uint8_t> answer;
  switch (s.request) {
    case 0x06:  // GET_DESCRIPTOR
      if ((s.value >> 8) == 1) answer = deviceDescriptor();
      if ((s.value >> 8) == 2) answer = configDescriptor(true);  // as on a high-speed bus
      if ((s.value >> 8) == 3) answer = stringDescriptor(s.value & 0xFF);
      if (answer.empty()) return -1;
      break;
    case 0x08:  // GET_CONFIGURATION
      answer = {1};
      break;
    case 0x00:  // GET_STATUS
      answer = {0, 0};
      break;
    case 0x01:  // CLEAR_FEATURE
    case 0x09:  // SET_CONFIGURATION
    case 0x0B:  // SET_INTERFACE
      return 0;
    default:
      return -1;
  }
  const std::size_t n = std::min<std::size_t>(answer.size(), s.length);
  std::copy(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(n), data);
  return static_cast<int>(n);
}

// The divisor in eighths (AN232B-05, AN_120): 14 integer bits, a 3-bit
// fraction code in value bits 15:14 and the next index bit (the high index
// byte on the multi-channel and H parts, whose low byte names the channel);
// on the H parts a further bit selects the 12 MHz reference over 3 MHz.
void FtdiDevice::setBaud(std::uint16_t value, std::uint16_t index) {
  static const int kEighths[8] = {0, 4, 2, 1, 3, 5, 6, 7};
  const unsigned high = model_.interfaces > 1 || model_.highSpeed ? index >> 8 : index;
  const int integer = value & 0x3FFF;
  const int code = ((value >> 14) & 3) | static_cast<int>((high & 1) << 2);
  double divisor = integer + kEighths[code] / 8.0;
  if (integer == 0 && code == 0) divisor = 1;
  if (integer == 1 && code == 0) divisor = 1.5;
  const double reference = model_.highSpeed && (high & 2) ? 12e6 : 3e6;
  baud_ = reference / divisor;
}

int FtdiDevice::vendor(double t, const UsbSetup& s, std::uint8_t* data) {
  // Requests for the second channel of an FT2232 are taken and do nothing.
  if (model_.interfaces > 1 && (s.index & 0xFF) == 2 && s.request != kSetBaudRate) return 0;
  switch (s.request) {
    case kReset:
      if (s.value == 0 || s.value == 1) out_.clear();
      if (s.value == 0 || s.value == 2) {
        in_.clear();
        if (stalled_) pinFree_ = std::max(pinFree_, t);
        stalled_ = false;
      }
      return 0;
    case kModemCtrl:
      if (s.value & 0x100) dtr_ = (s.value & 1) != 0;
      if (s.value & 0x200) rts_ = (s.value & 2) != 0;
      return 0;
    case kSetBaudRate:
      setBaud(s.value, s.index);
      return 0;
    case kSetFlowCtrl:
    case kSetData:
    case kSetEventChar:
    case kSetErrorChar:
      return 0;
    case kPollModemStatus:
      if (s.length < 2) return -1;
      data[0] = modemStatus();
      data[1] = lineStatus();
      return 2;
    case kSetLatencyTimer:
      latencyMs_ = std::max(1, s.value & 0xFF);
      return 0;
    case kGetLatencyTimer:
      if (s.length < 1) return -1;
      data[0] = static_cast<std::uint8_t>(latencyMs_);
      return 1;
    case kSetBitmode: {
      const int mode = s.value >> 8;
      if (mode != 0 && mode != 1 && mode != 4) return -1;  // MPSSE and others: not modelled
      mode_ = mode == 0 ? Mode::Serial : mode == 1 ? Mode::AsyncBitbang : Mode::SyncBitbang;
      outputs_ = mode_ == Mode::Serial ? 0 : static_cast<std::uint8_t>(s.value & 0xFF);
      if (mode_ != Mode::Serial && !latchKept_) latch_ = 0;
      txd_ = true;
      return 0;
    }
    case kReadPins:
      if (s.length < 1) return -1;
      data[0] = pinByte();
      return 1;
    case kReadEeprom:
      if (s.length < 2) return -1;
      data[0] = data[1] = serial_.empty() ? 0xFF : 0x00;  // blank without an EEPROM
      return 2;
    default:
      return -1;
  }
}

bool FtdiDevice::bulkOut(std::int64_t t, const std::uint8_t* data, int n, bool /*highSpeedBus*/) {
  run(static_cast<double>(t));
  if (out_.size() + static_cast<std::size_t>(n) > static_cast<std::size_t>(model_.outFifo))
    return false;
  for (int k = 0; k < n; ++k) out_.push_back({data[k], static_cast<double>(t)});
  run(static_cast<double>(t));
  return true;
}

bool FtdiDevice::bulkIn(std::int64_t t, std::vector<std::uint8_t>& packet, bool highSpeedBus) {
  const double now = static_cast<double>(t);
  run(now);
  const std::size_t payload = static_cast<std::size_t>(bulkPacket(highSpeedBus) - 2);
  const bool full = in_.size() >= payload;
  if (!full && now < expiry()) return false;
  packet = {modemStatus(), lineStatus()};
  const std::size_t n = std::min(payload, in_.size());
  packet.insert(packet.end(), in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
  in_.erase(in_.begin(), in_.begin() + static_cast<std::ptrdiff_t>(n));
  lastPacket_ = now;
  if (stalled_ && n > 0) {
    pinFree_ = std::max(pinFree_, now);
    stalled_ = false;
    run(now);
  }
  return true;
}

// The latency timer counts whole milliseconds from the last packet: it
// expires on the first tick at least the set time later (1 to 2 ms after the
// packet for a setting of 1). FTDI give its steps, not its phase; whole ticks
// are the slower reading of that.
double FtdiDevice::expiry() const {
  return (std::floor(lastPacket_ / 1e6) + latencyMs_ + 1) * 1e6;
}

std::int64_t FtdiDevice::nextChangeNs(std::int64_t t, bool /*highSpeedBus*/) const {
  constexpr double kNever = std::numeric_limits<double>::infinity();
  double next = expiry();
  if (next <= static_cast<double>(t)) next = kNever;  // expired: a packet goes at the next token
  if (plugged_ && !suspended_ && !out_.empty() && !stalled_)
    next = std::min(next, std::max(pinFree_, out_.front().arrived));
  if (next == kNever) return INT64_MAX;
  return std::max(t + 1, static_cast<std::int64_t>(std::ceil(next)));
}

void FtdiDevice::unplug(std::int64_t t) {
  run(static_cast<double>(t));
  plugged_ = false;
  settle(static_cast<double>(t));
}

void FtdiDevice::plugIn(std::int64_t t) {
  if (plugged_) return;
  plugged_ = true;
  suspended_ = false;
  mode_ = Mode::Serial;
  outputs_ = latch_ = 0;
  dtr_ = rts_ = false;
  txd_ = true;
  stuckClock_ = false;
  baud_ = 9600;
  latencyMs_ = 16;
  out_.clear();
  in_.clear();
  stalled_ = false;
  lastPacket_ = pinFree_ = static_cast<double>(t);
  settle(static_cast<double>(t));
}

void FtdiDevice::suspend(std::int64_t t, bool on) {
  run(static_cast<double>(t));
  suspended_ = on;
  settle(static_cast<double>(t));
}

void FtdiDevice::setEeprom(bool suspendPullDown, std::uint8_t invertedPins) {
  suspendPullDown_ = suspendPullDown;
  inverted_ = invertedPins;
  settle(pinNow_);
}

void FtdiDevice::setBoardPullDown(std::uint8_t pins, int ohms) {
  for (int pin = 0; pin < 8; ++pin)
    if (pins & (1u << pin)) pullDown_[pin] = ohms;
  settle(pinNow_);
}

void FtdiDevice::staleEcho(std::int64_t t) {
  run(static_cast<double>(t));
  in_.push_front(pinByte());
}

void FtdiDevice::stickClockPin(std::int64_t t) {
  run(static_cast<double>(t));
  stuckClock_ = true;
  settle(static_cast<double>(t));
}

void FtdiDevice::loseBitMode(std::int64_t t) {
  run(static_cast<double>(t));
  mode_ = Mode::Serial;
  outputs_ = 0;
  txd_ = true;
  settle(static_cast<double>(t));
}

bool FtdiDevice::setPinTrace(const std::string& path, std::string& error) {
  if (trace_) std::fclose(trace_);
  trace_ = std::fopen(path.c_str(), "a");
  if (!trace_) {
    error = "ZK7_PIN_TRACE: cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  std::setvbuf(trace_, nullptr, _IOLBF, 0);
  std::fprintf(trace_, "T %.3f %02X\n", pinNow_ / 1000.0, lines_);
  return true;
}

}  // namespace zk7::sim
