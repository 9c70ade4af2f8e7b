// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/discovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <limits.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>

#include "port/drivers.h"
#include "port/protocol.h"

namespace zk7 {
namespace {

constexpr unsigned kPpdevMajor = 99;
constexpr unsigned kLpMajor = 6;

// The N of "parportN", or -1 for any other name.
int ParportNumber(const std::string& name) {
  if (name.size() <= 7 || name.compare(0, 7, "parport") != 0) return -1;
  int n = 0;
  for (std::size_t i = 7; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9' || n > 999) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

// The parportN entries of a folder, in the order of N.
std::vector<std::string> ParportNames(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (ParportNumber(entry->d_name) >= 0) names.push_back(entry->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return ParportNumber(a) < ParportNumber(b);
  });
  return names;
}

// The entries of a folder (none when it cannot be read); "." and ".." left out.
std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(folder.c_str())) {
    while (const dirent* entry = readdir(dir))
      if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
        names.emplace_back(entry->d_name);
    closedir(dir);
  }
  return names;
}

// The devices registered on the port NAME as sysRoot links them
// ("lp.1" -> ../../../devices/parport1/lp.1): each device's name and index.
std::vector<std::pair<std::string, int>> SysfsDevices(const std::string& sysRoot,
                                                      const std::string& portName) {
  std::vector<std::pair<std::string, int>> found;
  for (const std::string& link : Entries(sysRoot)) {
    char target[PATH_MAX];
    const ssize_t n = readlink((sysRoot + "/" + link).c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string path(target, static_cast<std::size_t>(n));
    const auto slash = path.rfind('/');
    if (slash == std::string::npos || slash < portName.size() + 1 ||
        path.compare(slash - portName.size() - 1, portName.size() + 1, "/" + portName) != 0)
      continue;  // not in this port's folder (the port's own link is not)
    const auto dot = link.rfind('.');
    if (dot == std::string::npos || dot + 1 == link.size() ||
        link.find_first_not_of("0123456789", dot + 1) != std::string::npos)
      continue;
    found.emplace_back(link.substr(0, dot), std::atoi(link.c_str() + dot + 1));
  }
  return found;
}

// The processes with the character device number open, as far as this user
// may look: each pid and its command name.
std::vector<std::pair<int, std::string>> ProcessesWithDeviceOpen(PpdevCalls& calls, dev_t device) {
  std::vector<std::pair<int, std::string>> found;
  for (const std::string& pid : Entries("/proc")) {
    if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
    for (const std::string& fd : Entries("/proc/" + pid + "/fd")) {
      struct stat st {};
      if (calls.stat("/proc/" + pid + "/fd/" + fd, &st) != 0 || !S_ISCHR(st.st_mode) ||
          st.st_rdev != device)
        continue;
      std::string command;
      std::ifstream comm("/proc/" + pid + "/comm");
      std::getline(comm, command);
      found.emplace_back(std::stoi(pid), command);
      break;
    }
  }
  std::sort(found.begin(), found.end());
  return found;
}

// Why this user cannot open device read-write, and the fix; "" when it can.
std::string AccessProblem(const std::string& device) {
  struct stat st {};
  if (stat(device.c_str(), &st) != 0)
    return device + " does not exist. Load the ppdev module (sudo modprobe ppdev).";
  if (access(device.c_str(), R_OK | W_OK) == 0) return {};
  const int error = errno;
  std::string groupName = "lp";
  if (const struct group* g = getgrgid(st.st_gid); g && st.st_gid != 0) groupName = g->gr_name;
  std::string problem = device + ": " + std::strerror(error) + ".";
  if (error == EACCES)
    problem += " Add your user to the group " + groupName + " (sudo usermod -aG " + groupName +
               " $USER) and log in again.";
  return problem;
}

}  // namespace

std::string ParallelPortHolder(const std::string& procRoot, const std::string& portName) {
  const std::string name = portName.substr(portName.find_last_of('/') + 1);
  if (ParportNumber(name) < 0) return {};
  std::ifstream in(procRoot + "/" + name + "/devices/active");
  std::string holder;
  if (!(in >> holder) || holder == "none") return {};
  return holder;
}

std::vector<std::string> RegisteredParallelDevices(const PortSystem& system,
                                                   const std::string& portName) {
  std::set<std::string> names;
  for (const auto& [name, index] : SysfsDevices(system.sysRoot, portName)) names.insert(name);
  // The kernel gives the first driver registered on the port a folder beside
  // the file "active" (devices/lp/timeslice).
  const std::string folder = system.procRoot + "/" + portName + "/devices";
  for (const std::string& name : Entries(folder)) {
    struct stat st {};
    if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISDIR(st.st_mode)) names.insert(name);
  }
  return {names.begin(), names.end()};
}

std::string DescribeParallelPortHolder(const PortSystem& system, const std::string& portName,
                                       const std::string& holder) {
  if (holder.empty()) return {};
  std::string text = "kernel device " + holder;
  // ppdev's minor number is the port's number; lp's is the N of its lp.N.
  std::optional<dev_t> device;
  if (holder.rfind("ppdev", 0) == 0 && ParportNumber(portName) >= 0)
    device = makedev(kPpdevMajor, static_cast<unsigned>(ParportNumber(portName)));
  for (const auto& [name, index] : SysfsDevices(system.sysRoot, portName))
    if (name == holder && holder == "lp") device = makedev(kLpMajor, static_cast<unsigned>(index));
  if (!device) return text;
  PpdevCalls& calls = system.ppdev ? *system.ppdev : SystemPpdevCalls();
  std::string programs;
  for (const auto& [pid, command] : ProcessesWithDeviceOpen(calls, *device))
    programs += (programs.empty() ? ": " : "; ") + command + ", pid " + std::to_string(pid);
  return text + programs;
}

std::string PrinterDriverWarning() {
  return "The printer driver lp is loaded on this port: a print job waiting for the port gets it "
         "the moment a run gives it back and puts print data on the VPP, VDD and "
         "programming-mode lines. Unload it (sudo modprobe -r lp) and keep printer queues off "
         "this port.";
}

std::string UsbBridgeProblem() {
  return "a USB-to-parallel bridge (no I/O address) sets its pins whenever its USB transfers "
         "arrive, so pulses timed on this computer are not the times at its pins: it cannot drive "
         "the programmer (not supported)";
}

std::vector<ParallelPort> ListParallelPorts(const PortSystem& system) {
  std::vector<ParallelPort> ports;
  for (const std::string& name : ParportNames(system.procRoot)) {
    ParallelPort p;
    p.name = name;
    p.device = system.devRoot + "/" + name;
    std::ifstream in(system.procRoot + "/" + name + "/base-addr");
    long value = -1;
    if (in >> value && value >= 0 && value < 0xFFFF) p.base = static_cast<std::uint16_t>(value);
    p.holder = ParallelPortHolder(system.procRoot, name);
    p.devices = RegisteredParallelDevices(system, name);
    ports.push_back(std::move(p));
  }
  return ports;
}

std::vector<PortCandidate> DiscoverParallelPorts(const PortSystem& system) {
  const std::string& procRoot = system.procRoot;
  const std::string& devRoot = system.devRoot;
  std::vector<PortCandidate> found;
  std::vector<std::string> listed;
  for (const ParallelPort& p : ListParallelPorts(system)) {
    PortCandidate c;
    if (p.base && *p.base != 0) {
      c.portText = PortAddressText(*p.base);
      c.caption = c.portText.substr(2) + " (" + p.device + ")";
      c.description = "parallel port " + p.device + " at " + c.portText;
    } else {
      c.portText = c.caption = p.device;
      c.description = "parallel port " + p.device +
                      (p.base ? " (USB-to-parallel bridge)" : " (base address unknown)");
    }
    c.holder = p.holder;
    c.problem = p.base && *p.base == 0 ? p.device + ": " + UsbBridgeProblem() + "."
                                       : AccessProblem(p.device);
    if (p.holder == "lp" || std::find(p.devices.begin(), p.devices.end(), "lp") != p.devices.end())
      c.warning = PrinterDriverWarning();
    found.push_back(std::move(c));
    listed.push_back(p.name);
  }
  // A device node the kernel does not list (its parport_pc entry gone) still shows.
  for (const std::string& name : ParportNames(devRoot)) {
    if (std::find(listed.begin(), listed.end(), name) != listed.end()) continue;
    PortCandidate c;
    c.portText = c.caption = devRoot + "/" + name;
    c.description = "parallel port " + c.portText + " (not listed in " + procRoot + ")";
    c.problem = AccessProblem(c.portText);
    found.push_back(std::move(c));
  }
  return found;
}

}  // namespace zk7
