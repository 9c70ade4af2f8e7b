// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel's parallel-port layer as the port layer meets it, for tests:
// ppdev over a fake /proc/sys/dev/parport tree and /sys/bus/parport/devices
// that it keeps up to date as the kernel does (as a QEMU guest running
// Debian's kernel showed it), and the I/O ports of a machine for direct I/O.
#pragma once

#include <linux/parport.h>
#include <linux/ppdev.h>
#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "port/drivers.h"

namespace zk7 {

// ppdev as the kernel has it. Nodes devRoot/parportN are character devices
// 99:N (links to them too), devRoot/usb/lpN are USB printers 180:N; other
// paths are the real ones. Every ioctl runs under one lock for all ports and
// programs (pp_do_mutex), which a claim holds for as long as it waits and
// which open and close do not take. A device registers on the port at its
// first PPCLAIM (exclusively after PPEXCL, which fails while any other is
// registered, with two kernel log lines) and unregisters when closed. Each
// registered device has its link NAME.N in sysRoot; only the first one
// registered on a port while no other has one gets its folder in
// procRoot/parportN/devices. A claim on a held port joins the port's wait
// list and sleeps until the holder closes its device or a signal comes; an
// interrupted waiter stays on the list until its descriptor is closed, so
// claiming again on it adds it twice.
class FakeParport : public PpdevCalls {
 public:
  FakeParport(std::string proc, std::string dev, std::string sys)
      : proc_(std::move(proc)), dev_(std::move(dev)), sys_(std::move(sys)) {
    std::filesystem::create_directories(sys_);
    wake_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  }
  ~FakeParport() override { ::close(wake_); }

  std::string calls;  // " open EXCL CLAIM MODE256 DIR0 R W RELEASE close", of our descriptors
  std::vector<std::string> log;       // the kernel's error log
  std::map<int, unsigned char> data;  // data register by port
  unsigned char status = 0x80;
  int earlyInterrupts = 0;  // blocked claims that a handled signal ends at once
  bool waitListBroken = false;

  // The printer driver registers on port n, as it does on every port it finds.
  void loadLp(int n) {
    std::lock_guard<std::mutex> hold(state_);
    registerDevice(n, "lp", lpCount_++);
  }
  // Another program opens port n through ppdev and claims it (waiting while
  // another holds it); returns its descriptor.
  int holdAsOtherProgram(int n) {
    const int fd = open(dev_ + "/parport" + std::to_string(n), 0);
    {
      std::lock_guard<std::mutex> hold(state_);
      files_.at(fd).other = true;
    }
    ioctl(fd, PPCLAIM, nullptr);
    return fd;
  }
  std::size_t waiters(int n) {
    std::lock_guard<std::mutex> hold(state_);
    return ports_[n].waiters.size();
  }
  // Calls waiting for the ioctl lock.
  int blockedOnLock() const { return blocked_; }

  int stat(const std::string& path, struct stat* st) override {
    std::error_code ec;
    const auto real = std::filesystem::canonical(path, ec);
    const auto dev = std::filesystem::canonical(dev_, ec);
    const std::string name = real.filename().string();
    for (const auto& [folder, prefix, devMajor] :
         {std::tuple{dev, std::string("parport"), 99u}, {dev / "usb", std::string("lp"), 180u}}) {
      if (!ec && real.parent_path() == folder && name.rfind(prefix, 0) == 0) {
        *st = {};
        st->st_mode = S_IFCHR | 0660;
        st->st_rdev = makedev(devMajor, std::stoi(name.substr(prefix.size())));
        return 0;
      }
    }
    return ::stat(path.c_str(), st);
  }

  int open(const std::string& path, int) override {
    struct stat st {};
    if (stat(path, &st) != 0) return -1;
    std::lock_guard<std::mutex> hold(state_);
    if (major(st.st_rdev) != 99) return fail(ENXIO);
    files_[nextFd_].port = static_cast<int>(minor(st.st_rdev));
    calls += " open";
    return nextFd_++;
  }

  // Releases and unregisters without the ioctl lock, as the kernel's release does.
  int close(int fd) override {
    std::lock_guard<std::mutex> hold(state_);
    File& f = files_.at(fd);
    Port& p = ports_[f.port];
    if (!f.other) calls += " close";
    if (f.claimed) setHolder(f.port, "");
    p.waiters.erase(std::remove(p.waiters.begin(), p.waiters.end(), fd), p.waiters.end());
    if (f.registered) {
      unregisterDevice(f.port, deviceName(f), f.index);
      ppdevIndices_.erase(f.index);
      if (f.excl) p.exclusive = false;
    }
    files_.erase(fd);
    const std::uint64_t one = 1;
    (void)::write(wake_, &one, sizeof one);
    return 0;
  }

  int ioctl(int fd, unsigned long request, void* arg) override {
    ++blocked_;
    std::lock_guard<std::mutex> serve(doMutex_);
    --blocked_;
    std::unique_lock<std::mutex> hold(state_);
    File& f = files_.at(fd);
    const std::pair<unsigned long, const char*> names[] = {
        {PPEXCL, "EXCL"}, {PPCLAIM, "CLAIM"}, {PPSETMODE, "MODE"},   {PPDATADIR, "DIR"},
        {PPRSTATUS, "R"}, {PPWDATA, "W"},     {PPRELEASE, "RELEASE"}};
    for (const auto& [r, name] : names)
      if (r == request && !f.other) calls += std::string(" ") + name;
    if (request == PPEXCL) {
      if (f.registered) return fail(EINVAL);
      f.excl = true;
      return 0;
    }
    if (request == PPCLAIM) return claim(fd, hold);
    if (request == PPSETMODE) {
      calls += std::to_string(*static_cast<int*>(arg));
      return 0;
    }
    if (!f.claimed) return fail(EINVAL);  // "claim the port first"
    if (request == PPDATADIR) calls += std::to_string(*static_cast<int*>(arg));
    if (request == PPWDATA) data[f.port] = *static_cast<unsigned char*>(arg);
    if (request == PPRSTATUS) *static_cast<unsigned char*>(arg) = status;
    if (request == PPRELEASE) {
      f.claimed = false;
      setHolder(f.port, "");
    }
    return 0;
  }

 private:
  struct File {
    int port = 0;
    int index = -1;  // of its registration: ppdevN.index
    bool excl = false, registered = false, claimed = false;
    bool other = false;  // another program's: its calls are not recorded
  };
  struct Port {
    std::vector<std::string> devices;  // registered, by name
    std::string inProc;                // the one with a folder in procRoot ("lp.0"); "" for none
    bool exclusive = false;
    std::string holder;
    std::vector<int> waiters;
  };

  static int fail(int error) {
    errno = error;
    return -1;
  }
  std::string portDir(int n) const { return proc_ + "/parport" + std::to_string(n); }
  static std::string deviceName(const File& f) { return "ppdev" + std::to_string(f.port); }
  void setHolder(int n, const std::string& name) {
    ports_[n].holder = name;
    std::ofstream(portDir(n) + "/devices/active") << (name.empty() ? "none" : name) << "\n";
  }
  void registerDevice(int n, const std::string& name, int index) {
    Port& p = ports_[n];
    p.devices.push_back(name);
    std::error_code none;  // a machine without sysfs has no links
    std::filesystem::create_symlink(
        "../../../devices/parport" + std::to_string(n) + "/" + name + "." + std::to_string(index),
        sys_ + "/" + name + "." + std::to_string(index), none);
    if (!p.inProc.empty()) return;
    p.inProc = name + "." + std::to_string(index);
    std::filesystem::create_directories(portDir(n) + "/devices/" + name);
  }
  void unregisterDevice(int n, const std::string& name, int index) {
    Port& p = ports_[n];
    p.devices.erase(std::find(p.devices.begin(), p.devices.end(), name));
    std::error_code none;
    std::filesystem::remove(sys_ + "/" + name + "." + std::to_string(index), none);
    if (p.inProc != name + "." + std::to_string(index)) return;
    p.inProc.clear();
    std::filesystem::remove_all(portDir(n) + "/devices/" + name);
  }

  // PPCLAIM, under the ioctl lock and the state lock (hold).
  int claim(int fd, std::unique_lock<std::mutex>& hold) {
    File& f = files_.at(fd);
    Port& p = ports_[f.port];
    if (f.claimed) return fail(EINVAL);
    if (!f.registered) {
      const std::string name = deviceName(f);
      if (p.exclusive) return fail(ENXIO);
      if (f.excl && !p.devices.empty()) {
        log.push_back("parport" + std::to_string(f.port) +
                      ": cannot grant exclusive access for device " + name);
        log.push_back(name + ": failed to register device!");
        return fail(ENXIO);
      }
      f.index = 0;  // the lowest index no ppdev device has
      while (ppdevIndices_.count(f.index)) ++f.index;
      ppdevIndices_.insert(f.index);
      registerDevice(f.port, name, f.index);
      f.registered = true;
      p.exclusive = f.excl;
    }
    if (std::find(p.waiters.begin(), p.waiters.end(), fd) != p.waiters.end()) waitListBroken = true;
    if (!p.holder.empty()) p.waiters.push_back(fd);
    // The ioctl lock stays held while this waits: every other ppdev call waits too.
    for (;;) {
      if (p.holder.empty()) {
        p.waiters.erase(std::remove(p.waiters.begin(), p.waiters.end(), fd), p.waiters.end());
        f.claimed = true;
        setHolder(f.port, deviceName(f));
        return 0;
      }
      if (earlyInterrupts > 0) {
        --earlyInterrupts;
        return fail(EINTR);
      }
      std::uint64_t drained;
      (void)::read(wake_, &drained, sizeof drained);
      hold.unlock();
      pollfd woken{wake_, POLLIN, 0};
      const int n = poll(&woken, 1, -1);  // a handled signal ends it with EINTR
      hold.lock();
      if (n < 0) return fail(EINTR);
    }
  }

  std::string proc_, dev_, sys_;
  std::mutex doMutex_;  // the kernel's lock of every ppdev ioctl
  std::atomic<int> blocked_{0};
  std::mutex state_;
  std::map<int, Port> ports_;
  std::map<int, File> files_;
  int nextFd_ = 100;
  int lpCount_ = 0;
  std::set<int> ppdevIndices_;
  int wake_ = -1;  // readable once a device was closed
};

// A machine's I/O ports for direct I/O. ioperm gives the calling thread
// access; an in or out on a thread without it counts a fault (where the real
// instruction would crash). devRoot/port reaches every port from any thread.
// An ECR at an address reads back its written mode with the FIFO empty.
class FakePortIO : public DirectIOCalls {
 public:
  std::map<unsigned, std::uint8_t> reg;
  std::set<unsigned> ecrs;
  int faults = 0;
  int grants = 0;

  int ioperm(unsigned long from, unsigned long count, int on) override {
    std::lock_guard<std::mutex> hold(lock_);
    grants += on;
    for (unsigned long a = from; a < from + count; ++a)
      on ? (void)access_[std::this_thread::get_id()].insert(a)
         : (void)access_[std::this_thread::get_id()].erase(a);
    return 0;
  }
  std::uint8_t inb(std::uint16_t address) override {
    std::lock_guard<std::mutex> hold(lock_);
    return allowed(address) ? value(address) : 0xFF;
  }
  void outb(std::uint8_t v, std::uint16_t address) override {
    std::lock_guard<std::mutex> hold(lock_);
    if (allowed(address)) reg[address] = v;
  }
  int open(const char* path, int) override {
    const std::string p = path;
    return p.size() > 5 && p.compare(p.size() - 5, 5, "/port") == 0 ? 7 : (errno = ENOENT, -1);
  }
  ssize_t pread(int, void* buffer, std::size_t, off_t offset) override {
    std::lock_guard<std::mutex> hold(lock_);
    *static_cast<std::uint8_t*>(buffer) = value(static_cast<unsigned>(offset));
    return 1;
  }
  ssize_t pwrite(int, const void* buffer, std::size_t, off_t offset) override {
    std::lock_guard<std::mutex> hold(lock_);
    reg[static_cast<unsigned>(offset)] = *static_cast<const std::uint8_t*>(buffer);
    return 1;
  }
  int close(int) override { return 0; }

 private:
  bool allowed(unsigned address) {
    if (access_[std::this_thread::get_id()].count(address)) return true;
    ++faults;
    return false;
  }
  std::uint8_t value(unsigned address) {
    if (ecrs.count(address)) return static_cast<std::uint8_t>((reg[address] & 0xFC) | 0x01);
    const auto it = reg.find(address);
    return it == reg.end() ? 0xFF : it->second;
  }
  std::mutex lock_;
  std::map<std::thread::id, std::set<unsigned>> access_;
};

}  // namespace zk7
