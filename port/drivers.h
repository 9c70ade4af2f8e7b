// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The real parallel-port drivers: Linux ppdev and direct I/O. Both are usable
// from a small process of their own (a guard that switches the lines off).
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "port/driver.h"

namespace zk7 {

// The system calls ppdev is reached through, behind a seam so tests can
// stand in the kernel's parallel-port layer. Each behaves as the system call
// of its name: -1 with errno on failure.
class PpdevCalls {
 public:
  virtual ~PpdevCalls() = default;
  virtual int open(const std::string& path, int flags);
  // Must stay async-signal-safe for PPWDATA (the crash handler's power-off).
  virtual int ioctl(int fd, unsigned long request, void* arg);
  virtual int close(int fd);
  // stat(2), following links: a device's number says what it is.
  virtual int stat(const std::string& path, struct stat* st);
};
PpdevCalls& SystemPpdevCalls();

// The port instructions and /dev/port that direct I/O uses, behind a seam so
// tests can stand in a machine. ioperm grants access to the calling thread
// only (threads started before it have none); /dev/port works from any
// thread, and pwrite on it is async-signal-safe.
class DirectIOCalls {
 public:
  virtual ~DirectIOCalls() = default;
  virtual int ioperm(unsigned long from, unsigned long count, int on);
  virtual std::uint8_t inb(std::uint16_t address);
  virtual void outb(std::uint8_t value, std::uint16_t address);
  virtual int open(const char* path, int flags);
  virtual ssize_t pread(int fd, void* buffer, std::size_t count, off_t offset);
  virtual ssize_t pwrite(int fd, const void* buffer, std::size_t count, off_t offset);
  virtual int close(int fd);
};
DirectIOCalls& SystemDirectIOCalls();

// The devRoot/parportN whose base address (from procRoot/parportN/base-addr,
// decimal) is base, or "" with why in error (naming the addresses the
// kernel's ports have, when it has any).
std::string PpdevDeviceForBase(std::uint16_t base, const PortSystem& system, std::string& error);

// What a device path names, told by its device number, so that a link to a
// /dev/parportN finds its port too.
struct PpdevPort {
  std::string name;                   // the kernel's port ("parport1"); "" if none
  std::optional<std::uint16_t> base;  // as procRoot lists it; 0 for a USB bridge
  // Empty when the path can drive the programmer; otherwise why not: it
  // cannot be looked at (systemError is then its errno), it is no ppdev
  // device ("/dev/null is not a parallel port (ppdev) device"; a USB printer
  // adapter is named as such), or its port is a USB-to-parallel bridge.
  std::string refusal;
  int systemError = 0;
};
PpdevPort InspectPpdevDevice(const std::string& device, const PortSystem& system);

// Checks that device is a ppdev device on a port with an I/O address and that
// it can be opened, and returns its driver, which takes the port only between
// claim() and release(). A port another program holds (by
// procRoot/parportN/devices/active) is refused at once as "0x378
// (/dev/parport0) is in use by another program (kernel device ppdev0: pptool,
// pid 412)"; otherwise the claim
// waits at most system.claimTimeoutMs (the kernel has no claim that does not
// wait, and every ppdev program waits with it), reopening the device after an
// early interruption. Exclusive access is asked for until the kernel refuses
// it once or another driver is registered on the port; the driver then goes
// on shared, and its name and warning() say so (naming lp and its fix). Once
// claimed the port is in compatibility mode with the data lines driven.
// nullptr with the reason in error when the device cannot be used.
std::unique_ptr<PortDriver> OpenPpdev(const std::string& device, std::uint16_t base,
                                      const PortSystem& system, std::string& error);

// Gains access to the port at base (data, status and control registers, and
// the ECR at base + 0x402) for the calling thread and opens devRoot/port, so
// the lines can be switched off from any thread. Refused at a base the kernel
// lists in procRoot (its driver owns the port: use ppdev), and when either
// cannot be had. Each claim puts the port into compatibility mode with the
// data lines driven (control register, and the ECR where there is one)
// before the first write. nullptr with the reason in error.
std::unique_ptr<PortDriver> OpenDirectIO(std::uint16_t base, const PortSystem& system,
                                         std::string& error);
// The same on the real machine, with the lockdown shown by lockdownFile.
std::unique_ptr<PortDriver> OpenDirectIO(
    std::uint16_t base, std::string& error,
    const std::string& lockdownFile = "/sys/kernel/security/lockdown");
// The reason for a refused ioperm (errno error): a refusal by the kernel's
// lockdown, seen in lockdownFile ("[integrity]", "[confidentiality]") or as
// EPERM for root, says so rather than asking for root; a kernel built without
// port I/O (ENOSYS) points to ppdev.
std::string DirectIORefusal(std::uint16_t base, int error, const std::string& lockdownFile);

}  // namespace zk7
