// Whatever ends the process, the port's lines end unpowered: seen on the port
// trace of a process (a death-test child) that a signal, exit() or an
// uncaught exception ends.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>

#include "programmer/emulator.h"
#include "programmer/programmer.h"
#include "programmer/signals.h"

namespace zk7 {
namespace {

void Throw() {
  throw std::runtime_error("uncaught");
}

class SignalTest : public ::testing::Test {
 protected:
  void SetUp() override { std::remove(trace.c_str()); }
  void TearDown() override { std::remove(trace.c_str()); }

  // A port on the emulated chip that traces to `trace`, its lines powered
  // (programming mode entered outside any flow) when powered is set.
  void openPort(Port& port, Programmer& prog, bool powered) {
    std::string error;
    ASSERT_TRUE(port.setTraceFile(trace, error)) << error;
    port.setDriver(std::make_unique<EmulatorDriver>());
    prog.InitLPTPort(0x378);
    if (powered) prog.EnterProgMode();
  }
  // Raises sig in the middle of a burn, in a process with the handlers installed.
  void burnAndRaise(int sig) {
    InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
    Port port;
    Programmer prog(port);
    openPort(port, prog, false);
    RegisterSet rs;
    MemoryImage image;
    SetDefaultRegisters(rs);
    FlowCallbacks cb;
    cb.wait = [&](int) {
      if (prog.inProgrammingMode()) raise(sig);
    };
    prog.ProgramDevice(rs, image, cb);
    std::exit(0);  // not reached
  }
  // The last data-register writes of the trace.
  std::vector<std::string> lastWrites(std::size_t n) const {
    std::ifstream in(trace);
    std::vector<std::string> writes;
    for (std::string line; std::getline(in, line);)
      if (line.rfind("W ", 0) == 0) writes.push_back(line);
    if (writes.size() > n) writes.erase(writes.begin(), writes.end() - static_cast<long>(n));
    return writes;
  }
  const std::vector<std::string> kOff = {"W 378 64", "W 378 74", "W 378 F4"};
  std::string trace = ::testing::TempDir() + "zk7_signal_trace_" + std::to_string(::getpid());
};

TEST_F(SignalTest, ASignalDuringAFlowStopsItThenEndsTheProcessByThatSignal) {
  for (int sig : {SIGHUP, SIGTERM, SIGUSR2}) {
    EXPECT_EXIT(burnAndRaise(sig), ::testing::KilledBySignal(sig),
                std::string("zk7test: ") + SignalName(sig) +
                    " received: the run was stopped and the chip left programming mode; ending.");
    EXPECT_EQ(lastWrites(3), kOff) << SignalName(sig);
  }
}

TEST_F(SignalTest, WithoutAFlowTheProcessEndsAtOnceOrWhenTheEventLoopLooks) {
  EXPECT_EXIT(
      {
        InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
        raise(SIGQUIT);
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGQUIT), "zk7test: SIGQUIT received; ending.");
  // An event loop's program: the handler only wakes the loop; a file save
  // running on the loop's thread finishes first.
  EXPECT_EXIT(
      {
        InstallTerminationHandlers("zk7test", IdleTermination::Notify);
        raise(SIGTERM);
        char byte = 0;
        if (PendingTerminationSignal() != SIGTERM || read(TerminationSignalFd(), &byte, 1) != 1)
          std::exit(1);
        HandleTerminationNotice();
        std::exit(0);
      },
      ::testing::KilledBySignal(SIGTERM), "SIGTERM received");
  // A signal the process was started with ignored (nohup) stays ignored.
  EXPECT_EXIT(
      {
        signal(SIGHUP, SIG_IGN);
        InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
        raise(SIGHUP);
        std::exit(7);
      },
      ::testing::ExitedWithCode(7), "");
}

TEST_F(SignalTest, PoweredLinesAreSwitchedOffByDestructionExitTerminateAndCrashes) {
  {
    Port port;
    Programmer prog(port);
    openPort(port, prog, true);
  }
  EXPECT_EQ(lastWrites(3), kOff);
  // Lines a flow left alone are not written again.
  {
    Port port;
    Programmer prog(port);
    openPort(port, prog, false);
    prog.SetProgLine("CLKOUT_1");
  }
  EXPECT_EQ(lastWrites(1), std::vector<std::string>{"W 378 D2"});

  Port port;
  Programmer prog(port);
  EXPECT_EXIT(
      {
        openPort(port, prog, true);
        std::exit(3);
      },
      ::testing::ExitedWithCode(3), "");
  EXPECT_EQ(lastWrites(3), kOff);
  EXPECT_EXIT(
      {
        InstallTerminationHandlers("zk7test", IdleTermination::EndAtOnce);
        openPort(port, prog, true);
        void (*thrower)() = Throw;
        [thrower]() noexcept { thrower(); }();
      },
      ::testing::KilledBySignal(SIGABRT), "uncaught");
  EXPECT_EQ(lastWrites(3), kOff);
  EXPECT_EXIT(
      {
        InstallTerminationHandlers("zk7test", IdleTermination::Notify);
        openPort(port, prog, true);
        raise(SIGSEGV);
      },
      ::testing::KilledBySignal(SIGSEGV),
      "SIGSEGV received; the programmer lines were switched off; ending.");
  EXPECT_EQ(lastWrites(3), kOff);
}

}  // namespace
}  // namespace zk7
