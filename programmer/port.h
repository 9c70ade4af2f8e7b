// The port layer: one byte in or out at an I/O address, through a driver
// (Linux ppdev, direct I/O, a USB bit-bang adapter, or the emulated adapter
// and chip), with an optional trace of every access.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zk7 {

// Data-register writes with status-register samples between them, handed to
// a driver at once so that one behind USB can send them in one transfer.
struct PortBatch {
  std::vector<std::uint8_t> writes;
  // Sample k is a status read taken once the first sampleAfter[k] writes are
  // applied; non-decreasing. Samples past the last write are taken at the end.
  std::vector<std::size_t> sampleAfter;

  // Walks the batch in port order: onWrite(value) per write, onSample(k) per sample.
  template <typename OnWrite, typename OnSample>
  void walk(OnWrite onWrite, OnSample onSample) const {
    std::size_t k = 0;
    for (std::size_t i = 0; i <= writes.size(); ++i) {
      for (; k < sampleAfter.size() && (sampleAfter[k] <= i || i == writes.size()); ++k)
        onSample(k);
      if (i < writes.size()) onWrite(writes[i]);
    }
  }
};

// What a driver can and cannot do, as data; the defaults describe a parallel port.
struct PortCapabilities {
  // waited(ms) keeps the lines still for ms at the pins themselves, so the
  // host need not sleep (a USB adapter clocks its pins from its own crystal).
  bool pinTimeWaits = false;
  // Status bits 7, 5 and 4, which the cable check reads, exist.
  bool cableCheck = true;
  // The port sits at the chosen I/O address (a USB adapter has none).
  bool ioAddress = true;
};

class PortDriver {
 public:
  virtual ~PortDriver() = default;
  // One status-register read at address (base + 1); every earlier write is
  // applied before the sample is taken.
  virtual std::uint8_t read(std::uint16_t address) = 0;
  // One data-register write at address (base). Writes reach the pins in
  // order, at the latest before the next read, exchange, wait or flush.
  virtual void write(std::uint16_t address, std::uint8_t value) = 0;
  // The batch's writes at address and its samples at address + 1, in order;
  // appends one status byte per sample. By default one call per access.
  virtual void exchange(std::uint16_t address, const PortBatch& batch,
                        std::vector<std::uint8_t>& samples) {
    batch.walk([&](std::uint8_t value) { write(address, value); },
               [&](std::size_t) { samples.push_back(read(address + 1)); });
  }
  // Returns once every write so far has reached the pins.
  virtual void flush() {}
  virtual PortCapabilities capabilities() const { return {}; }
  // What the status bar shows after the address: "/dev/parport0", "direct I/O",
  // "emulated chip", "not accessible".
  virtual std::string name() const = 0;
  // Waits are routed to the driver too, so the emulated chip can follow time
  // without a real clock when tests inject one. Real drivers ignore it.
  virtual void waited(int /*ms*/) {}
  // Empty while the driver works; otherwise what went wrong (the first failure).
  virtual std::string problem() const { return {}; }
  // Takes the port for a span of use (a flow, the cable check) and gives it
  // back, so other programs can use it in between. claim returns false with
  // why; drivers with nothing to take (emulator, direct I/O) return true.
  virtual bool claim(std::string& /*error*/) { return true; }
  virtual void release() {}
  // One data-register write made with async-signal-safe calls only, for the
  // last-resort power-off from a crash handler; false where it cannot be done.
  virtual bool writeInSignalHandler(std::uint16_t /*address*/, std::uint8_t /*value*/) {
    return false;
  }
};

class PpdevCalls;

// Where the port layer finds the machine's parallel ports and how it reaches
// ppdev; tests point it at a fake tree and a fake device.
struct PortSystem {
  std::string procRoot = "/proc/sys/dev/parport";
  std::string devRoot = "/dev";
  PpdevCalls* ppdev = nullptr;  // nullptr: the real system calls
  // How long a claim may wait for a port another program holds.
  int claimTimeoutMs = 1000;
  // Shows whether the kernel's lockdown refuses direct I/O.
  std::string lockdownFile = "/sys/kernel/security/lockdown";
};

// Which driver the port layer uses.
struct PortChoice {
  enum Kind { Auto, Device, Emulator, Ftdi } kind = Auto;
  std::string device;           // Device: "/dev/parportN" (any absolute path)
  std::string emulatorOptions;  // Emulator: text after "emulator:" (chip file, faults)
  std::string usb;              // Ftdi: "VID:PID[:SERIAL]" after "ftdi:"; "" for the default ids
  // Set when the choice could not be understood (e.g. a bad ZK7_PORT): open()
  // then reaches nothing and reports this as the access problem.
  std::string problem;
};

// Parses a base address in hexadecimal ("378", "0xD010", "D010"), a device
// path ("/dev/parportN" or any absolute path), "ftdi[:VID:PID[:SERIAL]]",
// "emulator[:OPTIONS]", "auto". Returns false and sets error for anything
// else; base gets the address for the hexadecimal form and is left alone
// otherwise.
bool ParsePortChoice(const std::string& text, PortChoice& choice, std::uint16_t& base,
                     std::string& error);
// The choice named by the environment variable ZK7_PORT (Auto when unset).
PortChoice PortChoiceFromEnvironment();

class Port {
 public:
  Port();
  ~Port();
  Port(const Port&) = delete;
  Port& operator=(const Port&) = delete;

  // Chooses how the port is reached. Auto tries ppdev, then direct I/O; never
  // the emulator. Takes effect at the next open().
  void setChoice(const PortChoice& choice);
  const PortChoice& choice() const;
  // Takes effect at the next open().
  void setSystem(const PortSystem& system);
  const PortSystem& system() const;
  // Uses this driver for every address (tests, benchmarks).
  void setDriver(std::unique_ptr<PortDriver> driver);
  PortDriver* driver() const;

  // Selects the port at base (0x378, 0xD010, ...) and checks that a driver
  // can reach it, claiming nothing. With a /dev/parportN choice the base
  // becomes that device's own, as the kernel lists it. When none can, accessProblem() says which
  // address, why and what fixes it; reads then give 0xFF and writes go nowhere.
  void open(std::uint16_t base);
  // Takes the port for a span of use and gives it back (nested calls are
  // counted). False with why, for example "0x378 (/dev/parport0) is in use by
  // another program", within claimTimeoutMs. A port that cannot be reached at
  // all claims nothing and returns true: its reads give 0xFF as before.
  bool claim(std::string& error);
  // At the outermost release a port whose lines are still powered (VPP, VDD or
  // nPRG on) first leaves programming mode: VPP off, VDD off, nPRG off. The
  // destructor and the end of the process (exit) do the same.
  void release();
  std::uint16_t base() const;
  // Empty when the port is reachable.
  const std::string& accessProblem() const;
  // Status-bar text: "0x378 · /dev/parport0", "USB · FT232R A1B2C3D4" and the like.
  std::string description() const;
  // The driver's (a parallel port's when none is open).
  PortCapabilities capabilities() const;

  std::uint8_t DlPortReadPortUchar(std::uint16_t port);
  void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value);
  // The batch through the driver; one status byte per sample (0xFF without a
  // driver). The trace gets the same W and R lines as single accesses would.
  std::vector<std::uint8_t> exchange(std::uint16_t port, const PortBatch& batch);
  // Returns once every write so far has reached the pins.
  void flush();
  // Records a wait in the trace and tells the driver.
  void noteDelay(int ms);

  // Appends every access and wait to this file ("" stops tracing). The
  // constructor starts it from the environment variable ZK7_PORT_TRACE.
  bool setTraceFile(const std::string& path, std::string& error);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

// Switches every port whose lines are powered off with async-signal-safe calls
// only (crash handlers, std::terminate); true when one was powered.
bool SwitchOffPoweredPortsFromSignalHandler();

}  // namespace zk7
