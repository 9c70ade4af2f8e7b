#include "programmer/drivers.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "programmer/protocol.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define ZK7_HAVE_DIRECT_IO 1
#endif

namespace zk7 {
namespace {

class PpdevDriver : public PortDriver {
 public:
  PpdevDriver(int fd, std::string device) : fd_(fd), device_(std::move(device)) {}
  ~PpdevDriver() override {
    ioctl(fd_, PPRELEASE);
    close(fd_);
  }

  std::uint8_t read(std::uint16_t /*address*/) override {
    unsigned char status = 0xFF;
    if (ioctl(fd_, PPRSTATUS, &status) != 0) {
      fail("reading the status register");
      return 0xFF;
    }
    return status;
  }

  void write(std::uint16_t /*address*/, std::uint8_t value) override {
    unsigned char data = value;
    if (ioctl(fd_, PPWDATA, &data) != 0) fail("writing the data register");
  }

  std::string name() const override { return device_; }
  std::string problem() const override { return problem_; }

 private:
  void fail(const char* what) {
    if (problem_.empty()) problem_ = device_ + ": " + what + " failed: " + std::strerror(errno);
  }

  int fd_;
  std::string device_;
  std::string problem_;
};

#ifdef ZK7_HAVE_DIRECT_IO
class DirectDriver : public PortDriver {
 public:
  explicit DirectDriver(std::uint16_t base) : base_(base) {}
  ~DirectDriver() override { ioperm(base_, 2, 0); }

  std::uint8_t read(std::uint16_t address) override {
    if (!inRange(address)) return 0xFF;
    return inb(address);
  }
  void write(std::uint16_t address, std::uint8_t value) override {
    if (inRange(address)) outb(value, address);
  }
  std::string name() const override { return "direct I/O"; }

 private:
  // Only the two granted addresses may be touched; anything else would fault.
  bool inRange(std::uint16_t address) const {
    return address == base_ || address == static_cast<std::uint16_t>(base_ + 1);
  }
  std::uint16_t base_;
};
#endif

}  // namespace

std::string PpdevDeviceForBase(std::uint16_t base, std::string& error,
                               const std::string& procRoot) {
  const std::string& root = procRoot;
  DIR* dir = opendir(root.c_str());
  if (!dir) {
    error = "no parallel port is known to the kernel (" + root + ": " + std::strerror(errno) + ")";
    return {};
  }
  std::string found;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name.rfind("parport", 0) != 0 || name.size() == 7) continue;
    std::ifstream in(root + "/" + name + "/base-addr");
    long value = -1;
    if (in >> value && value == base) {
      found = "/dev/" + name;
      break;
    }
  }
  closedir(dir);
  if (found.empty()) error = "no /dev/parportN has the base address " + PortAddressText(base);
  return found;
}

std::unique_ptr<PortDriver> OpenPpdev(const std::string& device, std::string& error) {
  const int fd = open(device.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error = device + ": " + std::strerror(errno);
    return nullptr;
  }
  // The port must be claimed before any other ioctl reaches it.
  if (ioctl(fd, PPCLAIM) != 0) {
    error = device + ": claiming the port failed: " + std::strerror(errno);
    close(fd);
    return nullptr;
  }
  return std::make_unique<PpdevDriver>(fd, device);
}

std::unique_ptr<PortDriver> OpenDirectIO(std::uint16_t base, std::string& error) {
#ifdef ZK7_HAVE_DIRECT_IO
  if (ioperm(base, 2, 1) != 0) {
    error = "direct I/O at " + PortAddressText(base) + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::make_unique<DirectDriver>(base);
#else
  error = "direct I/O at " + PortAddressText(base) + ": not available on this processor";
  return nullptr;
#endif
}

}  // namespace zk7
