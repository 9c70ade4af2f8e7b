// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The guard: a small program (zk7-guard) started for every span that may
// power the programmer lines, which outlives this program. Nothing inside a
// process survives kill -9, the OOM killer or a desktop's "Force Quit", and a
// crash handler cannot talk USB; a second process can. The guard runs in a
// session of its own, so Ctrl-C, Ctrl-Z and a terminal's hang-up do not reach
// it, and waits for the end of a socket this program holds. Started, it
// proves it is the guard this program started (a token from the shared
// memory and its process id), and it answers pings, so a program that only
// answers and exits is never taken for a guard. A guard that ends or is
// asked to end (SIGTERM) closes its side of the socket: the program sees
// that at its next wait, stops its run with the lines off, and the guard
// ends once the program has. The lines' state
// is one byte in memory both share, updated with plain stores (no system call
// per port write). When the socket ends (closed here, or by the kernel because
// this program died) while that byte says the lines are powered, the guard
// opens the port itself (ppdev, direct I/O, the USB adapter; for the emulated
// chip, which died with the program, only the port trace) and writes the
// sequence that leaves programming mode from that byte. A stopped program
// (SIGSTOP) ends nothing: its lines stay as they are until it goes on or dies.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>

#include "port/driver.h"

namespace zk7 {

// What the guard needs to reach the port without this program.
struct GuardTarget {
  // A port text as ParsePortChoice takes it: "auto", "/dev/parport0",
  // "ftdi:0403:6001", "emulator:chip.txt".
  std::string port;
  std::uint16_t base = 0x378;
  std::string trace;  // the port trace its writes are appended to; "" for none
};

// Where the guard program is: $ZK7_GUARD when set, else next to the running
// program (the build folder), else where it is installed (relative to the
// running program's folder, then the configured prefix). "" with where it
// looked in error when it is in none of them.
std::string FindGuardProgram(std::string& error);

// This program's side: one guard at a time.
class PowerGuard {
 public:
  PowerGuard() = default;
  ~PowerGuard() { stop(); }
  PowerGuard(const PowerGuard&) = delete;
  PowerGuard& operator=(const PowerGuard&) = delete;

  // Starts the guard for target with the lines at data and returns once it
  // has proved itself and answered a ping (within 2 s). False with why when
  // it cannot be found or started, answers wrongly, ends at once or does
  // not answer in time; nothing it started is left running then.
  bool start(const GuardTarget& target, std::uint8_t data, std::string& error);
  // Pings the guard: false with "the guard process ended" when it does not
  // answer within 2 s.
  bool alive(std::string& error);
  // True once the guard has ended or said it is ending. A poll without
  // waiting, cheap enough for every wait of a flow.
  bool ended() const;
  // The byte the guard switches off from: the data-register value last handed
  // to the port. A lock-free atomic in shared memory, so a signal handler may
  // store into it too; nullptr while no guard runs.
  std::atomic<std::uint8_t>* state() const { return state_; }
  // Ends the guard: it switches the lines off first if state() says they are
  // powered. Waits until it has ended (at most a few seconds). Raises no
  // SIGPIPE when the guard died already.
  void stop();
  bool running() const { return socket_ >= 0; }
  pid_t pid() const { return pid_; }

 private:
  using Clock = std::chrono::steady_clock;
  bool ping(Clock::time_point deadline, std::string& error);
  void end();      // kills the guard and what it started, and waits for it
  void release();  // unmaps the shared memory

  int socket_ = -1;
  pid_t pid_ = -1;
  void* shared_ = nullptr;
  std::atomic<std::uint8_t>* state_ = nullptr;
};

// The guard's work once the program is gone and left the lines at data:
// reaches the port target names through system and writes the sequence that
// leaves programming mode, then every line off (0xD0), trying the claim (a
// USB adapter's open) again for up to timeoutMs (the dead program's claim
// ends only as the kernel closes its files). False with why; true with a
// note in error when there was nothing to switch (a USB adapter unplugged:
// no supply).
bool SwitchOffAfterProgram(const GuardTarget& target, std::uint8_t data, std::string& error,
                           const PortSystem& system = PortSystem(), int timeoutMs = 5000);

// The guard program's main: zk7-guard --port TEXT --base HEX [--trace PATH],
// the socket on descriptor 3 and the shared state on descriptor 4.
int RunGuard(int argc, char** argv);

}  // namespace zk7
