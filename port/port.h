// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The top of the port layer: the port text a user gives ("378",
// "/dev/parport1", "ftdi", "emulator:...") turned into a driver, and the Port
// every flow goes through: one byte in or out at an I/O address, through that
// driver (Linux ppdev, direct I/O, a USB bit-bang adapter, or the emulated
// adapter and chip), with an optional trace of every access.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "port/discovery.h"
#include "port/driver.h"

namespace zk7 {

// Which driver the port layer uses.
struct PortChoice {
  enum Kind { Auto, Device, Emulator, Ftdi } kind = Auto;
  std::string device;           // Device: "/dev/parportN" or a link to one
  std::string emulatorOptions;  // Emulator: text after "emulator:" (chip file, faults)
  std::string usb;  // Ftdi: "VID:PID[:SERIAL][@PATH]" after "ftdi:"; "" for the default ids
  // Set when the choice could not be understood (e.g. a bad ZK7_PORT): open()
  // then reaches nothing and reports this as the access problem.
  std::string problem;
};

// Parses a base address in hexadecimal ("378", "0xD010", "D010"), a device
// path ("/dev/parportN"; any absolute path here, but open() refuses one that
// is no ppdev device), "ftdi[:VID:PID[:SERIAL]][@PATH]",
// "emulator[:OPTIONS]", "auto". Returns false and sets error for anything
// else; base gets the address for the hexadecimal form and is left alone
// otherwise.
bool ParsePortChoice(const std::string& text, PortChoice& choice, std::uint16_t& base,
                     std::string& error);
// The choice named by the environment variable ZK7_PORT (Auto when unset).
PortChoice PortChoiceFromEnvironment();

// The emulated adapter and chip live in sim/, a room above this one. A
// program that offers "--port emulator" links the zk7_sim_ports object,
// which hands these in before main. Without them the choice still parses
// (the guard only needs the kind) but reaches nothing.
struct EmulatedPorts {
  bool (*checkOptions)(const std::string& options, std::string& error) = nullptr;
  std::unique_ptr<PortDriver> (*open)(const std::string& options, std::string& error) = nullptr;
};
void SetEmulatedPorts(const EmulatedPorts& ports);

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
  // another program", at once or within claimTimeoutMs. A port that cannot be reached at
  // all claims nothing and returns true: its reads give 0xFF as before.
  bool claim(std::string& error);
  // claim for a span that may power the lines (the flows): first starts the
  // guard (port/guard.h), a separate process that switches the lines off
  // should this program die with them powered (kill -9 included); it ends at
  // the outermost release. A guard that cannot be started refuses the claim
  // with why, and nothing is claimed. A driver handed in by setDriver gets no
  // guard: the guard could not reach it, nor does the emulated chip without
  // a port trace (the guard would have nothing to do). A nested claimGuarded asks the
  // running guard whether it is still there. guardFailed, when given, tells
  // a refusal of the guard's from a port another program holds.
  bool claimGuarded(std::string& error, bool* guardFailed = nullptr);
  // True once the guard of the current claim has ended: the flow must stop
  // and switch the lines off itself. A cheap check for every wait.
  bool guardEnded() const;
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

// Every port of this machine, for the Port menu and 'zk7prog ports'.
std::vector<PortCandidate> DiscoverPorts(const PortSystem& system = PortSystem());

}  // namespace zk7
