// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The bottom of the port layer: the interface every driver implements (one
// byte in or out at an I/O address, batches, capabilities, claim and release)
// and where the machine's ports are found. It includes no driver.
#pragma once

#include <atomic>
#include <cstdint>
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
  // Status bits 7, 5 and 4, which the cable check reads, exist.
  bool cableCheck = true;
  // The port sits at the chosen I/O address (a USB adapter has none).
  bool ioAddress = true;
  // The chip is the emulated one, so checks are titled for it.
  bool emulated = false;
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
  // Told before every wait of ms, so the emulated chip can follow time
  // without a real clock when tests inject one, and a driver that queues
  // (USB) can send what is queued and prove the wait. Others ignore it.
  virtual void waited(int /*ms*/) {}
  // A chip's sequence begins: the flows of one command, or one production
  // chip's check and burn. Nothing for a real port; the emulated socket reads
  // its chip file again here, so a file replaced or deleted between chips is
  // another chip inserted.
  virtual void sequenceStarts() {}
  // Empty while the driver works; otherwise what went wrong (the first failure).
  virtual std::string problem() const { return {}; }
  // Empty normally; otherwise something about a port that works but puts the
  // chip at risk, with the fix (the printer driver lp sharing it).
  virtual std::string warning() const { return {}; }
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
  // A driver whose writes wait in a queue keeps the guard's copy of the lines
  // (port/guard.h) itself, storing into copy (nullptr: no guard any more) what
  // may be at the pins: a powering byte as soon as it is queued, any other
  // only once the pins are proven to show it. True when it does; the port
  // keeps the copy of a driver whose writes reach the pins at once.
  virtual bool keepsGuardCopy(std::atomic<std::uint8_t>* /*copy*/) { return false; }
  // The port text that reaches this very device again, for the guard (a USB
  // adapter by its serial number and the USB port it is plugged into); ""
  // when the text the port was chosen by does.
  virtual std::string exactPortText() const { return {}; }
};

class PpdevCalls;
class DirectIOCalls;

// Where the port layer finds the machine's parallel ports and how it reaches
// ppdev and the I/O ports; tests point it at a fake tree and fake devices.
struct PortSystem {
  std::string procRoot = "/proc/sys/dev/parport";
  std::string devRoot = "/dev";  // devRoot/parportN, devRoot/port
  PpdevCalls* ppdev = nullptr;   // nullptr: the real system calls
  // How long a claim may wait inside the kernel for a port another program
  // took an instant before. Every other ppdev program on the machine stands
  // still as long (the kernel serves all ppdev calls under one lock, held
  // while a claim waits), so this stays a few tens of milliseconds.
  int claimTimeoutMs = 30;
  // Shows whether the kernel's lockdown refuses direct I/O.
  std::string lockdownFile = "/sys/kernel/security/lockdown";
  DirectIOCalls* directIO = nullptr;  // nullptr: the real port instructions
  // Every device registered on a port, as links NAME.N into the port's
  // folder; procRoot lists only the first one registered on a port.
  std::string sysRoot = "/sys/bus/parport/devices";
};

}  // namespace zk7
