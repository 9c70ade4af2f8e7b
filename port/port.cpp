// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/port.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "port/discovery.h"
#include "port/drivers.h"
#include "port/ftdi_driver.h"
#include "port/guard.h"
#include "port/protocol.h"
#include "port/watch.h"

namespace zk7 {
namespace {

EmulatedPorts& Emulated() {
  static EmulatedPorts ports;
  return ports;
}

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
  if (reasons.find("no parallel port") != std::string::npos ||
      reasons.find(std::strerror(ENOENT)) != std::string::npos)
    hint += " Load the parallel-port drivers (sudo modprobe parport_pc ppdev).";
  // Only where the kernel knows ports, none of them at this address.
  if (reasons.find("no /dev/parportN has the base address") != std::string::npos)
    hint += " Choose the address your port really has.";
  if (reasons.find(std::strerror(EPERM)) != std::string::npos) hint += " Direct I/O needs root.";
  if (reasons.find("lockdown") != std::string::npos)
    hint +=
        " The kernel lockdown refuses direct I/O even to root: use ppdev instead (sudo modprobe "
        "parport_pc ppdev, then the /dev/parportN of the port).";
  if (hint.empty())
    hint =
        " Make sure the parport_pc and ppdev modules are loaded and your user is in the 'lp' "
        "group, or run as root for direct I/O.";
  return hint;
}

}  // namespace

struct Port::Impl {
  PortChoice choice;
  PortSystem system;
  std::unique_ptr<PortDriver> driver;
  bool fixedDriver = false;  // set by setDriver: open() keeps it
  bool emulated = false;     // the driver is the emulator's, made with emulatorOptions
  std::string emulatorOptions;
  std::uint16_t base = 0x378;
  std::string problem;        // found by open()
  std::string driverProblem;  // the driver's own, as last asked
  std::FILE* trace = nullptr;
  int claims = 0;  // nesting depth of claim()
  PowerWatch watch;
  std::string tracePath;
  PowerGuard guard;               // from claimGuarded to the outermost release
  bool driverKeepsGuard = false;  // the driver stores the guard's copy itself

  void closeTrace() {
    if (trace) std::fclose(trace);
    trace = nullptr;
    watch.traceFd = -1;
  }
  // Before a byte reaches the pins: a byte that powers the lines is watched
  // first, so a signal that comes while it is being written still finds it.
  void beforeWrite(std::uint16_t address, std::uint8_t value) {
    if (watch.guardState && !driverKeepsGuard && LinesPowered(value))
      watch.guardState->store(value, std::memory_order_relaxed);
    if (watch.powered || !LinesPowered(value)) return;
    watch.address = address;
    watch.last = value;
    watch.powered = true;
    Watch(&watch);
  }
  // After it reached them: the watch follows, and ends once the lines are at rest.
  void noteWrite(std::uint16_t address, std::uint8_t value) {
    if (watch.guardState && !driverKeepsGuard)
      watch.guardState->store(value, std::memory_order_relaxed);
    watch.address = address;
    watch.last = value;
    if (!watch.powered || LinesPowered(value)) return;
    watch.powered = false;
    Unwatch(&watch);
  }
  // Leaves the lines unpowered if they are not, claiming the port for it if needed.
  void switchOff(Port& self) {
    if (!watch.powered) return;
    std::string ignored;
    const bool claimedHere = claims == 0 && driver && driver->claim(ignored);
    for (std::uint8_t b : PowerOffSequence(watch.last)) self.DlPortWritePortUchar(watch.address, b);
    if (driver) driver->flush();  // a queued driver sends them now
    if (claimedHere) driver->release();
  }
  // Before another driver takes over: switch off, give the port back.
  void dropDriver(Port& self) {
    switchOff(self);
    if (driver && claims > 0) driver->release();
    claims = 0;
    stopGuard();
    driver.reset();
    emulated = false;
    watch.driver = nullptr;
    Unwatch(&watch);
    watch.powered = false;
  }
  // The port text the guard reaches this driver by; "" for one it cannot
  // reach (handed in by setDriver: tests and benchmarks).
  std::string guardPort() const {
    if (!driver || fixedDriver) return {};
    switch (choice.kind) {
      case PortChoice::Emulator:
        // The emulated chip dies with the program: its guard would only
        // append the switching off to the trace, so without one it has no work.
        return tracePath.empty() ? std::string() : "emulator:" + emulatorOptions;
      case PortChoice::Device:
        return choice.device;
      case PortChoice::Ftdi:
        if (std::string exact = driver->exactPortText(); !exact.empty()) return exact;
        return choice.usb.empty() ? "ftdi" : "ftdi:" + choice.usb;
      case PortChoice::Auto:
        break;
    }
    return "auto";
  }
  void stopGuard() {
    if (driverKeepsGuard && driver) driver->keepsGuardCopy(nullptr);
    driverKeepsGuard = false;
    watch.guardState = nullptr;
    guard.stop();
  }
  void takeDriver(std::unique_ptr<PortDriver> d) {
    driver = std::move(d);
    watch.driver = driver.get();
  }
};

void SetEmulatedPorts(const EmulatedPorts& ports) {
  Emulated() = ports;
}

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
  if (!hex.empty() && hex.size() <= 4 &&
      hex.find_first_not_of("0123456789abcdefABCDEF") == std::string::npos) {
    const unsigned long address = std::stoul(hex, nullptr, 16);
    if (address == 0 || address == 0xFFFF) {
      error = "port address " + text + " is out of range";
      return false;
    }
    base = static_cast<std::uint16_t>(address);
    choice = result;
    return true;
  }
  if (text.size() > 1 && text[0] == '/') {  // /dev/parportN, or a link to one
    result.kind = PortChoice::Device;
    result.device = text;
    choice = result;
    return true;
  }
  if (text == "emulator" || text.rfind("emulator:", 0) == 0) {
    result.kind = PortChoice::Emulator;
    result.emulatorOptions = text.size() > 9 ? text.substr(9) : std::string();
    if (Emulated().checkOptions && !Emulated().checkOptions(result.emulatorOptions, error))
      return false;
    choice = result;
    return true;
  }
  if (text == "ftdi" || text.rfind("ftdi:", 0) == 0 || text.rfind("ftdi@", 0) == 0) {
    result.kind = PortChoice::Ftdi;
    result.usb = text.size() > 4 ? text.substr(text[4] == ':' ? 5 : 4) : std::string();
    FtdiAddress address;
    if (!ParseFtdiAddress(result.usb, address, error)) return false;
    choice = result;
    return true;
  }
  error = "unknown port '" + text +
          "' (use a base address in hex such as 378 or D010, /dev/parportN, "
          "ftdi[:VID:PID[:SERIAL]][@PATH] or emulator[:OPTIONS])";
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
  d_->watch.owner = this;
  d_->watch.switchOff = [](PowerWatch& w) {
    auto* port = static_cast<Port*>(w.owner);
    port->d_->switchOff(*port);
  };
  // A process that ends by exit() while a flow has the lines powered (no
  // destructor of the flow's Port runs then) still leaves them unpowered.
  static const bool atExit = std::atexit(SwitchOffPoweredPorts) == 0;
  (void)atExit;
  d_->choice = PortChoiceFromEnvironment();
  if (const char* path = std::getenv("ZK7_PORT_TRACE"); path && *path) {
    // A debugging aid asked for by environment: say so on stderr if it cannot work.
    std::string error;
    if (!setTraceFile(path, error)) std::fprintf(stderr, "zk7: %s\n", error.c_str());
  }
}

Port::~Port() {
  d_->dropDriver(*this);
  d_->closeTrace();
}

void Port::setChoice(const PortChoice& c) {
  d_->choice = c;
}
const PortChoice& Port::choice() const {
  return d_->choice;
}

void Port::setSystem(const PortSystem& system) {
  d_->system = system;
}
const PortSystem& Port::system() const {
  return d_->system;
}

void Port::setDriver(std::unique_ptr<PortDriver> driver) {
  d_->dropDriver(*this);
  d_->fixedDriver = driver != nullptr;
  d_->takeDriver(std::move(driver));
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
    d_->dropDriver(*this);
    d_->problem = c.problem;
    return;
  }
  std::string error;
  switch (c.kind) {
    case PortChoice::Emulator: {
      // The emulated adapter answers at whichever address is chosen; its chip
      // (and the simulated USB adapter it may sit behind) keeps its memory
      // across address changes.
      if (d_->emulated && d_->emulatorOptions == c.emulatorOptions) return;
      d_->dropDriver(*this);
      if (Emulated().open)
        d_->takeDriver(Emulated().open(c.emulatorOptions, error));
      else
        error = "this program has no emulated chip";
      d_->emulated = d_->driver != nullptr;
      d_->emulatorOptions = c.emulatorOptions;
      if (!d_->driver) d_->problem = error;
      return;
    }
    case PortChoice::Device: {
      // The address shown and traced is the device's own, found by its
      // device number (a link to a /dev/parportN works too).
      const PpdevPort found = InspectPpdevDevice(c.device, d_->system);
      if (found.base.value_or(0) != 0) d_->base = base = *found.base;
      d_->dropDriver(*this);
      if (found.refusal.empty()) d_->takeDriver(OpenPpdev(c.device, base, d_->system, error));
      if (d_->driver) return;
      if (!found.refusal.empty()) error = found.refusal;
      // A device that is no parallel port carries its own advice.
      const bool notAPort = !found.refusal.empty() && found.systemError == 0;
      d_->problem = "Cannot reach the parallel port at " + PortAddressText(base) + ": " + error +
                    "." + (notAPort ? "" : FixHint(error));
      return;
    }
    case PortChoice::Ftdi:
      // The adapter has no I/O address; it is opened afresh (and checked) each time.
      d_->dropDriver(*this);
      d_->takeDriver(OpenFtdi(c.usb, error));
      if (!d_->driver) d_->problem = "Cannot reach the USB adapter: " + error;
      return;
    case PortChoice::Auto: {
      d_->dropDriver(*this);
      std::string reasons;
      const std::string device = PpdevDeviceForBase(base, d_->system, error);
      if (!device.empty()) d_->takeDriver(OpenPpdev(device, base, d_->system, error));
      if (d_->driver) return;
      reasons = error;
      d_->takeDriver(OpenDirectIO(base, d_->system, error));
      if (d_->driver) return;
      reasons += "; " + error;
      d_->problem = "Cannot reach the parallel port at " + PortAddressText(base) + ": " + reasons +
                    "." + FixHint(reasons);
      return;
    }
  }
}

bool Port::claim(std::string& error) {
  if (d_->claims == 0 && d_->driver && !d_->driver->claim(error)) return false;
  ++d_->claims;
  return true;
}

bool Port::claimGuarded(std::string& error, bool* guardFailed) {
  if (guardFailed) *guardFailed = true;
  const std::string target = d_->guardPort();
  if (d_->guard.running() && !d_->guard.alive(error)) return false;
  if (!target.empty() && !d_->guard.running()) {
    const std::uint8_t lines = d_->watch.powered ? d_->watch.last : kLinesOff;
    if (!d_->guard.start({target, d_->base, d_->tracePath}, lines, error)) {
      error =
          "The guard that switches the programmer lines off should this program die could "
          "not be started, so nothing was powered: " +
          error;
      if (guardFailed) *guardFailed = true;
      return false;
    }
    d_->watch.guardState = d_->guard.state();
    d_->driverKeepsGuard = d_->driver && d_->driver->keepsGuardCopy(d_->guard.state());
  }
  if (guardFailed) *guardFailed = false;
  if (claim(error)) return true;
  if (d_->claims == 0) d_->stopGuard();
  return false;
}

bool Port::guardEnded() const {
  return d_->guard.ended();
}

void Port::release() {
  if (d_->claims == 0 || --d_->claims > 0) return;
  d_->switchOff(*this);
  if (d_->driver) d_->driver->release();
  d_->stopGuard();  // after the port is free, in case the guard has to take it
}

std::uint16_t Port::base() const {
  return d_->base;
}

const std::string& Port::accessProblem() const {
  // A problem found when the port was opened stays; a driver's own problem is
  // asked afresh, so one that went away (a chip file saved again) goes too.
  if (!d_->problem.empty() || !d_->driver) return d_->problem;
  d_->driverProblem = d_->driver->problem();
  return d_->driverProblem;
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
  d_->beforeWrite(port, value);
  if (d_->driver) d_->driver->write(port, value);
  if (d_->trace) std::fprintf(d_->trace, "W %X %02X\n", port, value);
  d_->noteWrite(port, value);
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
  for (std::uint8_t value : batch.writes) d_->beforeWrite(port, value);
  if (d_->driver) d_->driver->exchange(port, batch, samples);
  samples.resize(batch.sampleAfter.size(), 0xFF);
  batch.walk(
      [&](std::uint8_t value) {
        if (d_->trace) std::fprintf(d_->trace, "W %X %02X\n", port, value);
        d_->noteWrite(port, value);
      },
      [&](std::size_t k) {
        if (d_->trace) std::fprintf(d_->trace, "R %X %02X\n", port + 1, samples[k]);
      });
  return samples;
}

void Port::flush() {
  if (d_->driver) d_->driver->flush();
}

bool Port::setTraceFile(const std::string& path, std::string& error) {
  d_->closeTrace();
  d_->tracePath.clear();
  if (path.empty()) return true;
  d_->trace = std::fopen(path.c_str(), "a");
  if (!d_->trace) {
    error = "ZK7_PORT_TRACE: cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  // One line per access, each on disk as soon as it is complete.
  std::setvbuf(d_->trace, nullptr, _IOLBF, 0);
  d_->watch.traceFd = fileno(d_->trace);
  d_->tracePath = path;
  return true;
}

std::vector<PortCandidate> DiscoverPorts(const PortSystem& system) {
  std::vector<PortCandidate> ports = DiscoverParallelPorts(system);
  for (PortCandidate& usb : DiscoverFtdiPorts()) ports.push_back(std::move(usb));
  return ports;
}

}  // namespace zk7
