#include "port/ftdi_sim.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "port/ftdi_driver.h"
#include "port/protocol.h"

namespace zk7 {

// FIFO sizes, clocks and pull-ups from each chip's datasheet; pins per baud
// in bit-bang mode as measured by others (16 on the full-speed parts, 5 on the
// H series). OUT is the chip's receive buffer, IN its transmit buffer.
const UsbModel kUsbModels[4] = {
    {"ft232r", "FT232R", 0x0600, false, 3e6, 16, 256, 128, 200e3, true},
    {"ft232h", "FT232H", 0x0900, true, 12e6, 5, 1024, 1024, 75e3, false},
    {"ft2232d", "FT2232D", 0x0500, false, 3e6, 16, 384, 128, 200e3, true},
    {"ft2232h", "FT2232H", 0x0700, true, 12e6, 5, 4096, 4096, 75e3, false},
};

const UsbModel* FindUsbModel(const std::string& key) {
  for (const UsbModel& m : kUsbModels)
    if (key == m.key) return &m;
  return nullptr;
}

std::string UsbModelKeys() {
  return "ft232r, ft232h, ft2232d or ft2232h";
}

namespace {

constexpr double kVccio = 3.3;
constexpr double kLowBelow = 0.8;  // input thresholds of the board's logic
constexpr double kHighAbove = 2.0;
// Serial-port outputs while the chip is a UART.
constexpr int kTxdPin = 0, kRtsPin = 2, kDtrPin = 4;
constexpr double kSerialBitNs = 1e9 / 9600;
constexpr int kOpenBaud = 9600;  // libftdi sets it when it opens a device
constexpr std::uint8_t kClockPin = 0x01;

}  // namespace

SimulatedFtdi::SimulatedFtdi(std::unique_ptr<EmulatorDriver> chip, const UsbModel& model,
                             UsbEmulation usb)
    : chip_(std::move(chip)), model_(model), usb_(std::move(usb)) {
  roundTrip_ = (usb_.roundTripMs > 0 ? usb_.roundTripMs : model_.highSpeed ? 0.125 : 1.0) * 1e6;
  // Bulk packets: full speed 64 bytes, up to 19 in a 1 ms frame; high speed
  // 512 bytes, up to 13 in a 125 us microframe.
  packet_ = model_.highSpeed ? 512 : 64;
  slot_ = model_.highSpeed ? 125000.0 / 13 : 1e6 / 19;
  pinRate_ = model_.pinsPerBaud * static_cast<double>(kOpenBaud);
  if (usb_.failAt) failAt_.push_back(usb_.failAt);
  for (const UsbLine& line : kUsbWiring)
    for (int pin = 0; pin < 8; ++pin)
      if (line.pin == (1u << pin)) pullDown_[pin] = line.pullDownOhms;
  chip_->setClock([this] { return static_cast<std::int64_t>(pinNow_); });
  lines_ = lines();
  chip_->write(0, lines_);
  history_.push_back({0, lines_, adapterState()});
}

SimulatedFtdi::~SimulatedFtdi() {
  if (trace_) std::fclose(trace_);
}

bool SimulatedFtdi::driven(int pin, bool& level) const {
  const auto bit = static_cast<std::uint8_t>(1u << pin);
  if (suspended_) return false;
  if (bitbang_) {
    if (!(outputs_ & bit)) return false;
    level = (latch_ & bit) != 0;
  } else if (pin == kTxdPin) {
    level = txd_;
  } else if (pin == kRtsPin || pin == kDtrPin) {
    level = !serialPortOpen_;  // active low, asserted while a program holds the port
  } else {
    return false;
  }
  level ^= (inverted_ & bit) != 0;
  return true;
}

SimulatedFtdi::Level SimulatedFtdi::pad(int pin) const {
  const auto bit = static_cast<std::uint8_t>(1u << pin);
  if (stuck_ && bit == kClockPin) return Level::High;
  bool level = false;
  if (driven(pin, level)) return level ? Level::High : Level::Low;
  if (bit == kUsbReadBackPin)  // the chip's data line, through the series resistor
    return chip_->read(0) & 0x40 ? Level::High : Level::Low;
  // The chip's weak pull (up, or down in suspend when the EEPROM says so)
  // against the board's pull-down.
  const double board = pullDown_[pin];
  if (suspended_ && suspendPullDown_) return Level::Low;
  if (board <= 0) return Level::High;
  const double volts = kVccio * board / (board + model_.pullUpOhms);
  return volts < kLowBelow ? Level::Low : volts > kHighAbove ? Level::High : Level::Between;
}

std::uint8_t SimulatedFtdi::pinByte() const {
  std::uint8_t pins = 0;
  for (int pin = 0; pin < 8; ++pin)
    if (pad(pin) != Level::Low) pins |= static_cast<std::uint8_t>(1u << pin);
  return pins;
}

std::uint8_t SimulatedFtdi::lines() const {
  // Unplugged, the board has no supply: every line is at 0 V, so off.
  if (!plugged_) return kLinesOff;
  std::uint8_t data = 0x40;
  for (const UsbLine& line : kUsbWiring) {
    int pin = 0;
    while ((1u << pin) != line.pin) ++pin;
    // A level between the thresholds may switch the line on: counted as on.
    const bool on = pad(pin) != Level::Low;
    if (on == line.onWhenSet) data |= line.dataBit;
  }
  return data;
}

const char* SimulatedFtdi::adapterState() const {
  if (!plugged_) return "unplugged";
  if (suspended_) return "suspended";
  if (!bitbang_) return "serial port";
  return outputs_ ? "bit-bang" : "inputs";
}

void SimulatedFtdi::settle(double ns) {
  pinNow_ = std::max(pinNow_, ns);
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

bool SimulatedFtdi::gone(std::string& error) const {
  if (plugged_ && open_) return false;
  error = plugged_ ? "the device is not open" : "LIBUSB_ERROR_NO_DEVICE";
  return true;
}

// A control transfer: it takes effect halfway through one round trip.
void SimulatedFtdi::control() {
  settle(now_ + roundTrip_ / 2);
  now_ += roundTrip_;
}

bool SimulatedFtdi::open(std::string& error) {
  if (open_) return true;
  if (!plugged_) {
    error = "no adapter found at ftdi:0403:6001";
    return false;
  }
  if (busy_) {
    error = FtdiInUseText(name());
    return false;
  }
  // libftdi takes the device from the serial driver (a program holding the
  // port loses it and DTR#, RTS# go high), resets it and sets 9600 baud: two
  // control transfers.
  serialPortOpen_ = false;
  settle(now_);
  now_ += 2 * roundTrip_;
  bitbangSetSinceOpen_ = false;
  pinRate_ = model_.pinsPerBaud * static_cast<double>(kOpenBaud);
  open_ = true;
  ++opens_;
  return true;
}

void SimulatedFtdi::close() {
  if (!open_) return;
  open_ = false;
  ++closes_;
}

bool SimulatedFtdi::setLatencyTimer(int /*ms*/, std::string& error) {
  if (gone(error)) return false;
  control();
  return true;
}

bool SimulatedFtdi::setBitmode(std::uint8_t outputs, Mode mode, std::string& error) {
  if (gone(error)) return false;
  bitbang_ = mode == Mode::SyncBitbang;
  bitbangSetSinceOpen_ = bitbang_;
  outputs_ = bitbang_ ? outputs : 0;
  if (!latchKept_) latch_ = 0;
  control();
  return true;
}

bool SimulatedFtdi::setBaudrate(int baud, std::string& error) {
  if (gone(error)) return false;
  if (baud <= 0) {
    error = "Unsupported baudrate";
    return false;
  }
  // libftdi: x 4 in bit-bang mode; the H parts' 12 MHz reference above 732 baud.
  const double wanted = static_cast<double>(baud) * (bitbangSetSinceOpen_ ? 4 : 1);
  const double base = model_.highSpeed && wanted * 10 > 120e6 / 0x3FFF ? 12e6 : 3e6;
  // The chip divides in eighths, from 1 up to 16383.875.
  const double eighths = std::clamp(std::round(base * 8 / wanted), 8.0, 16383.0 * 8 + 7);
  const double actual = base * 8 / eighths;
  if (std::fabs(actual - wanted) > 0.05 * wanted) {
    error = "Unsupported baudrate. Note: bitbang baudrates are automatically multiplied by 4";
    return false;
  }
  control();
  pinRate_ = model_.pinsPerBaud * actual;
  return true;
}

bool SimulatedFtdi::purge(std::string& error) {
  if (gone(error)) return false;
  control();
  control();
  inFifo_.clear();
  outFifo_.clear();
  return true;
}

bool SimulatedFtdi::readPins(std::uint8_t& pins, std::string& error) {
  if (gone(error)) return false;
  control();
  pins = pinByte();
  return true;
}

void SimulatedFtdi::sleepUntilNs(std::int64_t ns) {
  now_ = std::max(now_, static_cast<double>(ns));
}

double SimulatedFtdi::byteWidth() {
  const double nominal = 1e9 / pinRate_;
  if (!model_.widthVaries) return nominal;
  // The bit-bang erratum gives no bound; a wide one: half to one and a half.
  return nominal * std::uniform_real_distribution<double>(0.5, 1.5)(random_);
}

// The pins take one byte at t or later, its echo sample going into the IN FIFO.
void SimulatedFtdi::apply(std::uint8_t byte, double& t) {
  t = std::max(t, pinFree_);
  settle(t);
  inFifo_.push_back({pinByte(), t});
  latch_ = byte;
  settle(t);
  pinFree_ = t + byteWidth();
}

bool SimulatedFtdi::transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                             std::string& error) {
  echo.clear();
  if (gone(error)) {
    error = "USB write failed: " + error;
    return false;
  }
  const int n = ++transfers_;
  const double start = now_;
  if (usb_.echo == UsbEmulation::Late && n == usb_.echoAt)
    inFifo_.push_front({pinByte(), start});  // an echo byte of earlier left behind
  if (usb_.echo == UsbEmulation::Stuck && n >= usb_.echoAt && !stuck_) {
    stuck_ = true;
    settle(start);
  }
  const bool fails = std::find(failAt_.begin(), failAt_.end(), n) != failAt_.end();
  const bool vanishes = usb_.unplugAt == n;
  if (!bitbang_) {
    now_ += 5e9;  // a serial port sends the bytes on TXD and returns no echo in time
    error = "USB read failed: LIBUSB_ERROR_TIMEOUT";
    return false;
  }
  // The host reads the echo while it writes (unless the read failed): the
  // IN FIFO then drains, and bytes left in the OUT FIFO by a stall go first.
  const std::size_t reads = fails ? 0 : out.size();
  std::deque<std::uint8_t> bytes = std::move(outFifo_);
  bytes.insert(bytes.end(), out.begin(), out.end());
  outFifo_.clear();
  const std::size_t count = vanishes ? bytes.size() / 2 : bytes.size();
  const std::size_t drained = std::min(reads, inFifo_.size() + count);
  double t = start;
  for (std::size_t i = 0; i < count; ++i) {
    double arrive = start + roundTrip_ / 2 + static_cast<double>(i / packet_) * slot_;
    t = std::max(t, arrive);
    // Echo the host has read frees the IN FIFO; the rest stalls the pins.
    const bool room = inFifo_.size() < drained + static_cast<std::size_t>(model_.inFifo);
    if (!room) {
      outFifo_.assign(bytes.begin() + static_cast<std::ptrdiff_t>(i), bytes.end());
      break;
    }
    apply(bytes[i], t);
  }
  if (vanishes) {
    unplug();
    now_ = t;
    error = "USB write failed: LIBUSB_ERROR_NO_DEVICE";
    return false;
  }
  if (static_cast<int>(outFifo_.size()) > model_.outFifo) {
    // The OUT FIFO is full and the pins stand still: the write times out.
    outFifo_.resize(static_cast<std::size_t>(model_.outFifo));
    now_ = t + 5e9;
    error = "USB write failed: LIBUSB_ERROR_TIMEOUT";
    return false;
  }
  if (fails) {
    now_ = t + roundTrip_;
    error = "USB read failed: LIBUSB_ERROR_IO";
    return false;
  }
  // The echo comes back in packets (two status bytes each), one slot apart,
  // half a round trip after their last byte was sampled.
  const std::size_t payload = static_cast<std::size_t>(packet_ - 2);
  double sent = start;
  double done = start + roundTrip_;
  for (std::size_t k = 0; k < reads && !inFifo_.empty(); ++k) {
    echo.push_back(inFifo_.front().pins);
    const double sampled = inFifo_.front().ns;
    inFifo_.pop_front();
    if ((k + 1) % payload == 0 || k + 1 == reads) {
      sent = std::max(sampled, sent + slot_);
      done = std::max(done, sent + roundTrip_ / 2);
    }
  }
  now_ = done;
  if (echo.size() < reads) {
    error = "USB read failed: LIBUSB_ERROR_TIMEOUT";
    return false;
  }
  return true;
}

void SimulatedFtdi::setEeprom(bool suspendPullDown, std::uint8_t invertedPins) {
  suspendPullDown_ = suspendPullDown;
  inverted_ = invertedPins;
  settle(now_);
}

void SimulatedFtdi::setBoardPullDown(std::uint8_t pins, int ohms) {
  for (int pin = 0; pin < 8; ++pin)
    if (pins & (1u << pin)) pullDown_[pin] = ohms;
  settle(now_);
}

void SimulatedFtdi::openAsSerialPort() {
  if (open_ || !plugged_) return;  // while we hold it, the serial driver is detached
  serialPortOpen_ = true;
  settle(now_);
}

void SimulatedFtdi::sendAsSerialPort(const std::string& bytes) {
  if (open_ || !plugged_ || bitbang_) return;
  for (unsigned char c : bytes) {
    // Start bit, eight data bits from bit 0, stop bit.
    for (int k = 0; k < 10; ++k) {
      txd_ = k == 0 ? false : k == 9 ? true : ((c >> (k - 1)) & 1) != 0;
      settle(now_);
      now_ += kSerialBitNs;
    }
  }
}

void SimulatedFtdi::unplug() {
  plugged_ = false;
  open_ = false;
  settle(now_);
}

void SimulatedFtdi::plugIn() {
  if (plugged_) return;
  // A fresh start: a serial port with its latch and FIFOs empty.
  plugged_ = true;
  bitbang_ = false;
  outputs_ = 0;
  latch_ = 0;
  txd_ = true;
  serialPortOpen_ = false;
  suspended_ = false;
  stuck_ = false;
  inFifo_.clear();
  outFifo_.clear();
  pinRate_ = model_.pinsPerBaud * static_cast<double>(kOpenBaud);
  settle(now_);
}

void SimulatedFtdi::suspend(bool on) {
  suspended_ = on;
  settle(now_);
}

bool SimulatedFtdi::setPinTrace(const std::string& path, std::string& error) {
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

std::unique_ptr<PortDriver> OpenEmulatedPort(const std::string& options, std::string& error) {
  std::unique_ptr<EmulatorDriver> chip = EmulatorDriver::create(options, error);
  if (!chip || chip->options().usb.model.empty()) return chip;
  const UsbEmulation usb = chip->options().usb;
  auto sim = std::make_unique<SimulatedFtdi>(std::move(chip), *FindUsbModel(usb.model), usb);
  if (const char* path = std::getenv("ZK7_PIN_TRACE"); path && *path) {
    // A debugging aid asked for by environment: say so on stderr if it cannot work.
    std::string why;
    if (!sim->setPinTrace(path, why)) std::fprintf(stderr, "zk7: %s\n", why.c_str());
  }
  return MakeFtdiDriver(std::move(sim), error);
}

}  // namespace zk7
