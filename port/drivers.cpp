#include "port/drivers.h"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <pthread.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

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

extern "C" void WakeClaim(int) {}

// PPCLAIM waits for as long as another program holds the port. A timer sends
// this thread a signal with an empty handler (installed without SA_RESTART,
// so the wait ends with EINTR) at the deadline and every 20 ms after it, in
// case one came just before the wait began. A termination signal ends the
// wait too. Returns the ioctl's result with errno; timedOut tells why EINTR.
int ClaimWithDeadline(PpdevCalls& calls, int fd, int timeoutMs, bool& timedOut) {
  timedOut = false;
  const int sig = SIGRTMIN;
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
    itimerspec when{};
    when.it_value.tv_sec = timeoutMs / 1000;
    when.it_value.tv_nsec = (timeoutMs % 1000) * 1000000L + 1;
    when.it_interval.tv_nsec = 20 * 1000000L;
    timer_settime(timer, 0, &when, nullptr);
  }
  const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
  int rc = -1, error = 0;
  for (;;) {
    rc = calls.ioctl(fd, PPCLAIM, nullptr);
    error = errno;
    if (rc == 0 || error != EINTR || PendingTerminationSignal() != 0) break;
    if (SteadyClock::now() >= deadline) {
      timedOut = true;
      break;
    }
  }
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

class PpdevDriver : public PortDriver {
 public:
  PpdevDriver(std::string device, std::uint16_t base, const PortSystem& system)
      : device_(std::move(device)),
        base_(base),
        procRoot_(system.procRoot),
        timeoutMs_(system.claimTimeoutMs),
        calls_(system.ppdev ? *system.ppdev : SystemPpdevCalls()) {}
  ~PpdevDriver() override { release(); }

  bool claim(std::string& error) override {
    if (fd_ >= 0) return true;
    const std::string inUse =
        PortAddressText(base_) + " (" + device_ + ") is in use by another program";
    if (const std::string holder = ParallelPortHolder(procRoot_, device_); !holder.empty()) {
      error = inUse + " (" + holder + ")";
      return false;
    }
    // Exclusive access keeps the printer driver from interleaving with a burn;
    // the kernel refuses it while another driver is registered on the port.
    shared_ = false;
    for (bool exclusive : {true, false}) {
      const int fd = calls_.open(device_, O_RDWR | O_CLOEXEC);
      if (fd < 0) {
        error = device_ + ": " + std::strerror(errno);
        return false;
      }
      if (exclusive && calls_.ioctl(fd, PPEXCL, nullptr) != 0) {
        calls_.close(fd);
        continue;
      }
      bool timedOut = false;
      if (ClaimWithDeadline(calls_, fd, timeoutMs_, timedOut) != 0) {
        const int why = errno;
        calls_.close(fd);
        if (exclusive && (why == ENXIO || why == EBUSY)) continue;
        if (timedOut || why == EINTR) {
          const std::string holder = ParallelPortHolder(procRoot_, device_);
          error = inUse + (holder.empty() ? "" : " (" + holder + ")");
        } else {
          error = device_ + ": claiming the port failed: " + std::strerror(why);
        }
        return false;
      }
      // A port left in a bidirectional or ECP mode would not drive the lines.
      int mode = IEEE1284_MODE_COMPAT, forward = 0;
      if (calls_.ioctl(fd, PPSETMODE, &mode) != 0 || calls_.ioctl(fd, PPDATADIR, &forward) != 0) {
        error = device_ + ": setting compatibility mode failed: " + std::strerror(errno);
        calls_.ioctl(fd, PPRELEASE, nullptr);
        calls_.close(fd);
        return false;
      }
      shared_ = !exclusive;
      fd_ = fd;
      return true;
    }
    return false;
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
    return shared_ ? device_ + " (shared: exclusive access refused)" : device_;
  }
  std::string problem() const override { return problem_; }

 private:
  void fail(const char* what) {
    if (problem_.empty()) problem_ = device_ + ": " + what + " failed: " + std::strerror(errno);
  }

  std::string device_;
  std::uint16_t base_;
  std::string procRoot_;
  int timeoutMs_;
  PpdevCalls& calls_;
  int fd_ = -1;
  bool shared_ = false;
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
  bool writeInSignalHandler(std::uint16_t address, std::uint8_t value) override {
    write(address, value);
    return inRange(address);
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

std::string PpdevDeviceForBase(std::uint16_t base, std::string& error, const std::string& procRoot,
                               const std::string& devRoot) {
  const std::vector<ParallelPort> ports = ListParallelPorts(procRoot, devRoot);
  if (ports.empty()) {
    error = "no parallel port is known to the kernel (nothing in " + procRoot + ")";
    return {};
  }
  for (const ParallelPort& p : ports)
    if (p.base == base) return p.device;
  error = "no /dev/parportN has the base address " + PortAddressText(base);
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

PpdevCalls& SystemPpdevCalls() {
  static PpdevCalls calls;
  return calls;
}

std::unique_ptr<PortDriver> OpenPpdev(const std::string& device, std::uint16_t base,
                                      const PortSystem& system, std::string& error) {
  // Opening claims nothing; it only shows now whether this user may use the port.
  PpdevCalls& calls = system.ppdev ? *system.ppdev : SystemPpdevCalls();
  const int fd = calls.open(device, O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    error = device + ": " + std::strerror(errno);
    return nullptr;
  }
  calls.close(fd);
  return std::make_unique<PpdevDriver>(device, base, system);
}

std::string DirectIORefusal(std::uint16_t base, int error, const std::string& lockdownFile) {
  const std::string what = "direct I/O at " + PortAddressText(base) + ": ";
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

std::unique_ptr<PortDriver> OpenDirectIO(std::uint16_t base, std::string& error,
                                         const std::string& lockdownFile) {
#ifdef ZK7_HAVE_DIRECT_IO
  if (ioperm(base, 2, 1) != 0) {
    error = DirectIORefusal(base, errno, lockdownFile);
    return nullptr;
  }
  return std::make_unique<DirectDriver>(base);
#else
  (void)lockdownFile;
  error = "direct I/O at " + PortAddressText(base) + ": not available on this processor";
  return nullptr;
#endif
}

}  // namespace zk7
