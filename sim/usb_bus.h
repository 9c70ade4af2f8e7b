// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// A USB host controller and its bus for simulated devices (sim/ftdi_device.h):
// one transport of the silicon model. It carries control transfers and bulk
// transfers the way a controller does, packet by packet: full speed in 1 ms
// frames of 19 bulk packets, IN and OUT sharing them; high speed in 125 us
// microframes of 13. A pending IN transfer polls its endpoint, so a packet
// leaves as soon as the device offers one; a transfer ends on a short packet
// or its length, and the host sees it a little later (the kernel's and
// libusb's share of a round trip).
//
// Time is the host's clock: virtual (it moves only when the host waits, so
// tests and benchmarks are exact and instant) or the machine's monotonic
// clock. Either way the bus runs behind the host and catches up each time
// the host looks, as hardware runs while a program sleeps.
//
// The tests' libusb stand-in (sim/libusb_standin.cpp) serves the bus made
// last, so the real libftdi drives these devices; the emulator's usb= port
// drives them directly. Besides the device it models what the host adds: an
// interface claimed by another program (or by a dead one until the kernel
// closed its files), the kernel's serial driver (bound at plug-in, detached
// while a program claims the interface, and a program opening the serial
// port and writing to it), permissions, and transfer faults.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "port/ftdi_clock.h"
#include "sim/emulator.h"
#include "sim/ftdi_device.h"

namespace zk7::sim {

// libusb's transfer statuses, in its order.
enum class TransferStatus { Completed, Error, TimedOut, Cancelled, Stall, NoDevice, Overflow };

struct BusTransfer {
  int device = -1;
  std::uint8_t endpoint = 0;  // 0x02: OUT; 0x81: IN
  std::uint8_t* buffer = nullptr;
  int length = 0;
  std::int64_t timeoutNs = 0;   // 0: none
  const void* owner = nullptr;  // whose waits report it (a libusb context)
  // Set by the bus.
  int actual = 0;
  TransferStatus status = TransferStatus::Completed;
  bool inFlight = false;
  bool done = false;  // finished on the bus; the host sees it at seenNs
  std::int64_t seenNs = 0;
  std::int64_t submittedNs = 0;
  bool failAfterData = false;
  int number = 0;  // of a bulk OUT transfer, from plug-in
};

// libusb's error codes, in its numbering.
enum BusError {
  kBusOk = 0,
  kBusIo = -1,
  kBusAccess = -3,
  kBusNoDevice = -4,
  kBusNotFound = -5,
  kBusBusy = -6,
  kBusTimeout = -7,
  kBusPipe = -9,
};

class UsbBus : public HostClock {
 public:
  enum class Time { Virtual, Real };
  // serveLibusb false: a bus of its own that the libusb stand-in never sees.
  explicit UsbBus(Time time = Time::Virtual, bool serveLibusb = true);
  ~UsbBus() override;
  UsbBus(const UsbBus&) = delete;
  UsbBus& operator=(const UsbBus&) = delete;
  // The bus the libusb stand-in serves: the last one made that still lives;
  // nullptr for none (a machine without USB adapters).
  static UsbBus* current();

  std::int64_t nowNs() override;
  void sleepUntilNs(std::int64_t ns) override;
  bool virtualTime() const { return time_ == Time::Virtual; }

  // Plugs device in at a port path (bus number, then port numbers: 1-2.3 is
  // {1, {2, 3}}); a high-speed chip on a full-speed port runs at full speed.
  // Returns its number on this bus.
  int plug(FtdiDevice& device, int busNumber = 1, std::vector<std::uint8_t> ports = {1},
           bool highSpeedPort = true);
  // Unplugged: every transfer ends with NoDevice; plugged in again it has a new address.
  void unplug(int id);
  void plugIn(int id);
  int devices() const { return static_cast<int>(slots_.size()); }
  FtdiDevice& device(int id) { return *slots_[id].device; }
  bool plugged(int id) const { return slots_[id].plugged; }
  bool highSpeed(int id) const;
  int busNumber(int id) const { return slots_[id].busNumber; }
  int address(int id) const { return slots_[id].address; }
  const std::vector<std::uint8_t>& ports(int id) const { return slots_[id].ports; }

  // What the host adds. Opening the device node is refused (no udev rule);
  // another program holds the interface until ns (a dead program's claim
  // lingers until the kernel has closed its files); transfer faults counted
  // in bulk OUT transfers from plug-in: each of failAt completes with an
  // error once its bytes reached the device, unplugAt loses the device halfway, and
  // the echo faults strike the device at echoAt (lost: its bit mode).
  void setAccess(int id, bool allowed) { slots_[id].access = allowed; }
  void holdClaim(int id, std::int64_t untilNs) { slots_[id].heldUntil = untilNs; }
  struct Faults {
    std::vector<int> failAt;
    int unplugAt = 0;
    enum Echo { None, Late, Stuck, Lost } echo = None;
    int echoAt = 1;
  };
  void setFaults(int id, const Faults& f) { slots_[id].faults = f; }
  // The emulator's usb-... options as faults.
  static Faults faultsOf(const UsbEmulation& usb);
  // The host's share of each transfer: before its first packet and after its
  // last (the kernel and libusb); a full-speed default of 10 and 50 us.
  void setHostLatency(std::int64_t submitNs, std::int64_t reapNs);

  // The kernel's serial driver and a program using /dev/ttyUSBn: opening it
  // resets the port and sets 9600 8N1 and asserts DTR and RTS, as ftdi_sio
  // does (no bit-mode request); writing sends the bytes and waits until they
  // could have left; closing drops DTR and RTS. False while a program holds
  // the interface (the driver is detached then).
  bool serialOpen(int id);
  bool serialWrite(int id, const std::string& bytes);
  void serialClose(int id);

  // What libusb does, for the stand-in and the emulator's port.
  int open(int id);  // kBusOk, kBusAccess or kBusNoDevice
  int claim(int id, const void* owner, bool detachKernelDriver);
  void release(int id, const void* owner, bool reattachKernelDriver);
  bool kernelDriverBound(int id) const { return slots_[id].kernelBound; }
  // A control transfer; the bytes answered or taken, or a BusError.
  int control(int id, const UsbSetup& setup, std::uint8_t* data, int timeoutMs);
  int submit(BusTransfer& t);
  int cancel(BusTransfer& t);
  // Drops t wherever the bus holds it (a transfer freed in flight).
  void forget(BusTransfer& t);
  // Runs the bus to now and, when none of owner's transfers has ended yet,
  // waits on the clock up to timeoutNs for one to; returns those that ended
  // (in order), each once. A zero timeout is a poll: it counts in busyPolls()
  // and, on the virtual clock, costs the host 2 us.
  std::vector<BusTransfer*> wait(const void* owner, std::int64_t timeoutNs);
  // Brings every device up to now (the pins of a device nobody talks to still change).
  void catchUp();

  // Counts, per device from plug-in: bulk OUT transfers, claims and releases;
  // for the whole bus: polls that found nothing.
  int transfers(int id) const { return slots_[id].outTransfers; }
  int claims(int id) const { return slots_[id].claims; }
  int releases(int id) const { return slots_[id].releases; }
  long busyPolls() const { return busyPolls_; }

 private:
  struct Slot {
    FtdiDevice* device = nullptr;
    int busNumber = 1;
    std::vector<std::uint8_t> ports;
    int address = 0;
    bool highSpeedPort = true;
    bool plugged = true;
    bool access = true;
    bool kernelBound = true;
    const void* claimedBy = nullptr;
    std::int64_t heldUntil = 0;
    Faults faults;
    std::vector<BusTransfer*> pending;
    std::size_t turn = 0;
    std::int64_t linkNs = 0;  // the bus has run to here
    int outTransfers = 0, claims = 0, releases = 0;
    std::vector<BusTransfer*> serialDone;
  };
  std::int64_t slotNs(const Slot& s) const;
  void run(Slot& s, std::int64_t until, bool stopAtEnd);
  void finish(Slot& s, BusTransfer& t, std::int64_t at, TransferStatus status);
  void lose(Slot& s, std::int64_t at);
  bool transact(Slot& s, BusTransfer& t, std::int64_t at);

  Time time_;
  std::int64_t virtualNs_ = 0;
  std::int64_t submitNs_ = 10000, reapNs_ = 50000;
  std::vector<Slot> slots_;
  std::vector<BusTransfer*> ended_;
  int nextAddress_ = 2;
  long busyPolls_ = 0;
  bool served_;
  UsbBus* previous_ = nullptr;
};

}  // namespace zk7::sim
