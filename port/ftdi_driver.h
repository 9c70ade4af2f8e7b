// The port driver for a USB programmer adapter (an FTDI chip in synchronous
// bit-bang mode): opening one named by "ftdi[:VID:PID[:SERIAL]]" through
// libftdi, listing the ones plugged in, and the driver itself, which queues
// the line changes and sends them in large transfers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "port/discovery.h"
#include "port/driver.h"
#include "port/ftdi_wire.h"

namespace zk7 {

// Bytes the driver queues before it sends on its own: about 30 ms of pins on
// an FT232R, so the windows stay live during a long run of pulses.
constexpr std::size_t kFtdiQueueLimit = 16384;

// The driver for the adapter that usb (the text after "ftdi:") names; nullptr
// with why and what fixes it in error when it cannot be found or opened. In a
// build without libftdi it always refuses and names the package to install.
std::unique_ptr<PortDriver> OpenFtdi(const std::string& usb, std::string& error);

// The driver over a backend. The device is opened and closed once here, so a
// missing adapter or permission shows at once (nullptr, error says why); it is
// then held only while the port is claimed and closed at release, once every
// queued byte was sent. The first claim holds every line off for a moment and
// times it: an adapter whose pins run faster than its chip's pinRate would cut
// programming pulses short, so it is refused (the claim fails, error says why).
std::unique_ptr<PortDriver> MakeFtdiDriver(std::unique_ptr<FtdiBackend> backend,
                                           std::string& error);

// Every FTDI adapter of the chips above that is plugged in, opening none of
// them (reading a serial number needs permission to open: problem says so).
std::vector<PortCandidate> DiscoverFtdiPorts();
// One listing entry: caption "FT232R A1B2C3D4", port text "ftdi:0403:6001:A1B2C3D4".
PortCandidate FtdiCandidate(const FtdiChip& chip, const std::string& serial,
                            const std::string& product, const std::string& problem);
// Empty when USB adapters are supported by this build; otherwise why not and the fix.
std::string FtdiUnavailableReason();

}  // namespace zk7
