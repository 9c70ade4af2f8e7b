// The guard: a small program (zk7-guard) started for every span that may
// power the programmer lines, which outlives this program. Nothing inside a
// process survives kill -9, the OOM killer or a desktop's "Force Quit", and a
// crash handler cannot talk USB; a second process can. The guard runs in a
// session of its own, so Ctrl-C, Ctrl-Z and a terminal's hang-up do not reach
// it, and waits for the end of a socket this program holds. The lines' state
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
  // listens (within a few seconds). False with why when it cannot be found,
  // started or does not answer; nothing is left running then.
  bool start(const GuardTarget& target, std::uint8_t data, std::string& error);
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
  int socket_ = -1;
  pid_t pid_ = -1;
  std::atomic<std::uint8_t>* state_ = nullptr;
};

// The guard's work once the program is gone and left the lines at data:
// reaches the port target names through system and writes the sequence that
// leaves programming mode, then every line off (0xD0), trying the claim again for up to timeoutMs
// (the dead program's claim ends only as the kernel closes its files). False with why.
bool SwitchOffAfterProgram(const GuardTarget& target, std::uint8_t data, std::string& error,
                           const PortSystem& system = PortSystem(), int timeoutMs = 5000);

// The guard program's main: zk7-guard --port TEXT --base HEX [--trace PATH],
// the socket on descriptor 3 and the shared state on descriptor 4.
int RunGuard(int argc, char** argv);

}  // namespace zk7
