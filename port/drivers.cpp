// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "port/drivers.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "port/discovery.h"
#include "port/protocol.h"
#include "port/signals.h"

#if defined(__x86_64__) || defined(__i386__)
#include <sys/io.h>
#define ZK7_HAVE_DIRECT_IO 1
#endif

#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace zk7 {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr unsigned kPpdevMajor = 99;
constexpr unsigned kUsbMajor = 180;  // usblp takes its minors 0..15
constexpr unsigned kUsbPrinterMinors = 16;

extern "C" void WakeClaim(int) {}

// One PPCLAIM that returns by the deadline. PPCLAIM waits for as long as
// another program holds the port, and the kernel serves the ppdev calls of
// every program under one lock meanwhile, so nobody else's port moves while
// it waits. A timer sends this thread ClaimWakeSignal(), whose handler is
// empty and installed without SA_RESTART, so the wait ends with EINTR: at the
// deadline and every 10 ms after it, in case one came just before the wait
// began. Returns the ioctl's result with errno; timedOut tells whether it was
// the deadline that ended it.
int ClaimBefore(PpdevCalls& calls, int fd, SteadyClock::time_point deadline, bool& timedOut) {
  const int sig = ClaimWakeSignal();
  struct sigaction wake {
  }, saved{};
  wake.sa_handler = WakeClaim;
  sigemptyset(&wake.sa_mask);
  sigaction(sig, &wake, &saved);
  sigset_t set, savedMask;
  sigemptyset(&set);
  sigaddset(&set, sig);
  pthread_sigmask(SIG_UNBLOCK, &set, &savedMask);

  sigevent ev{};
  ev.sigev_notify = SIGEV_THREAD_ID;
  ev.sigev_signo = sig;
  ev.sigev_notify_thread_id = gettid();
  timer_t timer{};
  const bool timing = timer_create(CLOCK_MONOTONIC, &ev, &timer) == 0;
  if (timing) {
    const auto left = std::max<std::int64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - SteadyClock::now()).count(),
        1000000);
    itimerspec when{};
    when.it_value.tv_sec = static_cast<time_t>(left / 1000000000);
    when.it_value.tv_nsec = static_cast<long>(left % 1000000000);
    when.it_interval.tv_nsec = 10 * 1000000L;
    timer_settime(timer, 0, &when, nullptr);
  }
  const int rc = calls.ioctl(fd, PPCLAIM, nullptr);
  const int error = errno;
  timedOut = rc != 0 && error == EINTR && SteadyClock::now() >= deadline;
  if (timing) timer_delete(timer);
  // A wake-up still queued must not reach the handler restored below.
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  const timespec none{};
  while (sigtimedwait(&set, nullptr, &none) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &savedMask, nullptr);
  sigaction(sig, &saved, nullptr);
  errno = error;
  return rc;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& n : names) text += (text.empty() ? "" : ", ") + n;
  return text;
}

class PpdevDriver : public PortDriver {
 public:
  PpdevDriver(std::string device, std::string portName, std::uint16_t base,
              const PortSystem& system)
      : device_(std::move(device)),
        portName_(std::move(portName)),
        base_(base),
        system_(system),
        timeoutMs_(system.claimTimeoutMs),
        calls_(system.ppdev ? *system.ppdev : SystemPpdevCalls()) {
    noteOthers();
  }
  ~PpdevDriver() override { release(); }

  bool claim(std::string& error) override {
    if (fd_ >= 0) return true;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs_);
    for (;;) {
      // A holder the kernel names is refused at once: waiting in the claim
      // would stop every ppdev program for as long, the holder's release
      // included, so the wait could not even succeed.
      noteOthers();
      if (const std::string holder = ParallelPortHolder(system_.procRoot, portName_);
          !holder.empty()) {
        error = inUse(holder);
        return false;
      }
      // Exclusive access keeps the printer driver from taking the port while
      // it is ours. The kernel refuses it while any other driver is
      // registered on the port, and logs two errors for each refusal: so it
      // is asked for only while none is, and never again once refused.
      const bool exclusive = !exclusiveRefused_ && others_.empty();
      const int fd = calls_.open(device_, O_RDWR | O_CLOEXEC);
      if (fd < 0) {
        error = device_ + ": " + std::strerror(errno);
        return false;
      }
      bool timedOut = false;
      int rc = exclusive ? calls_.ioctl(fd, PPEXCL, nullptr) : 0;
      if (rc == 0) rc = ClaimBefore(calls_, fd, deadline, timedOut);
      const int why = errno;
      if (rc == 0) return useClaimed(fd, exclusive, error);
      // Closing also takes this descriptor off the port's wait list, where
      // the kernel leaves a waiter whose wait was interrupted: a second
      // PPCLAIM on it would add it twice, and the list would then loop or
      // lose the waiter behind it.
      calls_.close(fd);
      if (exclusive && (why == ENXIO || why == EBUSY || why == EINVAL)) {
        exclusiveRefused_ = true;
        continue;
      }
      if (why == EINTR && !timedOut && PendingTerminationSignal() == 0 &&
          SteadyClock::now() < deadline)
        continue;  // another signal came early (Ctrl-Z and fg, a debugger)
      if (why == EINTR)
        error = inUse(ParallelPortHolder(system_.procRoot, portName_));
      else if (why == ENXIO && !others_.empty())  // registered by another for itself alone
        error = inUse(Joined(others_));
      else
        error = device_ + ": claiming the port failed: " + std::strerror(why);
      return false;
    }
  }

  void release() override {
    if (fd_ < 0) return;
    calls_.ioctl(fd_, PPRELEASE, nullptr);
    calls_.close(fd_);
    fd_ = -1;
  }

  std::uint8_t read(std::uint16_t /*address*/) override {
    unsigned char status = 0xFF;
    if (calls_.ioctl(fd_, PPRSTATUS, &status) != 0) {
      fail("reading the status register");
      return 0xFF;
    }
    return status;
  }

  void write(std::uint16_t /*address*/, std::uint8_t value) override {
    unsigned char data = value;
    if (calls_.ioctl(fd_, PPWDATA, &data) != 0) fail("writing the data register");
  }

  bool writeInSignalHandler(std::uint16_t /*address*/, std::uint8_t value) override {
    unsigned char data = value;
    return fd_ >= 0 && calls_.ioctl(fd_, PPWDATA, &data) == 0;
  }

  std::string name() const override {
    if (lpShares_) return device_ + " (shared with lp: sudo modprobe -r lp)";
    if (!shared_) return device_;
    return device_ + (sharedWith_.empty() ? " (shared: exclusive access refused)"
                                          : " (shared with " + sharedWith_ + ")");
  }
  std::string problem() const override { return problem_; }
  std::string warning() const override { return lpShares_ ? PrinterDriverWarning() : ""; }

 private:
  bool useClaimed(int fd, bool exclusive, std::string& error) {
    // A port left in a bidirectional or ECP mode would not drive the lines.
    int mode = IEEE1284_MODE_COMPAT, forward = 0;
    if (calls_.ioctl(fd, PPSETMODE, &mode) != 0 || calls_.ioctl(fd, PPDATADIR, &forward) != 0) {
      error = device_ + ": setting compatibility mode failed: " + std::strerror(errno);
      calls_.ioctl(fd, PPRELEASE, nullptr);
      calls_.close(fd);
      return false;
    }
    shared_ = !exclusive;
    sharedWith_ = Joined(others_);
    fd_ = fd;
    return true;
  }
  // The other drivers registered on the port (none of ours: between claims
  // the device is closed, which unregisters it).
  void noteOthers() {
    others_ = RegisteredParallelDevices(system_, portName_);
    lpShares_ = std::find(others_.begin(), others_.end(), "lp") != others_.end();
  }
  // The holder is a kernel device ("ppdev1", "lp"), never a program: the
  // programs that have its device open are named where they can be seen.
  std::string inUse(const std::string& holder) const {
    std::string text = PortAddressText(base_) + " (" + device_ + ") is in use by another program";
    if (!holder.empty())
      text += " (" + DescribeParallelPortHolder(system_, portName_, holder) + ")";
    if (holder == "lp") text += ". " + PrinterDriverWarning();
    return text;
  }
  void fail(const char* what) {
    if (problem_.empty()) problem_ = device_ + ": " + what + " failed: " + std::strerror(errno);
  }

  std::string device_;
  std::string portName_;  // "parport0", from the device's number
  std::uint16_t base_;
  PortSystem system_;
  int timeoutMs_;
  PpdevCalls& calls_;
  int fd_ = -1;
  bool shared_ = false;
  bool exclusiveRefused_ = false;  // for the life of this driver
  std::vector<std::string> others_;
  bool lpShares_ = false;
  std::string sharedWith_;
  std::string problem_;
};

// The port's registers beside data and status.
constexpr std::uint16_t kControlOffset = 2;
constexpr std::uint16_t kEcrOffset = 0x402;
// Control register: strobe, auto-feed and interrupt off, not initialising,
// selected, data lines driven (direction bit 5 clear), as parport_pc keeps it.
constexpr std::uint8_t kControlCompat = 0x0C;
// ECR: standard (compatibility) mode, whose data lines always drive, with its
// error and service interrupts off.
constexpr std::uint8_t kEcrStandard = 0x14;

class DirectDriver : public PortDriver {
 public:
  DirectDriver(std::uint16_t base, bool ecrGranted, int portFd, DirectIOCalls& io)
      : base_(base), ecrGranted_(ecrGranted), portFd_(portFd), io_(io), owner_(pthread_self()) {}
  ~DirectDriver() override {
    io_.ioperm(base_, 3, 0);
    if (ecrGranted_) io_.ioperm(base_ + kEcrOffset, 1, 0);
    io_.close(portFd_);
  }

  // Nothing to take: direct I/O claims nothing. But the port may be in any
  // mode a BIOS or another program left, which only a claim restores under
  // ppdev: set compatibility mode with the data lines driven, here.
  bool claim(std::string& /*error*/) override {
    setCompatibilityMode();
    return true;
  }
  void release() override { modeSet_ = false; }

  std::uint8_t read(std::uint16_t address) override {
    if (!inRange(address)) return 0xFF;
    return in(address);
  }
  void write(std::uint16_t address, std::uint8_t value) override {
    if (!inRange(address)) return;
    if (!modeSet_) setCompatibilityMode();
    out(value, address);
  }
  // Through /dev/port: whichever thread crashed, it may have no port access.
  bool writeInSignalHandler(std::uint16_t address, std::uint8_t value) override {
    return inRange(address) && io_.pwrite(portFd_, &value, 1, address) == 1;
  }
  std::string name() const override { return "direct I/O"; }

 private:
  // Only the two granted addresses may be touched; anything else would fault.
  bool inRange(std::uint16_t address) const {
    return address == base_ || address == static_cast<std::uint16_t>(base_ + 1);
  }
  // The port instructions on the thread that was granted access, /dev/port
  // on any other.
  bool onOwnerThread() const { return pthread_equal(pthread_self(), owner_) != 0; }
  std::uint8_t in(std::uint16_t address) {
    if (onOwnerThread()) return io_.inb(address);
    std::uint8_t value = 0xFF;
    (void)io_.pread(portFd_, &value, 1, address);
    return value;
  }
  void out(std::uint8_t value, std::uint16_t address) {
    if (onOwnerThread())
      io_.outb(value, address);
    else
      (void)io_.pwrite(portFd_, &value, 1, address);
  }

  void setCompatibilityMode() {
    modeSet_ = true;
    if (!ecrProbed_) {
      ecr_ = ecrGranted_ && ecrPresent();
      ecrProbed_ = true;
    }
    if (ecr_) out(kEcrStandard, base_ + kEcrOffset);
    out(kControlCompat, base_ + kControlOffset);
  }
  // Whether an ECR answers at base + 0x402, told as the kernel's parport_pc
  // tells it: not a mirror of the control register (ISA cards that decode 10
  // address bits), its FIFO reads empty, and a written mode reads back.
  bool ecrPresent() {
    const std::uint16_t control = base_ + kControlOffset, ecr = base_ + kEcrOffset;
    out(kControlCompat, control);
    bool present = true;
    if ((in(ecr)&0x3) == (kControlCompat & 0x3)) {
      out(kControlCompat ^ 0x2, control);
      const std::uint8_t r = in(control);
      present = (in(ecr)&0x2) != (r & 0x2);
    }
    present = present && (in(ecr)&0x3) == 0x1;
    if (present) {
      out(0x34, ecr);
      present = in(ecr) == 0x35;
    }
    out(kControlCompat, control);
    return present;
  }

  std::uint16_t base_;
  bool ecrGranted_;
  int portFd_;
  DirectIOCalls& io_;
  pthread_t owner_;  // the thread ioperm gave access to
  bool modeSet_ = false;
  bool ecrProbed_ = false;
  bool ecr_ = false;
};

}  // namespace

std::string PpdevDeviceForBase(std::uint16_t base, const PortSystem& system, std::string& error) {
  const std::vector<ParallelPort> ports = ListParallelPorts(system);
  if (ports.empty()) {
    error = "no parallel port is known to the kernel (nothing in " + system.procRoot + ")";
    return {};
  }
  std::string known;
  for (const ParallelPort& p : ports) {
    if (p.base == base) return p.device;
    if (p.base.value_or(0) != 0) known += (known.empty() ? "" : ", ") + PortAddressText(*p.base);
  }
  error = "no /dev/parportN has the base address " + PortAddressText(base);
  if (!known.empty()) error += " (the kernel's ports are at " + known + ")";
  return {};
}

int PpdevCalls::open(const std::string& path, int flags) {
  return ::open(path.c_str(), flags);
}
int PpdevCalls::ioctl(int fd, unsigned long request, void* arg) {
  return ::ioctl(fd, request, arg);
}
int PpdevCalls::close(int fd) {
  return ::close(fd);
}
int PpdevCalls::stat(const std::string& path, struct stat* st) {
  return ::stat(path.c_str(), st);
}

PpdevCalls& SystemPpdevCalls() {
  static PpdevCalls calls;
  return calls;
}

int DirectIOCalls::ioperm(unsigned long from, unsigned long count, int on) {
#ifdef ZK7_HAVE_DIRECT_IO
  return ::ioperm(from, count, on);
#else
  (void)from, (void)count, (void)on;
  errno = ENOSYS;
  return -1;
#endif
}
std::uint8_t DirectIOCalls::inb(std::uint16_t address) {
#ifdef ZK7_HAVE_DIRECT_IO
  return ::inb(address);
#else
  (void)address;
  return 0xFF;
#endif
}
void DirectIOCalls::outb(std::uint8_t value, std::uint16_t address) {
#ifdef ZK7_HAVE_DIRECT_IO
  ::outb(value, address);
#else
  (void)value, (void)address;
#endif
}
int DirectIOCalls::open(const char* path, int flags) {
  return ::open(path, flags);
}
ssize_t DirectIOCalls::pread(int fd, void* buffer, std::size_t count, off_t offset) {
  return ::pread(fd, buffer, count, offset);
}
ssize_t DirectIOCalls::pwrite(int fd, const void* buffer, std::size_t count, off_t offset) {
  return ::pwrite(fd, buffer, count, offset);
}
int DirectIOCalls::close(int fd) {
  return ::close(fd);
}

DirectIOCalls& SystemDirectIOCalls() {
  static DirectIOCalls calls;
  return calls;
}

PpdevPort InspectPpdevDevice(const std::string& device, const PortSystem& system) {
  PpdevCalls& calls = system.ppdev ? *system.ppdev : SystemPpdevCalls();
  PpdevPort port;
  struct stat st {};
  if (calls.stat(device, &st) != 0) {
    port.systemError = errno;
    port.refusal = device + ": " + std::strerror(port.systemError);
    return port;
  }
  if (!S_ISCHR(st.st_mode) || major(st.st_rdev) != kPpdevMajor) {
    port.refusal = device + " is not a parallel port (ppdev) device";
    if (S_ISCHR(st.st_mode) && major(st.st_rdev) == kUsbMajor &&
        minor(st.st_rdev) < kUsbPrinterMinors)
      port.refusal +=
          "; it is a USB printer adapter, which can print but cannot drive the programmer";
    return port;
  }
  // ppdev's minor number is the kernel's port number.
  port.name = "parport" + std::to_string(minor(st.st_rdev));
  for (const ParallelPort& p : ListParallelPorts(system))
    if (p.name == port.name) port.base = p.base;
  if (port.base == 0) port.refusal = device + ": " + UsbBridgeProblem();
  return port;
}

std::unique_ptr<PortDriver> OpenPpdev(const std::string& device, std::uint16_t base,
                                      const PortSystem& system, std::string& error) {
  const PpdevPort port = InspectPpdevDevice(device, system);
  if (!port.refusal.empty()) {
    error = port.refusal;
    return nullptr;
  }
  // Opening claims nothing; it only shows now whether this user may use the port.
  PpdevCalls& calls = system.ppdev ? *system.ppdev : SystemPpdevCalls();
  const int fd = calls.open(device, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error = device + ": " + std::strerror(errno);
    return nullptr;
  }
  calls.close(fd);
  return std::make_unique<PpdevDriver>(device, port.name, base, system);
}

std::string DirectIORefusal(std::uint16_t base, int error, const std::string& lockdownFile) {
  const std::string what = "direct I/O at " + PortAddressText(base) + ": ";
  if (error == ENOSYS) return what + "this kernel has no direct port I/O; use ppdev";
  if (error != EPERM) return what + std::strerror(error);
  // Under Secure Boot the kernel's lockdown refuses port I/O even to root.
  std::ifstream in(lockdownFile);
  std::string modes;
  std::getline(in, modes);
  if (modes.find("[integrity]") != std::string::npos ||
      modes.find("[confidentiality]") != std::string::npos)
    return what + "refused by the kernel lockdown (Secure Boot)";
  if (geteuid() == 0) return what + "refused although running as root (kernel lockdown?)";
  return what + std::strerror(error);
}

std::unique_ptr<PortDriver> OpenDirectIO(std::uint16_t base, const PortSystem& system,
                                         std::string& error) {
  const std::string what = "direct I/O at " + PortAddressText(base) + ": ";
#ifndef ZK7_HAVE_DIRECT_IO
  if (!system.directIO) {
    error = what + "not available on this processor";
    return nullptr;
  }
#endif
  // Writing past the kernel's driver would bypass its sharing: a printer job
  // would go out on the programmer's lines mid-run.
  for (const ParallelPort& p : ListParallelPorts(system))
    if (p.base == base) {
      error = what + "the kernel drives this port (" + p.name +
              "), so it is reached through ppdev only: load it (sudo modprobe ppdev)";
      return nullptr;
    }
  DirectIOCalls& io = system.directIO ? *system.directIO : SystemDirectIOCalls();
  if (io.ioperm(base, 3, 1) != 0) {
    error = DirectIORefusal(base, errno, system.lockdownFile);
    return nullptr;
  }
  const bool ecr = base <= 0xFFFF - kEcrOffset && io.ioperm(base + kEcrOffset, 1, 1) == 0;
  const std::string devPort = system.devRoot + "/port";
  const int fd = io.open(devPort.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error = what + devPort + ": " + std::strerror(errno) +
            " (needed to switch the lines off from any thread)";
    io.ioperm(base, 3, 0);
    if (ecr) io.ioperm(base + kEcrOffset, 1, 0);
    return nullptr;
  }
  return std::make_unique<DirectDriver>(base, ecr, fd, io);
}

std::unique_ptr<PortDriver> OpenDirectIO(std::uint16_t base, std::string& error,
                                         const std::string& lockdownFile) {
  PortSystem system;
  system.lockdownFile = lockdownFile;
  return OpenDirectIO(base, system, error);
}

}  // namespace zk7
