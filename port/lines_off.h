// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The off state written to a port before anything else: until a program
// drives them, a port's data lines hold what was last written. The firmware's
// own port check leaves 0xAA there (by the programmer's lines VPP and VDD on)
// before any module loads, and the kernel's parport_pc probe writes 0xAA and
// 0x55 and leaves 0x04.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "port/discovery.h"
#include "port/driver.h"

namespace zk7 {

class Port;

// Claims the port, writes the off state (0xD0: VPP, VDD, programming mode and
// the enables off) to its data register, and gives it back. False with why
// when the port cannot be claimed; a port that cannot be reached at all is
// left alone.
bool WriteLinesOff(Port& port, std::string& error);

// Writes the off state to every parallel port of candidates that nobody holds
// and this user may open, and sets their linesOff. USB adapters are left alone.
void SwitchOffFreeParallelPorts(std::vector<PortCandidate>& candidates, const PortSystem& system);

// Where ppdev did not reach them (no ppdev, or no parport_pc at all), writes
// the off state by direct I/O to the standard bases 0x378, 0x278 and 0x3BC
// where a port answers (its status register reads other than 0xFF) and no
// candidate names a holder. Writes the data register only, and only when the
// I/O ports are granted (root). Returns the addresses written.
std::vector<std::uint16_t> SwitchOffStandardPortsDirectly(
    const std::vector<PortCandidate>& candidates, const PortSystem& system);

}  // namespace zk7
