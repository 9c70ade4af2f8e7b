// The real parallel-port drivers: Linux ppdev and direct I/O.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "port/driver.h"

namespace zk7 {

// The system calls ppdev is reached through, behind a seam so tests can
// stand in a device that refuses or blocks the claim. Each behaves as the
// system call of its name: -1 with errno on failure.
class PpdevCalls {
 public:
  virtual ~PpdevCalls() = default;
  virtual int open(const std::string& path, int flags);
  // Must stay async-signal-safe for PPWDATA (the crash handler's power-off).
  virtual int ioctl(int fd, unsigned long request, void* arg);
  virtual int close(int fd);
};
PpdevCalls& SystemPpdevCalls();

// The devRoot/parportN whose base address (from procRoot/parportN/base-addr,
// decimal) is base, or "" with why in error.
std::string PpdevDeviceForBase(std::uint16_t base, std::string& error,
                               const std::string& procRoot = "/proc/sys/dev/parport",
                               const std::string& devRoot = "/dev");

// Checks that the ppdev device can be opened and returns its driver, which
// takes the port only between claim() and release(): it asks for exclusive
// access (and goes on shared, saying so in its name, where the kernel refuses
// it), claims with a deadline of system.claimTimeoutMs, then sets
// compatibility mode with the data lines driven. A port another program
// holds is refused as "0x378 (/dev/parport0) is in use by another program",
// naming the holder from procRoot/parportN/devices/active when known.
// nullptr with the system's reason in error when the device cannot be opened.
std::unique_ptr<PortDriver> OpenPpdev(const std::string& device, std::uint16_t base,
                                      const PortSystem& system, std::string& error);

// Gains access to exactly base and base + 1 by ioperm; nullptr with the reason
// in error (also on machines without port I/O instructions).
std::unique_ptr<PortDriver> OpenDirectIO(
    std::uint16_t base, std::string& error,
    const std::string& lockdownFile = "/sys/kernel/security/lockdown");
// The reason for a refused ioperm (errno error): a refusal by the kernel's
// lockdown, seen in lockdownFile ("[integrity]", "[confidentiality]") or as
// EPERM for root, says so rather than asking for root.
std::string DirectIORefusal(std::uint16_t base, int error, const std::string& lockdownFile);

}  // namespace zk7
