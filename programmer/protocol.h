// The serial programming protocol's command codes, shared by the host side
// and the emulated chip, and the text of a port address.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace zk7 {

constexpr int kCmdLoadConfig = 0x00;
constexpr int kCmdLoadData = 0x02;
constexpr int kCmdReadData = 0x04;
constexpr int kCmdIncrement = 0x06;
constexpr int kCmdBeginProgramming = 0x08;
constexpr int kCmdEndProgramming = 0x0E;

// "0x378".
inline std::string PortAddressText(std::uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%03X", value);
  return text;
}

}  // namespace zk7
