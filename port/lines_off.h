// The off state written to a port before anything else: until a program
// drives them, a port's data lines hold what was last written, and the
// kernel's probe of a parallel port leaves 0x00 (by the programmer's lines
// the chip's supply on, in programming mode) after writing 0xAA (VPP and VDD
// on) and 0x55.
#pragma once

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

}  // namespace zk7
