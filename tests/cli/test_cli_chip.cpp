// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "child_process.h"
#include "cli_run.h"
#include "files/intelhex.h"
#include "port/discovery.h"
#include "port/signals.h"
#include "port/watch.h"

using namespace zk7;

namespace {

class CliChip : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    port_ = "emulator:" + Path("chip.txt");
    WriteDvs("default.dvs", defaults_);
  }
  std::string port_;
};

}  // namespace

TEST_F(CliChip, ProgramReadVerifyOnAPersistedChip) {
  RegisterSet xt = defaults_;
  xt.setConfigWord(1);
  WriteDvs("xt.dvs", xt);
  std::ostringstream out, err;
  zk7cli::Io io{out, err, true, '.'};
  ASSERT_EQ(zk7cli::Run({"program", Path("xt.dvs"), "--port", port_}, io), 0) << err.str();
  EXPECT_EQ(out.str(), "PASSED\n");
  EXPECT_TRUE(Contains(err.str(), "] 70/70")) << "progress bar drawn";

  // Later runs see the burnt chip.
  auto r = RunCli({"read", "--port", port_});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "00: 00 00 00 FF F0 00 00 FF\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "40: FF FF FF FF FF FC\n"));
  EXPECT_TRUE(Contains(r.out, "OSC Setting = XT\nGP7 = Digital Input\nConfig Word = 0x01\n"));
  EXPECT_EQ(RunCli({"verify", Path("xt.dvs"), "--port", port_}).code, 0);

  // What was read is taken over whole, the configuration word as read (0x3FF9).
  ASSERT_EQ(RunCli({"read", "--port", port_, "-o", Path("back.dvs")}).code, 0);
  EXPECT_EQ(Read("back.dvs"), FormatDeviceFile(image_, 0x3FF9, "4000"));
  ASSERT_EQ(RunCli({"read", "--port", port_, "-o", Path("back.HEX")}).code, 0);
  EXPECT_EQ(Read("back.HEX"), WriteIntelHex(image_.ProgramImage, 0x3FF9));
}

TEST_F(CliChip, DifferencesOnABurntChip) {
  ASSERT_EQ(RunCli({"program", "--port", port_}).code, 0);
  RegisterSet other = defaults_;
  other.set(GPLAT, 0x5A);  // 00 on the chip: its bits would have to rise
  other.setConfigWord(4);
  WriteDvs("other.dvs", other);

  auto r = RunCli({"verify", Path("other.dvs"), "--port", port_});
  EXPECT_TRUE(ExitsSaying(r, 1, r.out, "  02        5A      00\n"));
  EXPECT_TRUE(Contains(r.out, "  45        A2      FC\n")) << "the checksum differs too";
  EXPECT_TRUE(Contains(r.out, "Config word bits 2:0: expected 4, read 7"));
  EXPECT_TRUE(Contains(r.out, "FAILED: 3 differences"));

  // Without the pre-burn check the run fails where a bit would have to rise.
  r = RunCli({"program", Path("other.dvs"), "--port", port_, "--no-check"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(Contains(r.err,
                       "Failed to Program Address 2\nFailed to Program Register: 2\n"
                       "Expected: 345A\nRead: 3400\n"))
      << r.err;
}

TEST_F(CliChip, PortsListsEveryPortAndAnyBaseAddressIsAPortText) {
  std::filesystem::create_directories(Path("proc/parport1/devices"));
  std::ofstream(Path("proc/parport1/base-addr")) << "53264\t53248\n";
  std::ofstream(Path("proc/parport1/devices/active")) << "ppdev0\n";
  PortSystem machine;
  machine.procRoot = Path("proc");
  machine.devRoot = Path("dev");
  machine.sysRoot = Path("sys");
  const auto ports = DiscoverParallelPorts(machine);
  std::ostringstream out, err;
  zk7cli::Io io{out, err, false, '.'};
  ASSERT_EQ(zk7cli::ReportPorts(ports, true, io), 0);
  const auto port = nlohmann::json::parse(out.str()).at("ports").at(0);
  EXPECT_EQ(port.at("port"), "0xD010") << port;
  EXPECT_EQ(port.at("holder"), "ppdev0") << port;
  EXPECT_EQ(port.at("accessible"), false) << port;
  EXPECT_TRUE(Contains(port.at("problem"), "modprobe ppdev")) << port;
  out.str("");
  zk7cli::ReportPorts(ports, false, io);
  EXPECT_TRUE(Contains(out.str(), "0xD010  parallel port " + Path("dev/parport1") +
                                      " at 0xD010  ppdev0   no: " + Path("dev/parport1")))
      << out.str();
  EXPECT_EQ(RunCli({"ports"}).code, 0);
  auto r = RunCli({"read", "--port", "0xD010"});  // nothing there, never the emulator
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.err;
  EXPECT_TRUE(Contains(r.err, "parallel port at 0xD010")) << r.err;
  r = RunCli({"read", "--port", "/dev/null"});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "/dev/null is not a parallel port (ppdev)"));
}

// A read-back line stuck low or high is no chip: every chip command says so
// and exits 1, and nothing invented is shown or saved. A failed cable check
// ends the command before anything is written to the port.
TEST_F(CliChip, NoChipAndAFailedCableCheckAreSaidNotRunAgainst) {
  const std::string trace = Path("trace.txt");
  setenv("ZK7_PORT_TRACE", trace.c_str(), 1);
  for (const auto& [fault, word] : {std::pair{"nochip-low", "0000"}, {"nochip-high", "3FFF"}}) {
    const std::string port = "emulator:fault=" + std::string(fault);
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"read", "-o", Path("backup.dvs")},
          {"verify", Path("default.dvs")},
          {"check"},
          {"program"}}) {
      std::vector<std::string> words = args;
      words.insert(words.end(), {"--port", port});
      const auto r = RunCli(words);
      EXPECT_TRUE(ExitsSaying(r, 1, r.out + r.err,
                              "Every word read " + std::string(word) + ": no chip in the socket"))
          << args[0] << " " << fault;
      EXPECT_FALSE(Contains("\n" + r.out, "\n00: ")) << args[0] << ": no memory map";
    }
  }
  EXPECT_FALSE(std::filesystem::exists(Path("backup.dvs")));
  std::filesystem::remove(trace);
  for (const auto& [fault, said] :
       {std::pair{"nocable", "LPT Cable Not Connected"}, {"wrongaddr", "Wrong LPT Address"}})
    for (const char* cmd : {"read", "check", "program"}) {
      const auto r = RunCli({cmd, "--port", "emulator:fault=" + std::string(fault)});
      EXPECT_TRUE(ExitsSaying(r, 2, r.err, std::string(said) + " (nothing was powered)"))
          << cmd << " " << fault;
    }
  EXPECT_FALSE(Contains(ReadText(trace), "W ")) << ReadText(trace);
  unsetenv("ZK7_PORT_TRACE");
}

TEST_F(CliChip, AChipFileThatCannotBeWrittenOrReadFailsTheRun) {
  auto r = RunCli({"program", "--port", "emulator:" + Path("none/chip.txt")});
  EXPECT_EQ(r.code, 2) << r.err;
  EXPECT_TRUE(r.out.empty()) << r.err;
  EXPECT_TRUE(Contains(r.err, "cannot write chip file")) << r.err;
  r = RunCli({"read", "--port", "emulator:/dev/zero"});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "larger than"));
}

TEST_F(CliChip, EverySignalThatEndsTheProcessStopsABurnWithTheChipUnpowered) {
  for (int sig :
       {SIGHUP,  SIGINT,    SIGQUIT, SIGTERM, SIGPIPE,  SIGUSR1,      SIGUSR2, SIGALRM, SIGXCPU,
        SIGXFSZ, SIGVTALRM, SIGPROF, SIGPOLL, SIGPWR,   SIGSTKFLT,    SIGSEGV, SIGBUS,  SIGFPE,
        SIGILL,  SIGABRT,   SIGSYS,  SIGTRAP, SIGRTMIN, SIGRTMIN + 5, SIGRTMAX}) {
    const auto end = RunUntilSignalled({ZK7PROG_BIN, "program", "--port", port_}, {},
                                       Path("trace.txt"), "D 1", sig);
    EXPECT_TRUE(end.unpoweredAfter(sig)) << sig << ": " << end.lastWrite;
    EXPECT_TRUE(Contains(end.err, "zk7prog: " + std::string(zk7::SignalName(sig)) + " received"))
        << end.err;
  }
  EXPECT_EQ(RunCli({"program", "--port", port_}).code, 0) << "the chip file is intact";
}

TEST_F(CliChip, WithoutAGuardThatProvesItselfNoRunStartsAndNothingIsPowered) {
  // Fakes: one that answers as a guard starts and exits, one that hangs with a child of its own.
  Write("answers.sh", "#!/bin/sh\nprintf R >&3\n");
  Write("hangs.sh", "#!/bin/sh\nsleep 31.25 &\nwait\n");
  for (const char* script : {"answers.sh", "hangs.sh"})
    std::filesystem::permissions(Path(script), std::filesystem::perms::owner_all);
  for (const std::string& guard : {std::string("/nonexistent/zk7-guard"), std::string("/bin/true"),
                                   Path("answers.sh"), Path("hangs.sh")}) {
    setenv("ZK7_GUARD", guard.c_str(), 1);
    setenv("ZK7_PORT_TRACE", Path("trace.txt").c_str(), 1);
    const auto started = std::chrono::steady_clock::now();
    const auto r = RunCli({"program", "--port", port_});
    const auto took = std::chrono::steady_clock::now() - started;
    unsetenv("ZK7_GUARD");
    unsetenv("ZK7_PORT_TRACE");
    EXPECT_TRUE(ExitsSaying(r, 2, r.err, "could not be started, so nothing was powered")) << guard;
    EXPECT_FALSE(Contains(ReadText(Path("trace.txt")), "W ")) << guard;
    EXPECT_LT(took, std::chrono::seconds(4)) << guard;
  }
  EXPECT_NE(std::system("pgrep -f 'slee[p] 31.25' >/dev/null"), 0) << "the hanging guard's child";
  // A production chip without its guard got nothing, for its own reason, and the run ends.
  setenv("ZK7_GUARD", "/bin/true", 1);
  setenv("ZK7_PORT_TRACE", Path("trace.txt").c_str(), 1);
  const auto r = RunCli({"program", "--port", port_, "--serial", "TXID0=std:100", "--log",
                         Path("log.csv"), "--count", "2"},
                        '.', "\n\n");
  unsetenv("ZK7_GUARD");
  unsetenv("ZK7_PORT_TRACE");
  EXPECT_TRUE(ExitsSaying(r, 2, r.out, "chip 1/2  TXID0=100  UNUSED (guard)"));
  EXPECT_FALSE(Contains(r.out, "chip 2/2")) << r.out << r.err;
}

TEST_F(CliChip, AGuardThatEndsMidBurnStopsTheRunWithTheLinesOff) {
  // The guard is the program's child named zk7-guard.
  const auto guardOf = [](pid_t program) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      std::ifstream stat(entry.path() / "stat");
      std::string pid, comm, state;
      pid_t parent = 0;
      if (stat >> pid >> comm >> state >> parent && parent == program && comm == "(zk7-guard)")
        return static_cast<pid_t>(std::stoi(pid));
    }
    return pid_t{0};
  };
  for (int sig : {SIGKILL, SIGTERM}) {
    const auto end = RunUntilSignalled({ZK7PROG_BIN, "program", "--port", port_, "--no-check"}, {},
                                       Path("trace.txt"), "D 1", sig, 0, 0, guardOf);
    EXPECT_TRUE(WIFEXITED(end.status)) << sig;
    EXPECT_EQ(WEXITSTATUS(end.status), 2) << sig;
    EXPECT_EQ(end.lastWrite & 0x98, 0x90) << sig << ": " << end.lastWrite;
    EXPECT_TRUE(Contains(end.err, "The guard process ended")) << end.err;
  }
}
