// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The guard that outlives the program: what it writes after a process that
// drives the port dies in each state, that signals to the program's terminal
// group do not reach it, and that it waits for a port the dead program held.
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "child_process.h"
#include "model/format.h"
#include "port/drivers.h"
#include "port/guard.h"
#include "port/port.h"
#include "support/temp_dir.h"

namespace zk7 {
namespace {

const TempDir kTemp("zk7_guard");
const std::string kTrace = kTemp.path("trace");

struct Ending {
  std::vector<std::uint8_t> writes;  // the program's, inside a guarded claim
  int groupSignal;                   // then sent to the program's process group (0: none)
  const char* guardLines;            // what the guard appends to the trace
};

// A program in a child process (a process group of its own, as a shell's
// job) claims the emulated port with its guard, makes the writes, sends
// groupSignal to its group and is killed. Returns its trace and the guard's
// stderr once the guard has ended too: it holds the child's stderr, a pipe.
std::pair<std::string, std::string> RunAndKill(const Ending& e) {
  std::remove(kTrace.c_str());
  int err[2];
  if (pipe(err) != 0) return {};
  const pid_t pid = fork();
  if (pid == 0) {
    setpgid(0, 0);
    dup2(err[1], STDERR_FILENO);
    for (int sig : {SIGINT, SIGHUP, SIGTSTP}) signal(sig, SIG_DFL);
    Port port;
    PortChoice choice;
    choice.kind = PortChoice::Emulator;
    port.setChoice(choice);
    std::string error;
    port.setTraceFile(kTrace, error);
    port.open(0x378);
    if (!port.claimGuarded(error)) _exit(3);
    for (std::uint8_t b : e.writes) port.DlPortWritePortUchar(0x378, b);
    if (e.groupSignal) kill(0, e.groupSignal);
    raise(SIGKILL);
  }
  close(err[1]);
  int status = 0;
  waitpid(pid, &status, WUNTRACED);
  if (WIFSTOPPED(status)) kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  std::string said;
  char buf[256];
  for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) said.append(buf, n);
  close(err[0]);
  return {ReadText(kTrace), said};
}

TEST(Guard, AProgramThatDiesPoweredIsSwitchedOffFromTheByteItLeft) {
  const std::vector<std::uint8_t> burning = {0x50, 0x6C};
  const Ending endings[] = {
      {burning, 0, "W 378 64\nW 378 74\nW 378 F4\nW 378 D0\n"},
      // Stopped between the last two writes of leaving: nPRG still on.
      {{0x50, 0x6C, 0x64, 0x74}, 0, "W 378 74\nW 378 74\nW 378 F4\nW 378 D0\n"},
      {{0x50}, 0, "W 378 50\nW 378 50\nW 378 D0\nW 378 D0\n"},
      {{0x50, 0x6C, 0x64, 0x74, 0xF4}, 0, ""},  // at rest: nothing to do
      // Ctrl-C, a hang-up, Ctrl-Z and a kill of the whole job reach the
      // program's group, not the guard.
      {burning, SIGINT, "W 378 64\nW 378 74\nW 378 F4\nW 378 D0\n"},
      {burning, SIGKILL, "W 378 64\nW 378 74\nW 378 F4\nW 378 D0\n"},
      {burning, SIGHUP, "W 378 64\nW 378 74\nW 378 F4\nW 378 D0\n"},
      {burning, SIGTSTP, "W 378 64\nW 378 74\nW 378 F4\nW 378 D0\n"},
  };
  for (const Ending& e : endings) {
    std::string program;
    for (std::uint8_t b : e.writes) program += "W 378 " + Hex2(b) + "\n";
    const auto [trace, said] = RunAndKill(e);
    EXPECT_EQ(trace, program + e.guardLines) << program;
    EXPECT_EQ(said.find("were switched off") != std::string::npos, *e.guardLines != 0) << said;
  }
}

// ppdev that refuses the claim while the dead program's descriptor is open.
class HeldPpdev : public PpdevCalls {
 public:
  int refusals = 0;
  std::string writes;
  int open(const std::string&, int) override { return 42; }
  int close(int) override { return 0; }
  int stat(const std::string&, struct stat* st) override {
    *st = {};
    st->st_mode = S_IFCHR | 0660;
    st->st_rdev = makedev(99, 0);  // a ppdev device
    return 0;
  }
  int ioctl(int, unsigned long request, void* arg) override {
    if (request == PPCLAIM && refusals > 0) {
      --refusals;
      errno = EBUSY;
      return -1;
    }
    if (request == PPWDATA) writes += " " + std::to_string(*static_cast<unsigned char*>(arg));
    return 0;
  }
};

TEST(Guard, TakesThePortOnceTheDeadProgramsClaimIsGone) {
  HeldPpdev ppdev;
  PortSystem system{"/nonexistent/proc", "/nonexistent", &ppdev, 10};
  const GuardTarget target{"/nonexistent/parport0", 0x278, kTrace};
  std::string error;
  std::remove(kTrace.c_str());
  ppdev.refusals = 5;
  ASSERT_TRUE(SwitchOffAfterProgram(target, 0x6C, error, system)) << error;
  EXPECT_EQ(ppdev.writes, " 100 116 244 208");  // 64 74 F4 D0
  EXPECT_EQ(ReadText(kTrace), "W 278 64\nW 278 74\nW 278 F4\nW 278 D0\n");
  ppdev.refusals = 1 << 20;
  EXPECT_FALSE(SwitchOffAfterProgram(target, 0x6C, error, system, 200));
  EXPECT_NE(error.find("claiming the port failed"), std::string::npos) << error;
}

TEST(Guard, AGuardThatDiedIsToldTheEndWithoutSIGPIPE) {
  signal(SIGPIPE, SIG_DFL);  // would end this test program
  PowerGuard guard;
  std::string error;
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(guard.start({"emulator", 0x378, ""}, 0x6C, error)) << error;
    kill(guard.pid(), SIGKILL);
    guard.stop();
    EXPECT_FALSE(guard.running());
  }
}

}  // namespace
}  // namespace zk7
