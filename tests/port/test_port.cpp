// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Port choice, access problems, descriptions and the port trace.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/ppdev.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "child_process.h"
#include "fake_parport.h"
#include "port/discovery.h"
#include "port/drivers.h"
#include "port/lines_off.h"
#include "port/protocol.h"
#include "port/watch.h"
#include "programmer/programmer.h"
#include "sim/emulator.h"
#include "support/temp_dir.h"

namespace zk7 {
namespace {

TEST(PortChoice, ParsesEveryFormAndRefusesTheRest) {
  PortChoice c;
  std::uint16_t base = 0;
  std::string error;
  struct Good {
    const char* text;
    PortChoice::Kind kind;
    std::uint16_t base;  // non-address forms leave the base as it was
    std::string detail;
  };
  for (const Good& g :
       {Good{"0xD010", PortChoice::Auto, 0xD010, ""}, Good{"e000", PortChoice::Auto, 0xE000, ""},
        Good{"3bc", PortChoice::Auto, 0x3BC, ""}, Good{"0x278", PortChoice::Auto, 0x278, ""},
        Good{"/dev/parport1", PortChoice::Device, 0x278, "/dev/parport1"},
        Good{"emulator:chip.txt,fault=nocable,pulses=config:3", PortChoice::Emulator, 0x278,
             "chip.txt,fault=nocable,pulses=config:3"}}) {
    ASSERT_TRUE(ParsePortChoice(g.text, c, base, error)) << g.text;
    EXPECT_EQ(c.kind, g.kind) << g.text;
    EXPECT_EQ(base, g.base) << g.text;
    EXPECT_EQ(c.kind == PortChoice::Device ? c.device : c.emulatorOptions, g.detail) << g.text;
  }
  for (const char* bad : {"lpt1", "1D010", "0", "0x", "", "emulator:fault=smoke", "emulator:a,b",
                          "emulator:pulses=70:1", "emulator:stuck=1:14", "emulator:colour=red"}) {
    error.clear();
    EXPECT_FALSE(ParsePortChoice(bad, c, base, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  EmulatorOptions o;
  ASSERT_TRUE(ParseEmulatorOptions("pulses=5:25,stuck=0x2F:3,stuck=0x2F:0,chip", o, error));
  EXPECT_EQ(o.pulsesNeeded.at(5), 25);
  EXPECT_EQ(o.stuckBits.at(0x2F), 0x9);
  EXPECT_EQ(o.chipFile, "chip");
}

TEST(Port, BadEnvironmentChoiceOrUnreachableDeviceReachesNothingAndSaysWhy) {
  setenv("ZK7_PORT", "parallel", 1);
  Port bad;
  unsetenv("ZK7_PORT");
  bad.open(0x378);
  EXPECT_EQ(bad.driver(), nullptr);
  EXPECT_NE(bad.accessProblem().find("ZK7_PORT"), std::string::npos);
  EXPECT_EQ(bad.description(), "0x378 \u00B7 not accessible");

  Port port;
  PortChoice c;
  c.kind = PortChoice::Device;
  c.device = "/dev/zk7-no-such-parport";
  port.setChoice(c);
  port.open(0x278);
  const std::string& problem = port.accessProblem();
  EXPECT_NE(problem.find("0x278"), std::string::npos) << problem;
  EXPECT_NE(problem.find(std::strerror(ENOENT)), std::string::npos) << problem;
  EXPECT_NE(problem.find("parport_pc"), std::string::npos) << problem;
  port.DlPortWritePortUchar(0x278, 0x55);  // goes nowhere, no crash
  EXPECT_EQ(port.DlPortReadPortUchar(0x279), 0xFF);
}

TEST(Port, EmulatorIsKeptAcrossAddressChanges) {
  Port port;
  PortChoice c;
  c.kind = PortChoice::Emulator;
  port.setChoice(c);
  port.open(0x378);
  auto* chip = dynamic_cast<EmulatorDriver*>(port.driver());
  ASSERT_NE(chip, nullptr);
  port.open(0x3BC);
  EXPECT_EQ(port.driver(), chip);
  EXPECT_EQ(port.description(), "0x3BC \u00B7 emulated chip");
}

// A machine with parallel ports at 0x378 and 0xD010 (a PCIe card), one whose
// base the kernel cannot say and that has no device node, a USB-to-parallel
// bridge (base 0) and a device node the kernel does not list; ppdev and the
// I/O ports are the fake kernel's.
class PpdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    namespace fs = std::filesystem;  // a user other than root looks into this machine too
    fs::permissions(root, fs::perms::others_read | fs::perms::others_exec, fs::perm_options::add);
    std::filesystem::create_directories(dev);
    for (const auto& [name, base] : {std::pair{"parport0", "888\t1912\n"},
                                     {"parport1", "53264\t53248\n"},
                                     {"parport2", "junk\n"},
                                     {"parport4", "0\t0\n"}}) {
      std::filesystem::create_directories(proc + "/" + name + "/devices");
      std::ofstream(proc + "/" + name + "/base-addr") << base;
      setActive(name, "none");
    }
    for (const char* node : {"parport0", "parport1", "parport3", "parport4"})
      std::ofstream(dev + "/" + node);
    system.procRoot = proc;
    system.sysRoot = sys;
    system.devRoot = dev;
    system.ppdev = &fake;
    system.lockdownFile = root + "/lockdown";
    system.directIO = &io;
    port.setSystem(system);
    prog.InitLPTPort(0x378);
  }
  void setActive(const std::string& name, const char* holder) {
    std::ofstream(proc + "/" + name + "/devices/active") << holder << "\n";
  }
  void choose(const std::string& text) {
    PortChoice choice;
    std::uint16_t base = 0x378;
    std::string error;
    ASSERT_TRUE(ParsePortChoice(text, choice, base, error)) << error;
    port.setChoice(choice);
    prog.InitLPTPort(base);
  }
  std::string check() {
    std::string said;
    fake.calls.clear();
    prog.CheckLPT([&](const std::string&, const std::string& text) { said = text; });
    return said;
  }
  FlowResult readConfigWord() {
    fake.calls.clear();
    std::uint16_t word = 0;
    return prog.ReadChipConfigWord(word,
                                   FlowCallbacks{[](int) {}, nullptr, nullptr, nullptr, nullptr});
  }
  // Exits 0 when a user other than root is told how to get access to parport1.
  void exitWhetherOthersAreToldTheFix() {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) std::exit(2);
    std::exit(DiscoverParallelPorts(system)[1].problem.find(
                  "Permission denied. Add your user to the group lp (sudo usermod -aG lp $USER)") ==
              std::string::npos);
  }

  TempDir tmp{"zk7_machine"};
  std::string root = tmp.path();
  std::string proc = root + "/proc", dev = root + "/dev", sys = root + "/sys/bus/parport/devices";
  FakeParport fake{proc, dev, sys};
  FakePortIO io;
  PortSystem system;
  Port port;
  Programmer prog{port};
};

TEST_F(PpdevTest, DiscoveryListsEveryPortWithItsHolderAccessAndWarning) {
  setActive("parport1", "ppdev0");
  fake.loadLp(0);
  const auto ports = DiscoverParallelPorts(system);
  ASSERT_EQ(ports.size(), 5u);
  EXPECT_EQ(ports[0].portText, "0x378");
  EXPECT_EQ(ports[0].caption, "378 (" + dev + "/parport0)");
  EXPECT_TRUE(ports[0].holder.empty());
  EXPECT_TRUE(ports[0].problem.empty());
  EXPECT_NE(ports[0].warning.find("sudo modprobe -r lp"), std::string::npos);
  EXPECT_EQ(ports[1].portText, "0xD010");
  EXPECT_EQ(ports[1].caption, "D010 (" + dev + "/parport1)");
  EXPECT_EQ(ports[1].holder, "ppdev0");
  EXPECT_TRUE(ports[1].problem.empty());
  EXPECT_TRUE(ports[1].warning.empty());
  EXPECT_EQ(ports[2].portText, dev + "/parport2");
  EXPECT_NE(ports[2].problem.find("does not exist. Load the ppdev module"), std::string::npos);
  EXPECT_NE(ports[3].problem.find("USB-to-parallel bridge"), std::string::npos);
  EXPECT_EQ(ports[4].portText, dev + "/parport3");
  EXPECT_NE(ports[4].description.find("not listed"), std::string::npos);
  std::filesystem::permissions(dev + "/parport1", std::filesystem::perms::owner_read);
  EXPECT_EXIT(exitWhetherOthersAreToldTheFix(), ::testing::ExitedWithCode(0), "");
  std::string error;
  EXPECT_EQ(PpdevDeviceForBase(0x3BC, system, error), "");
  EXPECT_EQ(
      error,
      "no /dev/parportN has the base address 0x3BC (the kernel's ports are at 0x378, 0xD010)");
  PortSystem none = system;
  none.procRoot = root + "/none";
  EXPECT_EQ(PpdevDeviceForBase(0x378, none, error), "");
  EXPECT_NE(error.find("no parallel port"), std::string::npos) << error;

  // Direct I/O refused by the kernel lockdown says so rather than asking for root.
  std::ofstream(root + "/lockdown") << "none [integrity] confidentiality\n";
  EXPECT_EQ(DirectIORefusal(0xD010, EPERM, root + "/lockdown"),
            "direct I/O at 0xD010: refused by the kernel lockdown (Secure Boot)");
  EXPECT_EQ(DirectIORefusal(0x378, ENOSYS, root + "/lockdown"),
            "direct I/O at 0x378: this kernel has no direct port I/O; use ppdev");
}

TEST_F(PpdevTest, ACardIsClaimedOnlyWhileUsedAndTracedAtItsRealBase) {
  const std::string trace = root + "/trace";
  std::string error;
  ASSERT_TRUE(port.setTraceFile(trace, error)) << error;
  std::filesystem::create_symlink(dev + "/parport1", dev + "/zk7port");
  for (const std::string& text :
       {dev + "/parport1", std::string("D010"), dev + "/zk7port", dev + "/parport1"}) {
    choose(text);
    const std::string device = text == "D010" ? dev + "/parport1" : text;
    EXPECT_EQ(port.description(), "0xD010 \u00B7 " + device) << text;
    EXPECT_EQ(check(), "");
    // Exclusive, in compatibility mode with the data lines driven, for the one read.
    EXPECT_EQ(fake.calls, " open EXCL CLAIM MODE256 DIR0 R RELEASE close");
  }
  // A flow holds one claim from start to end.
  ASSERT_TRUE(readConfigWord().ok());
  EXPECT_EQ(fake.calls.find(" open EXCL CLAIM MODE256 DIR0 W"), 0u) << fake.calls;
  EXPECT_EQ(fake.calls.substr(fake.calls.size() - 16), " W RELEASE close");
  // One trace line per access and wait: four checks, then D 20, 13 + 67 + 141 writes, D 1, the
  // read's 53 writes and 14 reads, 3 writes.
  const auto lines = ReadLines(trace);
  EXPECT_EQ(lines.size(), 4u + 1 + 13 + 67 + 141 + 1 + 53 + 14 + 3);
  EXPECT_EQ(lines[1], "R D011 80");
  EXPECT_EQ(lines[4], "D 20");
  EXPECT_EQ(lines[5], "W D010 50");
  EXPECT_EQ(lines.back(), "W D010 F4");
  EXPECT_TRUE(fake.log.empty());
}

TEST_F(PpdevTest, WithThePrinterDriverLoadedThePortIsSharedWithoutKernelErrorsAndSaysSo) {
  // Loaded while another program had the port open, lp gets no folder in
  // /proc, only its link in /sys: exclusive access is not even asked for.
  const int other = fake.holdAsOtherProgram(0);
  fake.loadLp(0);
  fake.close(other);
  ASSERT_FALSE(std::filesystem::exists(proc + "/parport0/devices/lp"));
  for (int k = 0; k < 2; ++k) {
    EXPECT_EQ(check(), "");
    EXPECT_EQ(fake.calls, " open CLAIM MODE256 DIR0 R RELEASE close");
  }
  EXPECT_EQ(port.description(),
            "0x378 \u00B7 " + dev + "/parport0 (shared with lp: sudo modprobe -r lp)");
  EXPECT_NE(port.driver()->warning().find("print data"), std::string::npos);
  EXPECT_TRUE(fake.log.empty());
  EXPECT_NE(DiscoverParallelPorts(system)[0].warning.find("sudo modprobe -r lp"),
            std::string::npos);
  // Where neither lists it, the first refusal is remembered.
  std::filesystem::remove_all(sys);
  choose("378");
  EXPECT_EQ(check(), "");
  EXPECT_EQ(fake.calls, " open EXCL CLAIM close open CLAIM MODE256 DIR0 R RELEASE close");
  EXPECT_EQ(check(), "");
  EXPECT_EQ(fake.calls, " open CLAIM MODE256 DIR0 R RELEASE close");
  EXPECT_EQ(fake.log.size(), 2u) << "one refusal for the life of the open device";
  EXPECT_EQ(port.description(),
            "0x378 \u00B7 " + dev + "/parport0 (shared: exclusive access refused)");
  // A print job that holds the port is refused at once, with the fix.
  setActive("parport0", "lp");
  EXPECT_NE(check().find("in use by another program (kernel device lp). The printer driver lp"),
            std::string::npos);
}

TEST_F(PpdevTest, AnotherProgramsPortIsRefusedWithoutStandingItsRunStill) {
  const std::string inUse = "0x378 (" + dev + "/parport0) is in use by another program";
  const int other = fake.holdAsOtherProgram(0);
  EXPECT_EQ(check(), inUse + " (kernel device ppdev0)");
  EXPECT_EQ(fake.calls, "") << "the claim is not even tried";

  // A holder that came between the look and the claim: while our claim waits
  // in the kernel, the holder's own writes (a VPP pulse) wait with it.
  setActive("parport0", "none");
  std::atomic<bool> done{false};
  std::chrono::steady_clock::duration longest{};
  std::thread holder([&] {
    while (!done) {
      const auto t0 = std::chrono::steady_clock::now();
      unsigned char byte = 0x64;
      fake.ioctl(other, PPWDATA, &byte);
      longest = std::max(longest, std::chrono::steady_clock::now() - t0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  EXPECT_EQ(check(), inUse);
  const FlowResult r = readConfigWord();
  done = true;
  holder.join();
  EXPECT_EQ(r.status, FlowResult::Busy) << r.text;
  EXPECT_EQ(r.text, inUse) << r.text;
  EXPECT_LT(longest, std::chrono::milliseconds(250));
  EXPECT_EQ(fake.calls, " open CLAIM close");

  // Signals that end the wait early (Ctrl-Z and fg) reopen the device rather
  // than claiming twice on one descriptor, which would corrupt the port's wait list.
  fake.earlyInterrupts = 2;
  EXPECT_EQ(check(), inUse);
  EXPECT_EQ(fake.calls, " open CLAIM close open CLAIM close open CLAIM close");
  EXPECT_FALSE(fake.waitListBroken);
  EXPECT_EQ(fake.waiters(0), 0u);
}

TEST_F(PpdevTest, DevicesThatCannotDriveTheProgrammerAreRefusedWithTheReason) {
  std::filesystem::create_directories(dev + "/usb");
  std::ofstream(dev + "/usb/lp0");
  const std::pair<std::string, const char*> refused[] = {
      {"/dev/null", "/dev/null is not a parallel port (ppdev) device."},
      {dev + "/usb/lp0", "is not a parallel port (ppdev) device; it is a USB printer adapter"},
      {dev + "/parport4", "a USB-to-parallel bridge (no I/O address)"}};
  for (const auto& [device, why] : refused) {
    choose(device);
    EXPECT_EQ(port.driver(), nullptr) << device;
    EXPECT_NE(port.accessProblem().find(why), std::string::npos) << port.accessProblem();
  }
  // A link to a port is known by the device's number: its holder is found,
  // and so is the program that has its device open (here, this one).
  std::filesystem::create_symlink(dev + "/parport1", dev + "/zk7port");
  fake.holdAsOtherProgram(1);
  const int open = ::open((dev + "/parport1").c_str(), O_RDONLY | O_CLOEXEC);
  choose(dev + "/zk7port");
  EXPECT_EQ(check(), "0xD010 (" + dev +
                         "/zk7port) is in use by another program (kernel device ppdev1: "
                         "test_port, pid " +
                         std::to_string(getpid()) + ")");
  EXPECT_EQ(fake.calls, "") << "refused before waiting in the kernel";
  ::close(open);
}

TEST_F(PpdevTest, DirectIOLeavesKernelPortsAloneSetsTheModeAndSwitchesOffFromAnyThread) {
  // At a base the kernel drives, with ppdev not loaded, direct I/O would
  // bypass the kernel's sharing: refused, with the fix.
  std::filesystem::remove(dev + "/parport0");
  choose("378");
  EXPECT_EQ(port.driver(), nullptr);
  EXPECT_NE(port.accessProblem().find("the kernel drives this port (parport0)"), std::string::npos)
      << port.accessProblem();
  EXPECT_NE(port.accessProblem().find("sudo modprobe ppdev"), std::string::npos);
  EXPECT_EQ(io.grants, 0);

  // A port the kernel does not know, left by a BIOS in ECP mode with the data lines turned round.
  io.ecrs = {0x3BC + 0x402};
  io.reg = {{0x3BE, 0x2C}, {0x3BC + 0x402, 0x74}, {0x3BD, 0x80}};
  choose("3BC");
  ASSERT_NE(port.driver(), nullptr) << port.accessProblem();
  EXPECT_EQ(check(), "");
  EXPECT_EQ(io.reg[0x3BE], 0x0C) << "control: compatibility, data lines driven";
  EXPECT_EQ(io.reg[0x3BC + 0x402] >> 5, 0) << "ECR: standard mode";

  // A crash on a thread that never got port access still switches the lines off.
  std::string error;
  ASSERT_TRUE(port.claim(error));
  port.DlPortWritePortUchar(0x3BC, 0x6C);  // VPP and VDD on
  std::thread([] { SwitchOffPoweredPortsFromSignalHandler(); }).join();
  EXPECT_EQ(io.reg[0x3BC], 0xF4);
  EXPECT_EQ(io.faults, 0);
  port.release();
}

TEST_F(PpdevTest, PortsThatNobodyHoldsHaveTheirLinesSwitchedOff) {
  fake.data[0] = fake.data[1] = 0x04;  // as the kernel's probe leaves them
  fake.holdAsOtherProgram(1);
  std::vector<PortCandidate> ports = DiscoverParallelPorts(system);
  SwitchOffFreeParallelPorts(ports, system);
  EXPECT_TRUE(ports[0].linesOff);
  EXPECT_FALSE(ports[1].linesOff);
  EXPECT_FALSE(ports[2].linesOff);
  EXPECT_FALSE(ports[3].linesOff);
  EXPECT_TRUE(ports[4].linesOff);
  EXPECT_EQ(fake.data[0], kLinesOff);
  EXPECT_EQ(fake.data[1], 0x04) << "another program's port is left alone";

  // As root, the standard bases ppdev did not reach are written by direct
  // I/O where a port answers (nothing at 0x3BC: it reads FF), the data
  // register only; without parport_pc that is every one of them.
  io.reg = {{0x279, 0xD8}, {0x278, 0xAA}, {0x379, 0xD8}, {0x378, 0xAA}};
  EXPECT_EQ(SwitchOffStandardPortsDirectly(ports, system), std::vector<std::uint16_t>{0x278});
  EXPECT_EQ(SwitchOffStandardPortsDirectly({}, system), (std::vector<std::uint16_t>{0x378, 0x278}));
  EXPECT_EQ(io.reg, (std::map<unsigned, std::uint8_t>{
                        {0x279, 0xD8}, {0x278, kLinesOff}, {0x379, 0xD8}, {0x378, kLinesOff}}));
}

TEST_F(PpdevTest, AProgramWaitingForAnyPortHoldsOurClaimUntilItGetsItsPort) {
  // Another program waits in PPCLAIM for port 1, which a third one holds.
  // The kernel serves every ppdev call under the lock the waiter holds, so
  // our claim of the free port 0 waits as long, past its own time-out.
  const int holder = fake.holdAsOtherProgram(1);
  std::thread waiter([&] { fake.holdAsOtherProgram(1); });
  while (fake.waiters(1) == 0) std::this_thread::yield();
  std::atomic<bool> done{false};
  std::string said = "nothing yet";
  std::thread ours([&] {
    said = check();
    done = true;
  });
  while (fake.blockedOnLock() == 0) std::this_thread::yield();
  EXPECT_FALSE(done);
  fake.close(holder);  // the holder ends: the waiter gets port 1 and lets the lock go
  waiter.join();
  ours.join();
  EXPECT_EQ(said, "");
  EXPECT_EQ(fake.calls, " open EXCL CLAIM MODE256 DIR0 R RELEASE close");
}

}  // namespace
}  // namespace zk7
