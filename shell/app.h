// The process-wide state every window reaches the same way.
#pragma once

#include <cstdint>

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
};

AppState& App();
