// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The ports whose lines are powered now, kept where a signal handler can
// reach them, and the writes that switch such a port off.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "port/driver.h"

namespace zk7 {

// What switching one port off needs.
struct PowerWatch {
  PortDriver* driver = nullptr;
  int traceFd = -1;
  std::uint16_t address = 0;  // of the last data-register write
  std::uint8_t last = 0;      // its value
  bool powered = false;
  // The guard's copy of the lines (port/guard.h), kept with the writes that
  // reached the port; nullptr while no guard runs.
  std::atomic<std::uint8_t>* guardState = nullptr;
  // Switches the port off through its normal path (used at exit, not from a
  // signal handler); owner is what it needs to do so.
  void (*switchOff)(PowerWatch&) = nullptr;
  void* owner = nullptr;
};

// Adds w to the powered ports / takes it out again (lock-free).
void Watch(PowerWatch* w);
void Unwatch(PowerWatch* w);

// The writes that leave programming mode from data, in the flows' order:
// VPP off, VDD off, nPRG off (from 0x6C: 0x64, 0x74, 0xF4).
std::array<std::uint8_t, 3> PowerOffSequence(std::uint8_t data);

// Switches every port whose lines are powered off with async-signal-safe calls
// only (crash handlers, std::terminate); true when one was powered.
bool SwitchOffPoweredPortsFromSignalHandler();
// Switches every powered port off through its own switchOff (the end of the process).
void SwitchOffPoweredPorts();

}  // namespace zk7
