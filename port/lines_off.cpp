// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/lines_off.h"

#include "port/drivers.h"
#include "port/port.h"
#include "port/protocol.h"

namespace zk7 {

bool WriteLinesOff(Port& port, std::string& error) {
  if (!port.claim(error)) return false;
  port.DlPortWritePortUchar(port.base(), kLinesOff);
  port.release();
  return true;
}

void SwitchOffFreeParallelPorts(std::vector<PortCandidate>& candidates, const PortSystem& system) {
  for (PortCandidate& c : candidates) {
    PortChoice choice;
    std::uint16_t base = 0;
    std::string error;
    if (!c.problem.empty() || !c.holder.empty() ||
        !ParsePortChoice(c.portText, choice, base, error))
      continue;
    if (choice.kind != PortChoice::Auto && choice.kind != PortChoice::Device) continue;
    Port port;
    port.setSystem(system);
    port.setChoice(choice);
    port.open(base);
    c.linesOff = port.accessProblem().empty() && WriteLinesOff(port, error);
  }
}

std::vector<std::uint16_t> SwitchOffStandardPortsDirectly(
    const std::vector<PortCandidate>& candidates, const PortSystem& system) {
  constexpr std::uint16_t kStandardBases[] = {0x378, 0x278, 0x3BC};
  constexpr std::uint8_t kNoPort = 0xFF;  // what an address without a port reads
  DirectIOCalls& io = system.directIO ? *system.directIO : SystemDirectIOCalls();
  std::vector<std::uint16_t> written;
  for (const std::uint16_t base : kStandardBases) {
    // A port ppdev reaches was switched off through it, or is in use.
    bool skip = false;
    for (const PortCandidate& c : candidates)
      if (c.portText == PortAddressText(base))
        skip = c.linesOff || !c.holder.empty() || c.problem.empty();
    if (skip || io.ioperm(base, 2, 1) != 0) continue;
    if (io.inb(static_cast<std::uint16_t>(base + 1)) != kNoPort) {
      io.outb(kLinesOff, base);
      written.push_back(base);
    }
    io.ioperm(base, 2, 0);
  }
  return written;
}

}  // namespace zk7
