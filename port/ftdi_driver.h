// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The port driver for a USB programmer adapter (an FTDI chip in synchronous
// bit-bang mode): setting an adapter up with its lines off, opening one named
// by "ftdi[:VID:PID[:SERIAL]]" through libftdi, switching one off from
// outside a run, listing the ones plugged in, and the driver itself, which
// queues the line changes, sends them in large transfers, proves every wait
// on the host's clock and switches the chip off after a failed transfer.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/discovery.h"
#include "port/driver.h"
#include "port/ftdi_clock.h"
#include "port/ftdi_wire.h"

namespace zk7 {

// Bytes the driver queues before it sends on its own.
constexpr std::size_t kFtdiQueueLimit = 4096;

// Opens the adapter and brings it to synchronous bit-bang mode with every
// line off, whatever it showed: a chip without figures here is refused before
// anything is set. Unless the pins already show our lines-off levels, every
// pin is made an input first (the board's pull-downs then hold the lines off;
// one that reads high is refused as lacking its pull-down) and the off byte is
// latched before the outputs are enabled, so a latch kept from an earlier
// run or reset to 0 never shows. The pins are then read back through the echo
// and the adapter is refused on a mismatch. False with why in error, the
// adapter given back as a serial port (ReturnAdapter).
bool SetUpAdapter(FtdiBackend& backend, std::string& error);

// Gives an open adapter back as a stranger expects to find it, a serial port:
// every pin an input first (the board's pull-downs hold the lines off), then
// the bit mode reset, so the serial port's outputs come back at its idle
// levels, which the wiring makes harmless; then closes it. A program that
// then writes to /dev/ttyUSBn drives TXD only, never a power line.
void ReturnAdapter(FtdiBackend& backend);

// The driver over a backend. The adapter is set up and closed once here, so a
// missing adapter, permission, unsupported chip or wiring fault shows at once
// (nullptr, error says why); it is then held only while the port is claimed,
// set up afresh at each claim and closed at release once every queued byte
// was sent. After a failed transfer or an echo that does not match, it purges
// the adapter and sends the power-off bytes in a fresh transfer, and if that
// fails closes and sets it up again; problem() then ends in "the chip was
// switched off." or "the chip may still be powered: unplug the adapter.".
std::unique_ptr<PortDriver> MakeFtdiDriver(std::unique_ptr<FtdiBackend> backend,
                                           std::string& error);

// The driver for the adapter that usb (the text after "ftdi:") names; nullptr
// with why and what fixes it in error when it cannot be found or opened. In a
// build without libftdi it always refuses and names the package to install.
std::unique_ptr<PortDriver> OpenFtdi(const std::string& usb, std::string& error);

// The adapter address names, through libftdi, timed on clock (nullptr: the
// machine's); nullptr in a build without libftdi.
std::unique_ptr<FtdiBackend> MakeLibFtdiBackend(const FtdiAddress& address,
                                                HostClock* clock = nullptr);

// True when no adapter that usb names is plugged in: its board, and the chip
// on it, has no supply. False when it is there or cannot be looked for.
bool FtdiAdapterGone(const std::string& usb);

// Every FTDI adapter with the ids above that is plugged in, opening none of
// them (reading a serial number needs permission to open: problem says so).
// One without a serial number is named by its path.
std::vector<PortCandidate> DiscoverFtdiPorts();
// One listing entry: caption "FT232R A1B2C3D4" (or "FT232R at 1-2" without a
// serial number), port text "ftdi:0403:6001:A1B2C3D4" (or "ftdi:0403:6001@1-2").
PortCandidate FtdiCandidate(const std::string& model, std::uint16_t vendor, std::uint16_t product,
                            const std::string& serial, const std::string& path,
                            const std::string& productText, const std::string& problem);
// Empty when USB adapters are supported by this build; otherwise why not and the fix.
std::string FtdiUnavailableReason();

}  // namespace zk7
