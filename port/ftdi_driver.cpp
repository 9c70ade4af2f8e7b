// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/ftdi_driver.h"

#include <time.h>

#include <algorithm>
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

// An adapter that stopped answering may be on its way off the bus: the
// kernel takes it off only once its hub has reported the port's change, so
// it is looked for again for up to a second before it counts as plugged in.
bool Unplugged(FtdiBackend& b) {
  const std::int64_t until = b.nowNs() + 1000000000;
  while (!b.gone()) {
    if (b.nowNs() >= until) return false;
    b.sleepUntilNs(b.nowNs() + 20000000);
  }
  return true;
}

// Holds the USB device only while the port is claimed, so other programs can
// use the adapter in between.
class FtdiDriver : public PortDriver {
 public:
  explicit FtdiDriver(std::unique_ptr<FtdiBackend> backend)
      : backend_(std::move(backend)), queue_(*backend_, kFtdiQueueLimit) {}
  // What is queued still reaches the pins; the adapter is then a serial port again.
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
    if (problem_.empty() && queue_.lastData() != kLinesOff) {
      queue_.write(kLinesOff);
      sendOrSwitchOff();
    }
    if (open_) ReturnAdapter(*backend_);
    open_ = false;
  }

  std::uint8_t read(std::uint16_t /*address*/) override {
    queue_.sample();
    sendOrSwitchOff();
    return queue_.takeSamples().back();
  }
  void write(std::uint16_t /*address*/, std::uint8_t value) override {
    queue(value);
    afterSending();  // the queue may have sent on its own
  }
  void exchange(std::uint16_t /*address*/, const PortBatch& batch,
                std::vector<std::uint8_t>& samples) override {
    batch.walk([&](std::uint8_t value) { queue(value); }, [&](std::size_t) { queue_.sample(); });
    sendOrSwitchOff();
    const std::vector<std::uint8_t> taken = queue_.takeSamples();
    samples.insert(samples.end(), taken.begin(), taken.end());
  }
  // The lines stay still for ms: proven by the echo, timed on the host's clock.
  void waited(int ms) override {
    queue_.hold(ms);
    afterSending();
  }
  void flush() override { sendOrSwitchOff(); }
  PortCapabilities capabilities() const override {
    PortCapabilities c;
    c.cableCheck = false;
    c.ioAddress = false;
    return c;
  }
  std::string name() const override { return backend_->name(); }
  std::string problem() const override { return problem_.empty() ? backend_->problem() : problem_; }
  void sequenceStarts() override { backend_->sequenceStarts(); }
  bool keepsGuardCopy(std::atomic<std::uint8_t>* copy) override {
    guard_ = copy;
    return true;
  }
  std::string exactPortText() const override { return backend_->portText(); }

 private:
  // A powering byte counts for the guard from the moment it is queued (after
  // a failure nothing more is sent).
  void queue(std::uint8_t value) {
    if (guard_ && queue_.problem().empty() && LinesPowered(value)) guard_->store(value);
    queue_.write(value);
  }
  void sendOrSwitchOff() {
    queue_.send();
    afterSending();
  }
  // After anything that may have sent: a failure is dealt with, and once
  // every byte queued is proven at the pins the guard learns what they show.
  void afterSending() {
    switchOffAfterFailure();
    if (guard_ && queue_.problem().empty() && queue_.idle()) guard_->store(queue_.lastData());
  }
  // Once after a failure: the power-off bytes in a fresh transfer, else a
  // fresh set-up, which leaves the lines off too. The guard's copy stays
  // powered unless one of them proved the lines off.
  void switchOffAfterFailure() {
    if (queue_.problem().empty() || !problem_.empty()) return;
    std::string why;
    bool off = backend_->purge(why) && SendChecked(*backend_, OffBytes(queue_.lastData()), -1,
                                                   PowerPins(), why) == SendResult::Ok;
    if (!off) {
      backend_->close();
      open_ = off = SetUpAdapter(*backend_, why);
    }
    if (off && guard_) guard_->store(kLinesOff);
    problem_ = backend_->name() + ": " + queue_.problem() +
               (off                    ? "; the chip was switched off."
                : Unplugged(*backend_) ? "; the adapter is unplugged, so the chip has no supply."
                                       : "; the chip may still be powered: unplug the adapter.");
  }

  std::unique_ptr<FtdiBackend> backend_;
  FtdiQueue queue_;
  bool open_ = false;
  std::string problem_;
  std::atomic<std::uint8_t>* guard_ = nullptr;
};

bool Refuse(FtdiBackend& backend, const std::string& why, std::string& error, bool touched = true) {
  error = backend.name() + ": " + why;
  if (touched)
    ReturnAdapter(backend);
  else
    backend.close();
  return false;
}

}  // namespace

void ReturnAdapter(FtdiBackend& b) {
  std::string ignored;  // an adapter that is gone cannot be given back
  if (b.setBitmode(0x00, FtdiBackend::Mode::SyncBitbang, ignored))
    b.setBitmode(0x00, FtdiBackend::Mode::Reset, ignored);
  b.close();
}

bool SetUpAdapter(FtdiBackend& b, std::string& error) {
  if (!b.open(error)) return false;
  const FtdiChip* chip = FtdiChipByRelease(b.release());
  if (!chip)
    return Refuse(b,
                  "an " + FtdiModelName(b.release()) +
                      " has no bit-bang figures here, so it is not used; the supported chips are " +
                      SupportedFtdiChips() + ".",
                  error, false);
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
  // The latency timer too: the echo's last bytes would otherwise wait up to
  // 16 ms in the chip.
  if (!b.setLatencyTimer(1, why) ||
      (!showsOff && (!b.setBitmode(0x00, Sync, why) || !b.setBaudrate(BaudRequest(*chip), why) ||
                     !b.purge(why))))
    return Refuse(b, "setting up bit-bang mode failed: " + why, error);
  if (!showsOff) {
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
  if (sent != SendResult::Ok)
    return Refuse(
        b,
        sent == SendResult::Failed
            ? "setting up bit-bang mode failed: " + why
            : "the pins do not read back what was sent (" + why +
                  "): a shorted pin, a pin inverted in the adapter's EEPROM, or wiring "
                  "other than the documented table (docs/usb-adapter.md); the adapter is not used.",
        error);
  return true;
}

std::unique_ptr<PortDriver> MakeFtdiDriver(std::unique_ptr<FtdiBackend> backend,
                                           std::string& error) {
  // Set up once when chosen, so a missing adapter, permission, unsupported
  // chip or wiring fault shows now.
  if (!SetUpAdapter(*backend, error)) return nullptr;
  ReturnAdapter(*backend);
  return std::make_unique<FtdiDriver>(std::move(backend));
}

HostClock& MachineClock() {
  class Monotonic : public HostClock {
   public:
    std::int64_t nowNs() override {
      return std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
          .count();
    }
    void sleepUntilNs(std::int64_t ns) override {
      // steady_clock is CLOCK_MONOTONIC on Linux.
      const timespec until{static_cast<time_t>(ns / 1000000000),
                           static_cast<long>(ns % 1000000000)};
      while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
      }
    }
  };
  static Monotonic clock;
  return clock;
}

#ifdef ZK7_HAVE_LIBFTDI
namespace {

const char* const kUdevHint =
    " Install the udev rule 60-zk7-programmer.rules, which lets the logged-in user open the "
    "adapter (the package does; from the source tree: sudo cp data/60-zk7-programmer.rules "
    "/etc/udev/rules.d/ && sudo udevadm control --reload), then plug the adapter in again.";

// No adapter matched (libftdi's own codes are all above this).
constexpr int kNotFound = -1000;

// How long a cancelled transfer may take to come back.
constexpr std::int64_t kCancelNs = 2000000000;

// "1-2.3": the bus, then the ports from the root hub, as the kernel names it.
std::string UsbPath(libusb_device* dev) {
  std::uint8_t ports[7];
  const int n = libusb_get_port_numbers(dev, ports, sizeof ports);
  if (n <= 0) return {};
  std::string path = std::to_string(libusb_get_bus_number(dev)) + "-";
  for (int k = 0; k < n; ++k) path += (k ? "." : "") + std::to_string(ports[k]);
  return path;
}

// The USB ids a bare "ftdi" or address tries, each pair once.
std::vector<std::pair<std::uint16_t, std::uint16_t>> WantedIds(const FtdiAddress& a) {
  std::vector<std::pair<std::uint16_t, std::uint16_t>> ids;
  if (!a.anyDefault) ids.emplace_back(a.vendor, a.product);
  for (const FtdiChip& chip : kFtdiChips)
    if (a.anyDefault && chip.byDefault &&
        std::find(ids.begin(), ids.end(), std::make_pair(chip.vendor, chip.product)) == ids.end())
      ids.emplace_back(chip.vendor, chip.product);
  return ids;
}

// Calls found(dev, desc) for every adapter plugged in with the ids usb wants.
template <typename Found>
bool ForEachFtdi(ftdi_context* ctx, const FtdiAddress& address, Found found) {
  for (const auto& [vendor, product] : WantedIds(address)) {
    ftdi_device_list* list = nullptr;
    if (ftdi_usb_find_all(ctx, &list, vendor, product) < 0) return false;
    for (ftdi_device_list* d = list; d; d = d->next) {
      libusb_device_descriptor desc{};
      libusb_get_device_descriptor(d->dev, &desc);  // read without opening the device
      found(d->dev, desc);
    }
    ftdi_list_free(&list);
  }
  return true;
}

// True when no adapter that address names is plugged in, looked for
// afresh (a libusb context keeps the devices it has seen until it is told
// of their removal); false when it is there or cannot be looked for.
bool AdapterGone(const FtdiAddress& address) {
  ftdi_context* ctx = ftdi_new();
  if (!ctx) return false;
  bool present = false;
  const bool looked = ForEachFtdi(ctx, address, [&](libusb_device* dev, const auto& desc) {
    char serial[128] = "";
    // Without a path the serial number tells; one that cannot be read may be it.
    present |= !address.path.empty() ? UsbPath(dev) == address.path
                                     : address.serial.empty() || desc.iSerialNumber == 0 ||
                                           ftdi_usb_get_strings2(ctx, dev, nullptr, 0, nullptr, 0,
                                                                 serial, sizeof serial) < 0 ||
                                           address.serial == serial;
  });
  ftdi_free(ctx);
  return looked && !present;
}

class LibFtdiBackend : public FtdiBackend {
 public:
  LibFtdiBackend(const FtdiAddress& address, HostClock& clock)
      : ctx_(ftdi_new()), address_(address), clock_(clock) {}
  ~LibFtdiBackend() override {
    close();
    if (ctx_) ftdi_free(ctx_);
  }

  bool open(std::string& error) override {
    if (opened_) return true;
    gone_ = false;
    if (!ctx_) {
      error = "libftdi could not start";
      return false;
    }
    ftdi_set_interface(ctx_, INTERFACE_A);  // an FT2232's first channel
    // The kernel's serial driver lets go of the adapter while we hold it and
    // takes it back at close.
    ctx_->module_detach_mode = AUTO_DETACH_REATACH_SIO_MODULE;
    int rc = kNotFound;
    std::string tried;
    bool unreadable = false;
    for (const auto& [vendor, product] : WantedIds(address_)) {
      tried += (tried.empty() ? "" : ", ") +
               FtdiPortText(vendor, product, address_.serial, address_.path);
      ftdi_device_list* list = nullptr;
      if (ftdi_usb_find_all(ctx_, &list, vendor, product) < 0) continue;
      for (ftdi_device_list* d = list; d && rc == kNotFound; d = d->next) {
        if (!address_.path.empty() && UsbPath(d->dev) != address_.path) continue;
        if (!address_.serial.empty()) {
          std::string serial;
          unreadable |= !readSerial(d->dev, serial);
          if (serial != address_.serial) continue;
        }
        rc = ftdi_usb_open_dev(ctx_, d->dev);
        if (rc == 0) pinAddress(d->dev);
      }
      ftdi_list_free(&list);
      if (rc != kNotFound) break;
    }
    if (rc < 0) {
      gone_ = rc == kNotFound && !unreadable;
      error = openProblem(rc == kNotFound && unreadable ? -4 : rc, tried);
      return false;
    }
    opened_ = true;
    return true;
  }

  void close() override {
    if (opened_) ftdi_usb_close(ctx_);
    opened_ = false;
  }

  std::uint16_t release() const override { return release_; }
  std::string name() const override {
    const std::string model =
        opened_ || release_ ? FtdiModelName(release_) : std::string("FTDI adapter");
    if (!address_.serial.empty()) return model + " " + address_.serial;
    return path_.empty() ? model : model + " at " + path_;
  }
  bool gone() const override { return gone_ || (release_ && AdapterGone(address_)); }
  std::size_t packetPayload() const override {
    return opened_ && ctx_->max_packet_size > 2 ? ctx_->max_packet_size - 2 : 0;
  }
  std::string portText() const override {
    return release_ ? FtdiPortText(address_.vendor, address_.product, address_.serial, path_)
                    : std::string();
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
    echo.clear();
    if (!opened_) {
      error = "the adapter is not open";
      return false;
    }
    // The buffers libusb fills stay with the transfers: a transfer that does
    // not come back from a cancel keeps them (leaked, never freed under it).
    auto* io = new InFlight{out, std::vector<std::uint8_t>(out.size())};
    const int size = static_cast<int>(out.size());
    // A USB read ends on a short packet or at its length: asked for exactly
    // the packets a whole-packet echo fills, it ends with the last of them
    // rather than waiting for the chip's next, timer-driven, packet.
    const int packet = ctx_->max_packet_size;
    const int packets = packet > 2 && size % (packet - 2) == 0 ? size / (packet - 2) : 0;
    ftdi_read_data_set_chunksize(ctx_, packets ? static_cast<unsigned>(packets * packet) : 4096u);
    // The echo is read while the bytes are written: the chip stops clocking
    // when its echo FIFO is full, so a write alone would stall.
    io->rd = ftdi_read_data_submit(ctx_, io->in.data(), size);
    io->wr = io->rd ? ftdi_write_data_submit(ctx_, io->out.data(), size) : nullptr;
    const std::int64_t limit = UsbTransferDeadlineNs(out.size());
    const std::int64_t deadline = clock_.nowNs() + limit;
    const bool inTime = io->wr && waitDone(io->wr, deadline) && waitDone(io->rd, deadline);
    if (!inTime) {
      const char* which = io->wr && io->wr->completed ? "read" : "write";
      if (!io->wr)
        error = "USB write failed: the transfer could not be started";
      else
        error = std::string("USB ") + which + " failed: no answer within " +
                std::to_string(limit / 1000000) + " ms";
      if (!cancelAndWait(*io)) return false;  // io stays with libusb
    }
    const Outcome w = finish(io->wr), r = finish(io->rd);
    bool ok = false;
    if (inTime) {
      if (w.status != LIBUSB_TRANSFER_COMPLETED || w.bytes != size)
        error = "USB write failed: " + describe(w, size);
      else if (r.status != LIBUSB_TRANSFER_COMPLETED || r.bytes != size)
        error = "USB read failed: " + describe(r, size);
      else
        ok = true;
    }
    if (ok) echo = std::move(io->in);
    delete io;
    return ok;
  }

  std::int64_t nowNs() const override { return clock_.nowNs(); }
  void sleepUntilNs(std::int64_t ns) override { clock_.sleepUntilNs(ns); }

 private:
  struct InFlight {
    std::vector<std::uint8_t> out, in;
    ftdi_transfer_control* rd = nullptr;
    ftdi_transfer_control* wr = nullptr;
  };
  struct Outcome {
    int status = LIBUSB_TRANSFER_COMPLETED;
    int bytes = 0;
  };

  // Handles libusb's events, sleeping in its poll of the USB file
  // descriptors, until tc completed; false once the deadline passed first.
  bool waitDone(ftdi_transfer_control* tc, std::int64_t deadline) {
    while (!tc->completed)
      if (!handleEvents(tc, deadline)) return tc->completed != 0;
    return true;
  }
  // One round of libusb's events (callbacks included), until tc completed or
  // the deadline; false once nothing more can be waited for.
  bool handleEvents(ftdi_transfer_control* tc, std::int64_t deadline) {
    const std::int64_t left = std::max<std::int64_t>(0, deadline - clock_.nowNs());
    timeval tv{static_cast<time_t>(left / 1000000000),
               static_cast<suseconds_t>(left % 1000000000 / 1000)};
    const int rc = libusb_handle_events_timeout_completed(ctx_->usb_ctx, &tv, &tc->completed);
    return left > 0 && (rc >= 0 || rc == LIBUSB_ERROR_INTERRUPTED);
  }
  // Cancels what has not completed and waits until libusb hands it back. A
  // transfer whose packet arrived just before the cancel ends as completed
  // (the cancel finds nothing to cancel) and libftdi's callback submits it
  // again, so it is cancelled again after every round of events.
  bool cancelAndWait(InFlight& io) {
    const std::int64_t limit = clock_.nowNs() + kCancelNs;
    for (ftdi_transfer_control* tc : {io.wr, io.rd}) {
      while (tc && !tc->completed) {
        if (tc->transfer) libusb_cancel_transfer(tc->transfer);
        if (!handleEvents(tc, limit)) return tc->completed != 0;
      }
    }
    return true;
  }
  // A completed transfer's outcome; frees it.
  static Outcome finish(ftdi_transfer_control* tc) {
    Outcome o;
    if (!tc) return {LIBUSB_TRANSFER_ERROR, 0};
    if (tc->transfer) o.status = tc->transfer->status;
    o.bytes = tc->offset;
    ftdi_transfer_data_done(tc);
    return o;
  }
  static std::string describe(const Outcome& o, int size) {
    if (o.status != LIBUSB_TRANSFER_COMPLETED) return UsbTransferWords(o.status);
    return "only " + std::to_string(o.bytes) + " of " + std::to_string(size) + " bytes";
  }

  bool check(int rc, std::string& error) const {
    if (rc >= 0) return true;
    error = ftdi_get_error_string(ctx_);
    return false;
  }

  // The serial number string of dev, "" for none; false when it cannot be read.
  bool readSerial(libusb_device* dev, std::string& serial) {
    libusb_device_descriptor desc{};
    char text[128] = "";
    if (libusb_get_device_descriptor(dev, &desc) < 0) return false;
    if (desc.iSerialNumber == 0) return true;
    if (ftdi_usb_get_strings2(ctx_, dev, nullptr, 0, nullptr, 0, text, sizeof text) < 0)
      return false;
    serial = text;
    return true;
  }

  // Later opens take this very device: the ids it has and its serial number,
  // read while it is open, so a bare "ftdi" does not move to another adapter;
  // one without a serial number by the USB port it is plugged into.
  void pinAddress(libusb_device* dev) {
    libusb_device_descriptor desc{};
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
    path_ = UsbPath(dev);
    if (address_.serial.empty()) address_.path = path_;
  }

  // Chosen by libftdi's return code, so each kind gets its fix.
  std::string openProblem(int rc, const std::string& tried) const {
    const std::string reason = rc == kNotFound ? "" : ftdi_get_error_string(ctx_);
    switch (rc) {
      case kNotFound:
        return "no adapter found at " + tried +
               ". Plug it in, or name its USB ids and serial number as ftdi:VID:PID:SERIAL "
               "(lsusb shows them; zk7prog ports lists the adapters).";
      case -4:
      case -8:
        return tried + ": cannot open the USB device" +
               (reason.empty() ? std::string() : " (" + reason + ")") + "." + kUdevHint;
      case -5:  // libusb could not claim its interface: another program has it
        return FtdiInUseText(release_ ? name() : tried);
      default:
        return tried + ": " + reason;
    }
  }

  ftdi_context* ctx_;
  FtdiAddress address_;
  HostClock& clock_;
  bool opened_ = false;
  bool gone_ = false;
  std::uint16_t release_ = 0;
  std::string path_;  // of the device opened last
};

}  // namespace
#endif  // ZK7_HAVE_LIBFTDI

std::unique_ptr<FtdiBackend> MakeLibFtdiBackend(const FtdiAddress& address, HostClock* clock) {
#ifdef ZK7_HAVE_LIBFTDI
  return std::make_unique<LibFtdiBackend>(address, clock ? *clock : MachineClock());
#else
  (void)address;
  (void)clock;
  return nullptr;
#endif
}

std::unique_ptr<PortDriver> OpenFtdi(const std::string& usb, std::string& error) {
  FtdiAddress address;
  if (!ParseFtdiAddress(usb, address, error)) return nullptr;
  std::unique_ptr<FtdiBackend> backend = MakeLibFtdiBackend(address);
  if (!backend) {
    error = FtdiUnavailableReason();
    return nullptr;
  }
  return MakeFtdiDriver(std::move(backend), error);
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
                            const std::string& serial, const std::string& path,
                            const std::string& productText, const std::string& problem) {
  PortCandidate c;
  c.portText = FtdiPortText(vendor, product, serial, serial.empty() ? path : "");
  c.caption = model + (serial.empty() ? " at " + path : " " + serial);
  c.description =
      model + " USB adapter " + FtdiPortText(vendor, product, "").substr(5) +
      (serial.empty() ? ", no serial number, at USB port " + path : ", serial " + serial) +
      (productText.empty() ? "" : " (\"" + productText + "\")");
  c.problem = problem;
  return c;
}

bool FtdiAdapterGone(const std::string& usb) {
#ifdef ZK7_HAVE_LIBFTDI
  FtdiAddress address;
  std::string error;
  return ParseFtdiAddress(usb, address, error) && AdapterGone(address);
#else
  (void)usb;
  return false;
#endif
}

std::vector<PortCandidate> DiscoverFtdiPorts() {
  std::vector<PortCandidate> found;
#ifdef ZK7_HAVE_LIBFTDI
  ftdi_context* ctx = ftdi_new();
  if (!ctx) return found;
  FtdiAddress everyId;
  everyId.anyDefault = false;
  for (std::size_t k = 0; k < sizeof kFtdiChips / sizeof kFtdiChips[0]; ++k) {
    const FtdiChip& chip = kFtdiChips[k];
    if (k > 0 && chip.vendor == kFtdiChips[k - 1].vendor &&
        chip.product == kFtdiChips[k - 1].product)
      continue;  // FT2232D and FT2232H share their ids
    everyId.vendor = chip.vendor;
    everyId.product = chip.product;
    ForEachFtdi(ctx, everyId, [&](libusb_device* dev, const libusb_device_descriptor& desc) {
      char productText[128] = "", serial[128] = "";
      std::string problem;
      // Reading the strings opens the device for a moment; it claims nothing.
      // An adapter without a serial number (no EEPROM) has no string to read.
      if (ftdi_usb_get_strings2(ctx, dev, nullptr, 0, desc.iProduct ? productText : nullptr,
                                sizeof productText, desc.iSerialNumber ? serial : nullptr,
                                sizeof serial) < 0)
        problem = std::string("cannot read its serial number (") + ftdi_get_error_string(ctx) +
                  ")." + kUdevHint;
      if (!FtdiChipByRelease(desc.bcdDevice))
        problem = "an " + FtdiModelName(desc.bcdDevice) + " is not supported (only " +
                  SupportedFtdiChips() + " are)";
      found.push_back(FtdiCandidate(FtdiModelName(desc.bcdDevice), chip.vendor, chip.product,
                                    serial, UsbPath(dev), productText, problem));
    });
  }
  ftdi_free(ctx);
#endif
  return found;
}

}  // namespace zk7
