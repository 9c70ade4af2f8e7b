#include "programmer/port.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "programmer/drivers.h"
#include "programmer/emulator.h"
#include "programmer/ftdi_driver.h"
#include "programmer/protocol.h"

namespace zk7 {
namespace {

bool EqualsIgnoreCase(const std::string& a, const char* b) {
  if (a.size() != std::strlen(b)) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(a[i])) !=
        std::toupper(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// What to do about a port nobody can reach, from the reasons collected.
std::string FixHint(const std::string& reasons) {
  std::string hint;
  if (reasons.find(std::strerror(EACCES)) != std::string::npos)
    hint += " Add your user to the 'lp' group (sudo usermod -aG lp $USER) and log in again.";
  if (reasons.find("no /dev/parportN") != std::string::npos ||
      reasons.find("no parallel port") != std::string::npos ||
      reasons.find(std::strerror(ENOENT)) != std::string::npos)
    hint +=
        " Load the parallel-port drivers (sudo modprobe parport_pc ppdev), or choose the address "
        "your port really has.";
  if (reasons.find(std::strerror(EPERM)) != std::string::npos) hint += " Direct I/O needs root.";
  if (hint.empty())
    hint =
        " Make sure the parport_pc and ppdev modules are loaded and your user is in the 'lp' "
        "group, or run as root for direct I/O.";
  return hint;
}

}  // namespace

struct Port::Impl {
  PortChoice choice;
  std::unique_ptr<PortDriver> driver;
  bool fixedDriver = false;     // set by setDriver: open() keeps it
  std::string emulatorOptions;  // options the current emulator was made with
  std::uint16_t base = 0x378;
  std::string problem;
  std::FILE* trace = nullptr;

  void closeTrace() {
    if (trace) std::fclose(trace);
    trace = nullptr;
  }
  void noteDriverProblem() {
    if (problem.empty() && driver) problem = driver->problem();
  }
};

bool ParsePortChoice(const std::string& text, PortChoice& choice, std::uint16_t& base,
                     std::string& error) {
  PortChoice result;
  std::string hex = text;
  if (hex.size() > 2 && (hex.compare(0, 2, "0x") == 0 || hex.compare(0, 2, "0X") == 0))
    hex = hex.substr(2);
  if (EqualsIgnoreCase(text, "auto")) {
    choice = result;
    return true;
  }
  for (std::uint16_t address : {0x278, 0x378, 0x3BC}) {
    if (EqualsIgnoreCase(hex, PortAddressText(address).c_str() + 2)) {
      base = address;
      choice = result;
      return true;
    }
  }
  if (text.rfind("/dev/", 0) == 0 && text.size() > 5) {
    result.kind = PortChoice::Device;
    result.device = text;
    choice = result;
    return true;
  }
  if (text == "emulator" || text.rfind("emulator:", 0) == 0) {
    result.kind = PortChoice::Emulator;
    result.emulatorOptions = text.size() > 9 ? text.substr(9) : std::string();
    EmulatorOptions options;
    if (!ParseEmulatorOptions(result.emulatorOptions, options, error)) return false;
    choice = result;
    return true;
  }
  if (text == "ftdi" || text.rfind("ftdi:", 0) == 0) {
    result.kind = PortChoice::Ftdi;
    result.usb = text.size() > 5 ? text.substr(5) : std::string();
    FtdiAddress address;
    if (!ParseFtdiAddress(result.usb, address, error)) return false;
    choice = result;
    return true;
  }
  error = "unknown port '" + text +
          "' (use 278, 378, 3BC, /dev/parportN, ftdi[:VID:PID[:SERIAL]] or emulator[:OPTIONS])";
  return false;
}

PortChoice PortChoiceFromEnvironment() {
  PortChoice choice;
  const char* value = std::getenv("ZK7_PORT");
  if (!value || !*value) return choice;
  std::uint16_t base = 0;
  std::string error;
  if (!ParsePortChoice(value, choice, base, error)) {
    choice = PortChoice();
    choice.problem = "ZK7_PORT: " + error;
  }
  return choice;
}

Port::Port() : d_(new Impl) {
  d_->choice = PortChoiceFromEnvironment();
  if (const char* path = std::getenv("ZK7_PORT_TRACE"); path && *path) {
    // A debugging aid asked for by environment: say so on stderr if it cannot work.
    std::string error;
    if (!setTraceFile(path, error)) std::fprintf(stderr, "zk7: %s\n", error.c_str());
  }
}

Port::~Port() {
  d_->driver.reset();
  d_->closeTrace();
}

void Port::setChoice(const PortChoice& c) {
  d_->choice = c;
}
const PortChoice& Port::choice() const {
  return d_->choice;
}

void Port::setDriver(std::unique_ptr<PortDriver> driver) {
  d_->fixedDriver = driver != nullptr;
  d_->driver = std::move(driver);
  d_->emulatorOptions.clear();
  d_->problem.clear();
}

PortDriver* Port::driver() const {
  return d_->driver.get();
}

void Port::open(std::uint16_t base) {
  d_->base = base;
  d_->problem.clear();
  if (d_->fixedDriver) return;
  const PortChoice& c = d_->choice;
  if (!c.problem.empty()) {
    d_->driver.reset();
    d_->problem = c.problem;
    return;
  }
  std::string error;
  switch (c.kind) {
    case PortChoice::Emulator: {
      // The emulated adapter answers at whichever address is chosen; its chip
      // keeps its memory across address changes.
      if (dynamic_cast<EmulatorDriver*>(d_->driver.get()) &&
          d_->emulatorOptions == c.emulatorOptions)
        return;
      d_->driver.reset();
      d_->driver = EmulatorDriver::create(c.emulatorOptions, error);
      d_->emulatorOptions = c.emulatorOptions;
      if (!d_->driver) d_->problem = error;
      return;
    }
    case PortChoice::Device:
      // Release the old claim before opening the new device.
      d_->driver.reset();
      d_->driver = OpenPpdev(c.device, error);
      if (!d_->driver)
        d_->problem = "Cannot reach the parallel port at " + PortAddressText(base) + ": " + error +
                      "." + FixHint(error);
      return;
    case PortChoice::Ftdi:
      // The adapter has no I/O address; it is opened afresh (and checked) each time.
      d_->driver.reset();
      d_->driver = OpenFtdi(c.usb, error);
      if (!d_->driver) d_->problem = "Cannot reach the USB adapter: " + error;
      return;
    case PortChoice::Auto: {
      d_->driver.reset();
      std::string reasons;
      const std::string device = PpdevDeviceForBase(base, error);
      if (!device.empty()) d_->driver = OpenPpdev(device, error);
      if (d_->driver) return;
      reasons = error;
      d_->driver = OpenDirectIO(base, error);
      if (d_->driver) return;
      reasons += "; " + error;
      d_->problem = "Cannot reach the parallel port at " + PortAddressText(base) + ": " + reasons +
                    "." + FixHint(reasons);
      return;
    }
  }
}

std::uint16_t Port::base() const {
  return d_->base;
}

const std::string& Port::accessProblem() const {
  d_->noteDriverProblem();
  return d_->problem;
}

std::string Port::description() const {
  if (!capabilities().ioAddress) return "USB \u00B7 " + d_->driver->name();
  return PortAddressText(d_->base) + " \u00B7 " +
         (d_->driver ? d_->driver->name() : "not accessible");
}

std::uint8_t Port::DlPortReadPortUchar(std::uint16_t port) {
  const std::uint8_t value = d_->driver ? d_->driver->read(port) : 0xFF;
  if (d_->trace) std::fprintf(d_->trace, "R %X %02X\n", port, value);
  return value;
}

void Port::DlPortWritePortUchar(std::uint16_t port, std::uint8_t value) {
  if (d_->driver) d_->driver->write(port, value);
  if (d_->trace) std::fprintf(d_->trace, "W %X %02X\n", port, value);
}

void Port::noteDelay(int ms) {
  if (d_->trace) std::fprintf(d_->trace, "D %d\n", ms);
  if (d_->driver) d_->driver->waited(ms);
}

PortCapabilities Port::capabilities() const {
  return d_->driver ? d_->driver->capabilities() : PortCapabilities{};
}

std::vector<std::uint8_t> Port::exchange(std::uint16_t port, const PortBatch& batch) {
  std::vector<std::uint8_t> samples;
  if (d_->driver) d_->driver->exchange(port, batch, samples);
  samples.resize(batch.sampleAfter.size(), 0xFF);
  if (d_->trace)
    batch.walk(
        [&](std::uint8_t value) { std::fprintf(d_->trace, "W %X %02X\n", port, value); },
        [&](std::size_t k) { std::fprintf(d_->trace, "R %X %02X\n", port + 1, samples[k]); });
  return samples;
}

void Port::flush() {
  if (d_->driver) d_->driver->flush();
}

bool Port::setTraceFile(const std::string& path, std::string& error) {
  d_->closeTrace();
  if (path.empty()) return true;
  d_->trace = std::fopen(path.c_str(), "a");
  if (!d_->trace) {
    error = "ZK7_PORT_TRACE: cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  // One line per access, each on disk as soon as it is complete.
  std::setvbuf(d_->trace, nullptr, _IOLBF, 0);
  return true;
}

}  // namespace zk7
