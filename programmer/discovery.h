// Discovery of the ports a programmer adapter can sit on: the parallel ports
// the kernel knows and the USB bit-bang adapters that are plugged in. Discovery
// only looks; it claims nothing.
#pragma once

#include <string>
#include <vector>

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
};

}  // namespace zk7
