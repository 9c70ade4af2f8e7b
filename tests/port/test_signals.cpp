// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Endings other than a signal during a burn (which the command-line and
// window tests send to the real programs): the port trace of a process that
// destruction, exit() or an uncaught exception ends with its lines powered.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <stdexcept>

#include "child_process.h"
#include "port/signals.h"
#include "support/emulated_chip.h"
#include "support/temp_dir.h"

namespace zk7 {
namespace {

void Throw() {
  throw std::runtime_error("uncaught");
}

class SignalTest : public ::testing::Test {
 protected:
  // Opens the emulated port with a trace and, when asked, enters programming
  // mode outside any flow, so only the port layer can switch it off.
  void openPort(Port& port, bool powered) {
    std::string error;
    ASSERT_TRUE(port.setTraceFile(trace, error)) << error;
    UseEmulatedChip(port);
    Programmer prog(port);
    prog.InitLPTPort(0x378);
    powered ? prog.EnterProgMode() : prog.SetProgLine("CLKOUT_1");
  }
  // Whether the trace ends in leaving programming mode (VPP, VDD, nPRG off).
  bool endsOff() {
    const std::string text = ReadText(trace), off = "W 378 64\nW 378 74\nW 378 F4\n";
    std::remove(trace.c_str());
    return text.size() > off.size() && text.compare(text.size() - off.size(), off.size(), off) == 0;
  }
  TempDir tmp{"zk7_signal"};
  std::string trace = tmp.path("trace");
  Port port;
};

TEST_F(SignalTest, WithoutAFlowASignalEndsTheProcessAtOnceUnlessItWasIgnored) {
  EXPECT_EXIT(
      {
        InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
        raise(SIGQUIT);
      },
      ::testing::KilledBySignal(SIGQUIT), "zk7test: SIGQUIT received; ending.");
  EXPECT_EXIT(
      {
        signal(SIGHUP, SIG_IGN);  // nohup
        InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
        raise(SIGHUP);
        std::exit(7);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(SignalTest, PoweredLinesAreSwitchedOffByDestructionExitAndTerminate) {
  {
    Port local;
    openPort(local, true);
  }
  EXPECT_TRUE(endsOff());
  openPort(port, false);
  port.setDriver(nullptr);  // a driver given up leaves its lines off first
  EXPECT_EQ(ReadText(trace), "W 378 D2\n") << "lines that are off are not written again";
  EXPECT_EXIT(
      {
        openPort(port, true);
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_TRUE(endsOff());
  EXPECT_EXIT(
      {
        InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
        openPort(port, true);
        void (*thrower)() = Throw;
        [thrower]() noexcept { thrower(); }();
      },
      ::testing::KilledBySignal(SIGABRT), "what\\(\\):  uncaught");
  EXPECT_TRUE(endsOff());
}

// A background process's terminal access would stop it with the lines powered.
TEST_F(SignalTest, InsideABracketTerminalAccessCannotStopTheProcess) {
  auto blocked = [] {
    sigset_t set;
    pthread_sigmask(SIG_BLOCK, nullptr, &set);
    return sigismember(&set, SIGTTOU) == 1 && sigismember(&set, SIGTTIN) == 1;
  };
  EXPECT_FALSE(blocked());
  ASSERT_TRUE(EnterPortFlow());
  ASSERT_TRUE(EnterPortFlow());
  EXPECT_TRUE(blocked());
  LeavePortFlow();
  EXPECT_TRUE(blocked()) << "the outer bracket is still open";
  LeavePortFlow();
  EXPECT_FALSE(blocked());
  EXPECT_STREQ(SignalName(SIGRTMIN + 3), "SIGRTMIN+3");
  EXPECT_STREQ(SignalName(SIGRTMAX), "SIGRTMAX");
}

}  // namespace
}  // namespace zk7
