// The real parallel-port drivers: Linux ppdev and direct I/O.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "programmer/port.h"

namespace zk7 {

// The /dev/parportN whose base address (from procRoot/parportN/base-addr,
// decimal) is base, or "" with why in error.
std::string PpdevDeviceForBase(std::uint16_t base, std::string& error,
                               const std::string& procRoot = "/proc/sys/dev/parport");

// Opens and claims the ppdev device; nullptr with the system's reason in error.
std::unique_ptr<PortDriver> OpenPpdev(const std::string& device, std::string& error);

// Gains access to exactly base and base + 1 by ioperm; nullptr with the reason
// in error (also on machines without port I/O instructions).
std::unique_ptr<PortDriver> OpenDirectIO(std::uint16_t base, std::string& error);

}  // namespace zk7
