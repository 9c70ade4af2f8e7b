// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The emulated chip as a test's bench: on its wait clock, so time passes only
// through the flows' waits, in a port that owns it.
#pragma once

#include <memory>

#include "model/image.h"
#include "model/registers.h"
#include "programmer/programmer.h"
#include "sim/emulator.h"

// Puts a fresh emulated chip into port and returns it.
inline zk7::EmulatorDriver* UseEmulatedChip(zk7::Port& port,
                                            const zk7::EmulatorOptions& options = {}) {
  auto chip = std::make_unique<zk7::EmulatorDriver>(options);
  chip->useWaitClock();
  zk7::EmulatorDriver* used = chip.get();
  port.setDriver(std::move(chip));
  return used;
}

// The emulated chip at 0x378 with its programmer, the default registers and
// flow callbacks whose waits take no time.
struct ChipBench {
  ChipBench() {
    prog.InitLPTPort(0x378);
    zk7::SetDefaultRegisters(rs);
    cb.wait = [](int) {};
  }
  zk7::FlowResult program() { return prog.ProgramDevice(rs, image, cb); }

  zk7::Port port;
  zk7::Programmer prog{port};
  zk7::EmulatorDriver* chip = UseEmulatedChip(port);
  zk7::RegisterSet rs;
  zk7::MemoryImage image;
  zk7::FlowCallbacks cb;
};
