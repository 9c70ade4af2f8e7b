// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/watch.h"

#include <unistd.h>

#include <atomic>

#include "port/protocol.h"

namespace zk7 {
namespace {

std::array<std::atomic<PowerWatch*>, 8> gPowered{};

// "W 378 64" as the trace writes it, with write(2) only.
void TraceRaw(int fd, std::uint16_t address, std::uint8_t value) {
  static const char kHex[] = "0123456789ABCDEF";
  char line[16];
  int n = 0;
  line[n++] = 'W';
  line[n++] = ' ';
  bool digits = false;
  for (int shift = 12; shift >= 0; shift -= 4) {
    const int d = (address >> shift) & 0xF;
    if (d || digits || shift == 0) {
      line[n++] = kHex[d];
      digits = true;
    }
  }
  line[n++] = ' ';
  line[n++] = kHex[value >> 4];
  line[n++] = kHex[value & 0xF];
  line[n++] = '\n';
  (void)!write(fd, line, static_cast<std::size_t>(n));
}

}  // namespace

void Watch(PowerWatch* w) {
  for (auto& slot : gPowered) {
    PowerWatch* empty = nullptr;
    if (slot.compare_exchange_strong(empty, w)) return;
  }
}

void Unwatch(PowerWatch* w) {
  for (auto& slot : gPowered) {
    PowerWatch* mine = w;
    slot.compare_exchange_strong(mine, nullptr);
  }
}

std::array<std::uint8_t, 3> PowerOffSequence(std::uint8_t data) {
  const auto vppOff = static_cast<std::uint8_t>(data & ~kVppOnBit);
  const auto vddOff = static_cast<std::uint8_t>(vppOff | kVddOffBit);
  return {vppOff, vddOff, static_cast<std::uint8_t>(vddOff | kPrgOffBit)};
}

bool SwitchOffPoweredPortsFromSignalHandler() {
  bool any = false;
  for (auto& slot : gPowered) {
    PowerWatch* w = slot.exchange(nullptr);
    if (!w) continue;
    any = true;
    for (std::uint8_t b : PowerOffSequence(w->last)) {
      // A write that cannot be made here (USB) is left to the guard.
      if (w->driver && w->driver->writeInSignalHandler(w->address, b) && w->guardState)
        w->guardState->store(b);
      if (w->traceFd >= 0) TraceRaw(w->traceFd, w->address, b);
      w->last = b;
    }
    w->powered = false;
  }
  return any;
}

void SwitchOffPoweredPorts() {
  for (auto& slot : gPowered)
    if (PowerWatch* w = slot.load(); w && w->switchOff) w->switchOff(*w);
}

}  // namespace zk7
