// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Linked into a program (as an object, so it is never dropped), this hands
// the emulated adapter and chip to the port layer before main runs: the
// program then offers "--port emulator" and "emulator:OPTIONS".
#include "port/port.h"
#include "sim/emulator.h"
#include "sim/ftdi_sim.h"

namespace zk7 {
namespace {

bool CheckEmulatorOptions(const std::string& text, std::string& error) {
  EmulatorOptions options;
  return ParseEmulatorOptions(text, options, error);
}

const bool kInstalled = [] {
  SetEmulatedPorts({&CheckEmulatorOptions, &OpenEmulatedPort});
  return true;
}();

}  // namespace
}  // namespace zk7
