#include "port/discovery.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "port/protocol.h"

namespace zk7 {
namespace {

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

std::vector<std::string> RegisteredParallelDevices(const std::string& procRoot,
                                                   const std::string& portName) {
  // The kernel gives each driver registered on the port a folder beside the
  // file "active" (devices/lp/timeslice).
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry :
       std::filesystem::directory_iterator(procRoot + "/" + portName + "/devices", ec))
    if (entry.is_directory(ec)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
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

std::vector<ParallelPort> ListParallelPorts(const std::string& procRoot,
                                            const std::string& devRoot) {
  std::vector<ParallelPort> ports;
  for (const std::string& name : ParportNames(procRoot)) {
    ParallelPort p;
    p.name = name;
    p.device = devRoot + "/" + name;
    std::ifstream in(procRoot + "/" + name + "/base-addr");
    long value = -1;
    if (in >> value && value >= 0 && value < 0xFFFF) p.base = static_cast<std::uint16_t>(value);
    p.holder = ParallelPortHolder(procRoot, name);
    p.devices = RegisteredParallelDevices(procRoot, name);
    ports.push_back(std::move(p));
  }
  return ports;
}

std::vector<PortCandidate> DiscoverParallelPorts(const std::string& procRoot,
                                                 const std::string& devRoot) {
  std::vector<PortCandidate> found;
  std::vector<std::string> listed;
  for (const ParallelPort& p : ListParallelPorts(procRoot, devRoot)) {
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
