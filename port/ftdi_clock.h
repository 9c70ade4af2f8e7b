// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The host's clock the USB driver proves its waits on: the machine's
// monotonic clock, or the virtual clock of the tests' simulated USB bus.
#pragma once

#include <cstdint>

namespace zk7 {

class HostClock {
 public:
  virtual ~HostClock() = default;
  virtual std::int64_t nowNs() = 0;
  // Returns at ns or later.
  virtual void sleepUntilNs(std::int64_t ns) = 0;
};

// CLOCK_MONOTONIC, which NTP slews by at most 500 ppm.
HostClock& MachineClock();

}  // namespace zk7
