#include "port/ftdi_driver.h"

#include <time.h>

#include <cerrno>
#include <chrono>

#include "port/protocol.h"
#include "port/watch.h"

#ifdef ZK7_HAVE_LIBFTDI
#include <ftdi.h>
#include <libusb.h>
#include <sys/time.h>
#endif

namespace zk7 {
namespace {

// The pins with a pull-down on the board.
std::uint8_t PulledDownPins() {
  std::uint8_t pins = 0;
  for (const UsbLine& line : kUsbWiring)
    if (line.pullDownOhms > 0) pins |= line.pin;
  return pins;
}

// Leaving programming mode from data (VPP, then VDD, then nPRG off), then every line off.
std::vector<std::uint8_t> OffBytes(std::uint8_t data) {
  const auto sequence = PowerOffSequence(data);
  std::vector<std::uint8_t> bytes(sequence.begin(), sequence.end());
  bytes.push_back(kLinesOff);
  return bytes;
}

// Holds the USB device only while the port is claimed, so other programs can
// use the adapter in between.
class FtdiDriver : public PortDriver {
 public:
  explicit FtdiDriver(std::unique_ptr<FtdiBackend> backend)
      : backend_(std::move(backend)), queue_(*backend_, kFtdiQueueLimit) {}
  // What is queued still reaches the pins; the lines then stay as they are.
  ~FtdiDriver() override { release(); }

  bool claim(std::string& error) override {
    if (open_) return true;
    if (!SetUpAdapter(*backend_, error)) return false;
    open_ = true;
    problem_.clear();
    queue_.restart(backend_->nowNs());
    return true;
  }
  void release() override {
    if (!open_) return;
    sendOrSwitchOff();
    backend_->close();
    open_ = false;
  }

  std::uint8_t read(std::uint16_t /*address*/) override {
    queue_.sample();
    sendOrSwitchOff();
    return queue_.takeSamples().back();
  }
  void write(std::uint16_t /*address*/, std::uint8_t value) override {
    queue_.write(value);
    switchOffAfterFailure();  // the queue may have sent on its own
  }
  void exchange(std::uint16_t /*address*/, const PortBatch& batch,
                std::vector<std::uint8_t>& samples) override {
    batch.walk([&](std::uint8_t value) { queue_.write(value); },
               [&](std::size_t) { queue_.sample(); });
    sendOrSwitchOff();
    const std::vector<std::uint8_t> taken = queue_.takeSamples();
    samples.insert(samples.end(), taken.begin(), taken.end());
  }
  // The lines stay still for ms: proven by the echo, timed on the host's clock.
  void waited(int ms) override {
    queue_.hold(ms);
    switchOffAfterFailure();
  }
  void flush() override { sendOrSwitchOff(); }
  PortCapabilities capabilities() const override {
    PortCapabilities c;
    c.cableCheck = false;
    c.ioAddress = false;
    return c;
  }
  std::string name() const override { return backend_->name(); }
  std::string problem() const override { return problem_; }
  void sequenceStarts() override { backend_->sequenceStarts(); }

 private:
  void sendOrSwitchOff() {
    queue_.send();
    switchOffAfterFailure();
  }
  // Once after a failure: the power-off bytes in a fresh transfer, else a
  // fresh set-up, which leaves the lines off too.
  void switchOffAfterFailure() {
    if (queue_.problem().empty() || !problem_.empty()) return;
    std::string why;
    bool off = backend_->purge(why) && SendChecked(*backend_, OffBytes(queue_.lastData()), -1,
                                                   PowerPins(), why) == SendResult::Ok;
    if (!off) {
      backend_->close();
      open_ = off = SetUpAdapter(*backend_, why);
    }
    problem_ = backend_->name() + ": " + queue_.problem() +
               (off ? "; the chip was switched off."
                    : "; the chip may still be powered: unplug the adapter.");
  }

  std::unique_ptr<FtdiBackend> backend_;
  FtdiQueue queue_;
  bool open_ = false;
  std::string problem_;
};

bool Refuse(FtdiBackend& backend, const std::string& why, std::string& error) {
  error = backend.name() + ": " + why;
  backend.close();
  return false;
}

}  // namespace

bool SetUpAdapter(FtdiBackend& b, std::string& error) {
  if (!b.open(error)) return false;
  const FtdiChip* chip = FtdiChipByRelease(b.release());
  if (!chip)
    return Refuse(b,
                  "an " + FtdiModelName(b.release()) +
                      " has no bit-bang figures here, so it is not used; the supported chips are " +
                      SupportedFtdiChips() + ".",
                  error);
  const std::uint8_t offPins = PinsFromData(kLinesOff);
  const auto Sync = FtdiBackend::Mode::SyncBitbang;
  std::string why;
  std::uint8_t pins = 0;
  if (!b.readPins(pins, why)) return Refuse(b, "setting up bit-bang mode failed: " + why, error);
  // The power pins off and clock and data low (which only driving makes
  // them: they have no pull-down) mean bit-bang mode with a latch that holds
  // no power: the outputs can be enabled again at once. Otherwise the off
  // byte is latched while every pin is an input, held off by the board's
  // pull-downs.
  const auto telling =
      static_cast<std::uint8_t>(PowerPins() | (kUsbOutputPins & ~PulledDownPins()));
  const bool showsOff = (pins & telling) == (offPins & telling);
  if (!showsOff) {
    // The latency timer too: the echo's last bytes would otherwise wait up to
    // 16 ms in the chip (a run of ours, which the pins show otherwise, set it).
    if (!b.setLatencyTimer(1, why) || !b.setBitmode(0x00, Sync, why) ||
        !b.setBaudrate(BaudRequest(*chip), why) || !b.purge(why))
      return Refuse(b, "setting up bit-bang mode failed: " + why, error);
    switch (SendChecked(b, {kLinesOff, kLinesOff}, -1, PulledDownPins(), why)) {
      case SendResult::Ok:
        break;
      case SendResult::Failed:
        return Refuse(b, "setting up bit-bang mode failed: " + why, error);
      case SendResult::Mismatch:
        return Refuse(b,
                      "with every pin an input, " + why +
                          ": a pull-down resistor is missing, so that line would be on whenever "
                          "the adapter does not drive it; the adapter is not used.",
                      error);
    }
  }
  if (!b.setBitmode(kUsbOutputPins, Sync, why) ||
      (showsOff && (!b.setBaudrate(BaudRequest(*chip), why) || !b.purge(why))))
    return Refuse(b, "setting up bit-bang mode failed: " + why, error);
  // The pins show the latch first: known to be off only when it was latched here.
  const SendResult sent =
      SendChecked(b, {kLinesOff, kLinesOff}, showsOff ? -1 : offPins, kUsbOutputPins, why);
  if (sent != SendResult::Ok) {
    std::string ignored;
    b.setBitmode(0x00, Sync, ignored);  // inputs: the board holds the lines off
    return Refuse(b,
                  sent == SendResult::Failed
                      ? "setting up bit-bang mode failed: " + why
                      : "the pins do not read back what was sent (" + why +
                            "): a shorted pin, a pin inverted in the adapter's EEPROM, or wiring "
                            "other than the README's table; the adapter is not used.",
                  error);
  }
  return true;
}

std::unique_ptr<PortDriver> MakeFtdiDriver(std::unique_ptr<FtdiBackend> backend,
                                           std::string& error) {
  // Set up once when chosen, so a missing adapter, permission, unsupported
  // chip or wiring fault shows now.
  if (!SetUpAdapter(*backend, error)) return nullptr;
  backend->close();
  return std::make_unique<FtdiDriver>(std::move(backend));
}

#ifdef ZK7_HAVE_LIBFTDI
namespace {

const char* const kUdevHint =
    " Install the udev rule 60-zk7-programmer.rules, which lets the logged-in user open the "
    "adapter (the package does; from the source tree: sudo cp data/60-zk7-programmer.rules "
    "/etc/udev/rules.d/ && sudo udevadm control --reload), then plug the adapter in again.";

class LibFtdiBackend : public FtdiBackend {
 public:
  explicit LibFtdiBackend(const FtdiAddress& address) : ctx_(ftdi_new()), address_(address) {}
  ~LibFtdiBackend() override {
    close();
    if (ctx_) ftdi_free(ctx_);
  }

  bool open(std::string& error) override {
    if (opened_) return true;
    if (!ctx_) {
      error = "libftdi could not start";
      return false;
    }
    ftdi_set_interface(ctx_, INTERFACE_A);  // an FT2232's first channel
    // The kernel's serial driver lets go of the adapter while we hold it and
    // takes it back at close.
    ctx_->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    int rc = -3;
    std::string tried;
    for (std::size_t k = 0; k < sizeof kFtdiChips / sizeof kFtdiChips[0]; ++k) {
      const FtdiChip& row = kFtdiChips[k];
      const bool wanted = address_.anyDefault
                              ? row.byDefault
                              : row.vendor == address_.vendor && row.product == address_.product;
      if (!wanted || (k > 0 && row.vendor == kFtdiChips[k - 1].vendor &&
                      row.product == kFtdiChips[k - 1].product))
        continue;
      tried += (tried.empty() ? "" : ", ") + FtdiPortText(row.vendor, row.product, address_.serial);
      rc = openIds(row.vendor, row.product, address_.serial);
      if (rc != -3) break;
    }
    if (!address_.anyDefault && tried.empty()) {  // ids outside the table
      tried = FtdiPortText(address_.vendor, address_.product, address_.serial);
      rc = openIds(address_.vendor, address_.product, address_.serial);
    }
    if (rc < 0) {
      error = openProblem(rc, tried);
      return false;
    }
    opened_ = true;
    pinAddress();
    return true;
  }

  void close() override {
    if (opened_) ftdi_usb_close(ctx_);
    opened_ = false;
  }

  std::uint16_t release() const override { return release_; }
  std::string name() const override {
    return (opened_ || release_ ? FtdiModelName(release_) : std::string("FTDI adapter")) +
           (address_.serial.empty() ? "" : " " + address_.serial);
  }

  bool setLatencyTimer(int ms, std::string& error) override {
    return check(ftdi_set_latency_timer(ctx_, static_cast<unsigned char>(ms)), error);
  }
  bool setBitmode(std::uint8_t outputs, Mode mode, std::string& error) override {
    return check(
        ftdi_set_bitmode(ctx_, outputs, mode == Mode::Reset ? BITMODE_RESET : BITMODE_SYNCBB),
        error);
  }
  bool setBaudrate(int baud, std::string& error) override {
    return check(ftdi_set_baudrate(ctx_, baud), error);
  }
  bool purge(std::string& error) override { return check(ftdi_tcioflush(ctx_), error); }
  bool readPins(std::uint8_t& pins, std::string& error) override {
    unsigned char value = 0;
    if (!check(ftdi_read_pins(ctx_, &value), error)) return false;
    pins = value;
    return true;
  }

  bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                std::string& error) override {
    if (!opened_) {
      error = "the adapter is not open";
      return false;
    }
    // The echo is read while the bytes are written: the chip stops clocking
    // when its echo FIFO is full, so a write alone would stall.
    echo.assign(out.size(), 0);
    const int size = static_cast<int>(out.size());
    ftdi_transfer_control* rd = ftdi_read_data_submit(ctx_, echo.data(), size);
    ftdi_transfer_control* wr =
        rd ? ftdi_write_data_submit(ctx_, const_cast<unsigned char*>(out.data()), size) : nullptr;
    const int written = wr ? ftdi_transfer_data_done(wr) : -1;
    if (written != size) {
      if (rd) {
        timeval limit{0, 200000};
        ftdi_transfer_data_cancel(rd, &limit);
      }
      error = std::string("USB write failed: ") + ftdi_get_error_string(ctx_);
      return false;
    }
    if (ftdi_transfer_data_done(rd) != size) {
      error = std::string("USB read failed: ") + ftdi_get_error_string(ctx_);
      return false;
    }
    return true;
  }

  std::int64_t nowNs() const override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void sleepUntilNs(std::int64_t ns) override {
    // steady_clock is CLOCK_MONOTONIC on Linux.
    const timespec until{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
  }

 private:
  bool check(int rc, std::string& error) const {
    if (rc >= 0) return true;
    error = ftdi_get_error_string(ctx_);
    return false;
  }

  int openIds(std::uint16_t vendor, std::uint16_t product, const std::string& serial) {
    return ftdi_usb_open_desc(ctx_, vendor, product, nullptr,
                              serial.empty() ? nullptr : serial.c_str());
  }

  // Later opens take this very device: the ids it has and its serial number,
  // read while it is open, so a bare "ftdi" does not move to another adapter.
  void pinAddress() {
    libusb_device_descriptor desc{};
    libusb_device* dev = libusb_get_device(ctx_->usb_dev);
    if (libusb_get_device_descriptor(dev, &desc) < 0) return;
    release_ = desc.bcdDevice;
    unsigned char text[128] = {};
    if (address_.serial.empty() && desc.iSerialNumber != 0 &&
        libusb_get_string_descriptor_ascii(ctx_->usb_dev, desc.iSerialNumber, text, sizeof text) >
            0)
      address_.serial = reinterpret_cast<const char*>(text);
    address_.anyDefault = false;
    address_.vendor = desc.idVendor;
    address_.product = desc.idProduct;
  }

  // Chosen by libftdi's return code, so each kind gets its fix.
  std::string openProblem(int rc, const std::string& tried) const {
    const std::string reason = ftdi_get_error_string(ctx_);
    switch (rc) {
      case -3:
        return "no adapter found at " + tried +
               ". Plug it in, or name its USB ids and serial number as ftdi:VID:PID:SERIAL "
               "(lsusb shows them).";
      case -4:
        return tried + ": cannot open the USB device (" + reason + ")." + kUdevHint;
      case -5:  // libusb could not claim its interface: another program has it
        return FtdiInUseText(release_ ? name() : tried);
      default:
        return tried + ": " + reason;
    }
  }

  ftdi_context* ctx_;
  FtdiAddress address_;
  bool opened_ = false;
  std::uint16_t release_ = 0;
};

}  // namespace
#endif  // ZK7_HAVE_LIBFTDI

std::unique_ptr<PortDriver> OpenFtdi(const std::string& usb, std::string& error) {
  FtdiAddress address;
  if (!ParseFtdiAddress(usb, address, error)) return nullptr;
#ifdef ZK7_HAVE_LIBFTDI
  return MakeFtdiDriver(std::make_unique<LibFtdiBackend>(address), error);
#else
  error = FtdiUnavailableReason();
  return nullptr;
#endif
}

std::string FtdiUnavailableReason() {
#ifdef ZK7_HAVE_LIBFTDI
  return {};
#else
  return "this build has no USB adapter support; install libftdi1-dev (sudo apt-get install "
         "libftdi1-dev) and rebuild";
#endif
}

PortCandidate FtdiCandidate(const std::string& model, std::uint16_t vendor, std::uint16_t product,
                            const std::string& serial, const std::string& productText,
                            const std::string& problem) {
  PortCandidate c;
  c.portText = FtdiPortText(vendor, product, serial);
  c.caption = model + (serial.empty() ? "" : " " + serial);
  c.description = model + " USB adapter " + c.portText.substr(5) +
                  (serial.empty() ? ", no serial number" : ", serial " + serial) +
                  (productText.empty() ? "" : " (\"" + productText + "\")");
  c.problem = problem;
  return c;
}

std::vector<PortCandidate> DiscoverFtdiPorts() {
  std::vector<PortCandidate> found;
#ifdef ZK7_HAVE_LIBFTDI
  ftdi_context* ctx = ftdi_new();
  if (!ctx) return found;
  for (std::size_t k = 0; k < sizeof kFtdiChips / sizeof kFtdiChips[0]; ++k) {
    const FtdiChip& chip = kFtdiChips[k];
    if (k > 0 && chip.vendor == kFtdiChips[k - 1].vendor &&
        chip.product == kFtdiChips[k - 1].product)
      continue;  // FT2232D and FT2232H share their ids
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(ctx, &list, chip.vendor, chip.product) < 0) continue;
    for (ftdi_device_list* d = list; d; d = d->next) {
      libusb_device_descriptor desc{};
      libusb_get_device_descriptor(d->dev, &desc);  // read without opening the device
      char productText[128] = "", serial[128] = "";
      std::string problem;
      // Reading the strings opens the device for a moment; it claims nothing.
      if (ftdi_usb_get_strings2(ctx, d->dev, nullptr, 0, productText, sizeof productText, serial,
                                sizeof serial) < 0)
        problem = std::string("cannot read its serial number (") + ftdi_get_error_string(ctx) +
                  ")." + kUdevHint;
      if (!FtdiChipByRelease(desc.bcdDevice))
        problem = "an " + FtdiModelName(desc.bcdDevice) + " is not supported (only " +
                  SupportedFtdiChips() + " are)";
      found.push_back(FtdiCandidate(FtdiModelName(desc.bcdDevice), chip.vendor, chip.product,
                                    serial, productText, problem));
    }
    ftdi_list_free(&list);
  }
  ftdi_free(ctx);
#endif
  return found;
}

}  // namespace zk7
