// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide state every window reaches the same way.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>

#include "model/image.h"
#include "model/registers.h"
#include "port/port.h"
#include "programmer/programmer.h"

struct AppState {
  zk7::RegisterSet regs;             // the configuration being edited
  zk7::MemoryImage image;            // MemMap and ProgramImage
  double Fosc = 4000000.0;           // oscillator frequency in Hz
  std::uint16_t ChipConfigWord = 0;  // configuration word last read from a chip
  zk7::Port port;
  zk7::Programmer programmer{port};
  // Set by the main window while it exists: a read made in another window
  // (the memory map) tells it whether a chip answered, for its status bar.
  std::function<void(std::optional<std::uint16_t> configWord)> chipAnswered;
};

AppState& App();
