// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog ports: every port a programmer adapter can sit on, with who holds
// it and whether this user may open it; each free parallel port has its lines
// switched off on the way.
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/command_table.h"
#include "port/discovery.h"
#include "port/lines_off.h"
#include "port/port.h"
#include "port/protocol.h"

namespace zk7cli {

namespace {

// One column of the listing, padded to width.
std::string Pad(const std::string& text, std::size_t width) {
  return text.size() >= width ? text + "  " : text + std::string(width + 2 - text.size(), ' ');
}

int RunPorts(const Args& args, Io& io) {
  std::vector<zk7::PortCandidate> ports = zk7::DiscoverPorts();
  zk7::SwitchOffFreeParallelPorts(ports, zk7::PortSystem());
  return ReportPorts(ports, args.flag("--json"), io,
                     zk7::SwitchOffStandardPortsDirectly(ports, zk7::PortSystem()));
}

}  // namespace

extern const Command kPortsCommand = {
    "ports",
    {"[--json]"},
    "every port found, its holder and access",
    {{"--json", nullptr}},
    0,
    0,
    "Lists every port found: the text to give as --port, the device and its base\n"
    "address, the program that holds it now, and whether you may open it (if not,\n"
    "the fix). --json prints the same as a JSON object.\n"
    "Every parallel port nobody holds and you may open has its programmer lines\n"
    "switched off (0xD0) on the way: until a program drives them, the lines hold\n"
    "what the firmware or the kernel's probe left (0xAA: VPP and VDD on). As root,\n"
    "the standard addresses 0x378, 0x278 and 0x3BC that ppdev does not reach are\n"
    "switched off by direct I/O where a port answers.\n"
    "Example: zk7prog ports, then zk7prog program --port 0xD010\n",
    false,
    RunPorts};

int ReportPorts(const std::vector<zk7::PortCandidate>& ports, bool json, Io& io,
                const std::vector<std::uint16_t>& directOff) {
  std::string direct;
  nlohmann::json directList = nlohmann::json::array();
  for (const std::uint16_t base : directOff) {
    direct += (direct.empty() ? "" : ", ") + zk7::PortAddressText(base);
    directList.push_back(zk7::PortAddressText(base));
  }
  if (json) {
    nlohmann::json list = nlohmann::json::array();
    for (const auto& p : ports)
      list.push_back({{"port", p.portText},
                      {"caption", p.caption},
                      {"description", p.description},
                      {"holder", p.holder.empty() ? nlohmann::json() : nlohmann::json(p.holder)},
                      {"accessible", p.problem.empty()},
                      {"problem", p.problem.empty() ? nlohmann::json() : nlohmann::json(p.problem)},
                      {"warning", p.warning.empty() ? nlohmann::json() : nlohmann::json(p.warning)},
                      {"linesOff", p.linesOff}});
    io.out << nlohmann::json{{"ports", list}, {"linesOffByDirectIO", directList}}.dump(2) << '\n';
    return kExitOk;
  }
  const std::string directLine =
      direct.empty() ? "" : "Lines switched off (0xD0) by direct I/O on " + direct + ".\n";
  if (ports.empty()) {
    io.out << "No port found. Load the parallel-port drivers (sudo modprobe parport_pc ppdev).\n"
           << directLine;
    return kExitOk;
  }
  std::size_t portWidth = 4, descriptionWidth = 11, holderWidth = 7;
  for (const auto& p : ports) {
    portWidth = std::max(portWidth, p.portText.size());
    descriptionWidth = std::max(descriptionWidth, p.description.size());
    holderWidth = std::max(holderWidth, p.holder.size());
  }
  io.out << Pad("PORT", portWidth) << Pad("DESCRIPTION", descriptionWidth)
         << Pad("HELD BY", holderWidth) << "ACCESS\n";
  std::string off;
  for (const auto& p : ports) {
    io.out << Pad(p.portText, portWidth) << Pad(p.description, descriptionWidth)
           << Pad(p.holder.empty() ? "-" : p.holder, holderWidth)
           << (p.problem.empty() ? "yes" : "no: " + p.problem) << '\n';
    if (!p.warning.empty()) io.out << "  warning: " << p.warning << '\n';
    if (p.linesOff) off += (off.empty() ? "" : ", ") + p.portText;
  }
  if (!off.empty()) io.out << "Lines switched off (0xD0) on " << off << ".\n";
  io.out << directLine;
  return kExitOk;
}

}  // namespace zk7cli
