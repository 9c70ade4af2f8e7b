#include "port/ftdi_driver.h"

#include <algorithm>
#include <chrono>

#include "port/protocol.h"

#ifdef ZK7_HAVE_LIBFTDI
#include <ftdi.h>
#include <libusb.h>
#include <sys/time.h>
#endif

namespace zk7 {
namespace {

// How long opening holds every line off while it times the pins, and how
// much faster than their chip's pinRate they may seem before the adapter is
// refused. A true rate off by a factor of two or more is always caught; the
// USB latency in the timing only makes the pins look slower.
constexpr int kRateCheckMs = 30;
constexpr double kRateTolerance = 1.25;

// Times a moment of every line off; false with why when the pins run faster
// than the chip's pinRate, which would cut programming pulses short.
bool CheckPinRate(FtdiBackend& backend, std::string& error) {
  const int rate = backend.chip().pinRate;
  const std::vector<std::uint8_t> off(HoldBytes(kRateCheckMs, rate), kLinesOff);
  std::vector<std::uint8_t> echo;
  const std::int64_t start = backend.nowNs();
  if (!backend.transfer(off, echo, error)) {
    error = backend.name() + ": " + error;
    return false;
  }
  const std::int64_t ns = std::max<std::int64_t>(backend.nowNs() - start, 1);
  const double measured = static_cast<double>(off.size()) * 1e9 / static_cast<double>(ns);
  if (measured > kRateTolerance * rate) {
    error = backend.name() + ": its pins change about " +
            std::to_string(static_cast<long>(measured)) + " times a second, faster than the " +
            std::to_string(rate) +
            " this program counts its waits in; programming pulses could be cut short, so the "
            "adapter is not used.";
    return false;
  }
  return true;
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
    if (!backend_->open(error)) return false;
    open_ = true;
    queue_.restart();
    return true;
  }
  void release() override {
    if (!open_) return;
    queue_.send();
    backend_->close();
    open_ = false;
  }

  std::uint8_t read(std::uint16_t /*address*/) override {
    queue_.sample();
    queue_.send();
    return queue_.takeSamples().back();
  }
  void write(std::uint16_t /*address*/, std::uint8_t value) override { queue_.write(value); }
  void exchange(std::uint16_t /*address*/, const PortBatch& batch,
                std::vector<std::uint8_t>& samples) override {
    batch.walk([&](std::uint8_t value) { queue_.write(value); },
               [&](std::size_t) { queue_.sample(); });
    queue_.send();
    const std::vector<std::uint8_t> taken = queue_.takeSamples();
    samples.insert(samples.end(), taken.begin(), taken.end());
  }
  // A wait becomes pin time: the last byte repeated, clocked out by the chip
  // itself, so the lines stay still at least ms whatever USB does meanwhile.
  void waited(int ms) override { queue_.hold(ms); }
  void flush() override { queue_.send(); }
  PortCapabilities capabilities() const override {
    PortCapabilities c;
    c.pinTimeWaits = true;
    c.cableCheck = false;
    c.ioAddress = false;
    return c;
  }
  std::string name() const override { return backend_->name(); }
  std::string problem() const override { return queue_.problem(); }

 private:
  std::unique_ptr<FtdiBackend> backend_;
  FtdiQueue queue_;
  bool open_ = false;
};

#ifdef ZK7_HAVE_LIBFTDI

const char* const kUdevHint =
    " Allow your user to open the adapter with a udev rule, for example a file "
    "/etc/udev/rules.d/60-zk7-ftdi.rules holding SUBSYSTEM==\"usb\", ATTRS{idVendor}==\"0403\", "
    "MODE=\"0660\", GROUP=\"plugdev\" (then sudo udevadm control --reload and replug it).";

// The table row of an opened chip, by the type libftdi read from it.
const FtdiChip* ChipOfType(ftdi_chip_type type) {
  switch (type) {
    case TYPE_R:
      return &kFtdiChips[0];
    case TYPE_232H:
      return &kFtdiChips[1];
    case TYPE_2232C:
    case TYPE_2232H:
      return &kFtdiChips[2];
    default:
      return nullptr;
  }
}

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
    int rc = -3;
    std::string tried;
    for (const FtdiChip& row : kFtdiChips) {
      const bool wanted = address_.anyDefault
                              ? row.byDefault
                              : row.vendor == address_.vendor && row.product == address_.product;
      if (!wanted) continue;
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
    chip_ = ChipOfType(ctx_->type);
    pinAddress();
    if (!chip_) {
      error = name() +
              ": this FTDI chip has no synchronous bit-bang mode we drive "
              "(FT232R, FT232H and FT2232 do)";
      close();
      return false;
    }
    // Latch the all-lines-off byte while every pin is still an input, then
    // drive them: the chip sees no stray supply or programming voltage.
    std::vector<std::uint8_t> echo;
    // libftdi asks the chip for 4 x the rate given in bit-bang mode, and the
    // chip applies up to 16 bytes per baud: the pins run at pinRate at most.
    if (ftdi_set_latency_timer(ctx_, 1) < 0 || ftdi_set_bitmode(ctx_, 0, BITMODE_SYNCBB) < 0 ||
        ftdi_set_baudrate(ctx_, chip_->pinRate / 64) < 0 || !transfer({kLinesOff}, echo, error) ||
        ftdi_set_bitmode(ctx_, kFtdiOutputPins, BITMODE_SYNCBB) < 0 || ftdi_tcioflush(ctx_) < 0) {
      if (error.empty()) error = ftdi_get_error_string(ctx_);
      error = name() + ": setting up synchronous bit-bang mode failed: " + error;
      close();
      return false;
    }
    return true;
  }

  void close() override {
    // The adapter stays in bit-bang mode, so the lines keep their last (off) levels.
    if (opened_) ftdi_usb_close(ctx_);
    opened_ = false;
  }

  bool transfer(const std::vector<std::uint8_t>& out, std::vector<std::uint8_t>& echo,
                std::string& error) override {
    // The echo is read while the bytes are written: the chip stops clocking
    // when its echo buffer is full, so a write alone would stall.
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
  const FtdiChip& chip() const override { return chip_ ? *chip_ : kFtdiChips[0]; }
  std::string name() const override {
    return std::string(chip_ ? chip_->name : "FTDI adapter") +
           (address_.serial.empty() ? "" : " " + address_.serial);
  }

 private:
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
        return FtdiInUseText(chip_ ? name() : tried);
      default:
        return tried + ": " + reason;
    }
  }

  ftdi_context* ctx_;
  FtdiAddress address_;
  bool opened_ = false;
  const FtdiChip* chip_ = nullptr;
};

#endif  // ZK7_HAVE_LIBFTDI

}  // namespace

std::unique_ptr<PortDriver> MakeFtdiDriver(std::unique_ptr<FtdiBackend> backend,
                                           std::string& error) {
  // Opened once when chosen, so a missing adapter or permission shows now, and
  // its pins timed: their rate is the adapter's own, so once is enough.
  if (!backend->open(error)) return nullptr;
  const bool rateOk = CheckPinRate(*backend, error);
  backend->close();
  if (!rateOk) return nullptr;
  return std::make_unique<FtdiDriver>(std::move(backend));
}

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

PortCandidate FtdiCandidate(const FtdiChip& chip, const std::string& serial,
                            const std::string& product, const std::string& problem) {
  PortCandidate c;
  c.portText = FtdiPortText(chip.vendor, chip.product, serial);
  c.caption = std::string(chip.name) + (serial.empty() ? "" : " " + serial);
  c.description = std::string(chip.name) + " USB adapter " + c.portText.substr(5) +
                  (serial.empty() ? ", no serial number" : ", serial " + serial) +
                  (product.empty() ? "" : " (\"" + product + "\")");
  c.problem = problem;
  return c;
}

std::vector<PortCandidate> DiscoverFtdiPorts() {
  std::vector<PortCandidate> found;
#ifdef ZK7_HAVE_LIBFTDI
  ftdi_context* ctx = ftdi_new();
  if (!ctx) return found;
  for (const FtdiChip& chip : kFtdiChips) {
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(ctx, &list, chip.vendor, chip.product) < 0) continue;
    for (ftdi_device_list* d = list; d; d = d->next) {
      char product[128] = "", serial[128] = "";
      std::string problem;
      // Reading the strings opens the device for a moment; it claims nothing.
      if (ftdi_usb_get_strings2(ctx, d->dev, nullptr, 0, product, sizeof product, serial,
                                sizeof serial) < 0)
        problem = std::string("cannot read its serial number (") + ftdi_get_error_string(ctx) +
                  ")." + kUdevHint;
      found.push_back(FtdiCandidate(chip, serial, product, problem));
    }
    ftdi_list_free(&list);
  }
  ftdi_free(ctx);
#endif
  return found;
}

}  // namespace zk7
