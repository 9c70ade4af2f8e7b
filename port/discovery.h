// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Discovery of the ports a programmer adapter can sit on: the parallel ports
// the kernel knows and the USB bit-bang adapters that are plugged in. Discovery
// only looks; it claims nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "port/driver.h"

namespace zk7 {

// One port found on this machine.
struct PortCandidate {
  // Text usable as zk7prog --port and ZK7_PORT: "0xD010", "/dev/parport1",
  // "ftdi:0403:6001:A1B2C3D4".
  std::string portText;
  // Menu caption: "D010 (/dev/parport1)", "FT232R A1B2C3D4".
  std::string caption;
  // Longer description for listings (device, base address, chip).
  std::string description;
  // Who holds the port now ("" when nobody or unknown).
  std::string holder;
  // Empty when this user may open the port; otherwise why not and the fix.
  std::string problem;
  // Empty normally; otherwise what puts a chip at risk on this port, and the
  // fix (the printer driver lp registered on it).
  std::string warning;
  // Set by SwitchOffFreeParallelPorts once it wrote the off state to the port.
  bool linesOff = false;
};

// A parallel port as the kernel lists it in procRoot/parportN.
struct ParallelPort {
  std::string name;    // "parport1"
  std::string device;  // devRoot + "/parport1"
  // From base-addr (decimal); none when unreadable. 0 for a port without an
  // I/O address: a USB-to-parallel bridge, which cannot drive the programmer.
  std::optional<std::uint16_t> base;
  std::string holder;                // from devices/active; "" for "none" or unknown
  std::vector<std::string> devices;  // drivers registered on it: "lp", "ppdev0"
};
// Every procRoot/parportN, in the order of N; empty when the folder is missing.
std::vector<ParallelPort> ListParallelPorts(const PortSystem& system);
// The holder named by procRoot/NAME/devices/active for the port NAME
// ("parport1"; of a path, its last part): a kernel device ("ppdev1", "lp"),
// never a program. "" when none or unknown.
std::string ParallelPortHolder(const std::string& procRoot, const std::string& portName);
// The drivers registered on the port NAME ("lp", "ppdev0"), in name order:
// the links of sysRoot into the port's folder ("lp.1", "ppdev1.0"), and the
// folders of procRoot/NAME/devices, where the kernel gives one only to the
// first device registered on a port (a printer driver loaded while a program
// has the port open has none).
std::vector<std::string> RegisteredParallelDevices(const PortSystem& system,
                                                   const std::string& portName);
// The holder of the port NAME as a message says it: "kernel device ppdev1",
// followed by the programs that have its device open, where the processes'
// open files show them ("kernel device ppdev1: pptool, pid 412"); for lp
// those with its /dev/lpN open. "" when nobody holds the port.
std::string DescribeParallelPortHolder(const PortSystem& system, const std::string& portName,
                                       const std::string& holder);

// What the printer driver lp on a port means for a chip, and the fix.
std::string PrinterDriverWarning();
// Why a port without an I/O address (a USB-to-parallel bridge) cannot drive
// the programmer.
std::string UsbBridgeProblem();

// Every parallel port of procRoot, plus any devRoot/parportN the kernel does
// not list there, each with whether this user may open its device and, if
// not, the fix (the group lp, loading ppdev).
std::vector<PortCandidate> DiscoverParallelPorts(const PortSystem& system);

}  // namespace zk7
