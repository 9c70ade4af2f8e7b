// The port layer: one byte in or out at an I/O address, through a driver
// (Linux ppdev, direct I/O, or the emulated adapter and chip), with an
// optional trace of every access.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zk7 {

class PortDriver {
 public:
  virtual ~PortDriver() = default;
  // One status-register read at address (base + 1).
  virtual std::uint8_t read(std::uint16_t address) = 0;
  // One data-register write at address (base); returns when the pins are set.
  virtual void write(std::uint16_t address, std::uint8_t value) = 0;
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
  enum Kind { Auto, Device, Emulator } kind = Auto;
  std::string device;           // Device: "/dev/parportN" (any absolute path)
  std::string emulatorOptions;  // Emulator: text after "emulator:" (chip file, faults)
  // Set when the choice could not be understood (e.g. a bad ZK7_PORT): open()
  // then reaches nothing and reports this as the access problem.
  std::string problem;
};

// Parses a base address in hexadecimal ("378", "0xD010", "D010"), a device
// path ("/dev/parportN" or any absolute path), "emulator[:OPTIONS]", "auto". Returns false and sets
// error for anything else; base gets the address for the hexadecimal form and is left alone
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
  // At the outermost release a port whose lines are still powered (VPP or VDD
  // on) first leaves programming mode: VPP off, VDD off, nPRG off. The
  // destructor and the end of the process (exit) do the same.
  void release();
  std::uint16_t base() const;
  // Empty when the port is reachable.
  const std::string& accessProblem() const;
  // Status-bar text: "0x378 · /dev/parport0" and the like.
  std::string description() const;

  std::uint8_t DlPortReadPortUchar(std::uint16_t port);
  void DlPortWritePortUchar(std::uint16_t port, std::uint8_t value);
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
