// Port choice, access problems, descriptions and the port trace.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "programmer/drivers.h"
#include "programmer/emulator.h"
#include "programmer/programmer.h"

namespace zk7 {
namespace {

std::vector<std::string> ReadLines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

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
       {Good{"3bc", PortChoice::Auto, 0x3BC, ""}, Good{"0x278", PortChoice::Auto, 0x278, ""},
        Good{"/dev/parport1", PortChoice::Device, 0x278, "/dev/parport1"},
        Good{"emulator:chip.txt,fault=nocable,pulses=config:3", PortChoice::Emulator, 0x278,
             "chip.txt,fault=nocable,pulses=config:3"}}) {
    ASSERT_TRUE(ParsePortChoice(g.text, c, base, error)) << g.text;
    EXPECT_TRUE(c.kind == g.kind && base == g.base) << g.text;
    EXPECT_EQ(c.kind == PortChoice::Device ? c.device : c.emulatorOptions, g.detail) << g.text;
  }
  for (const char* bad : {"lpt1", "379", "", "emulator:fault=smoke", "emulator:a,b",
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
  EXPECT_EQ(port.description(), "0x378 \u00B7 emulated chip");
  EXPECT_TRUE(port.accessProblem().empty());
  chip->setImageWord(0, 0x3412);
  port.open(0x3BC);
  EXPECT_EQ(port.driver(), chip);
  EXPECT_EQ(port.description(), "0x3BC \u00B7 emulated chip");
  // A fault-free emulated adapter leaves the cable check silent.
  std::string warning;
  Programmer(port).CheckLPT([&](const std::string&, const std::string& text) { warning = text; });
  EXPECT_EQ(warning, "");
}

TEST(Port, TraceHasOneLinePerAccessAndWait) {
  const std::string path = ::testing::TempDir() + "zk7_trace_" + std::to_string(::getpid());
  std::remove(path.c_str());
  setenv("ZK7_PORT_TRACE", path.c_str(), 1);
  {
    Port port;
    unsetenv("ZK7_PORT_TRACE");
    auto chip = std::make_unique<EmulatorDriver>();
    chip->useWaitClock();
    chip->setFault(EmulatorOptions::NoChipLow);
    port.setDriver(std::move(chip));
    Programmer prog(port);
    prog.InitLPTPort(0x3BC);
    prog.setCallbacks(FlowCallbacks{[](int) {}, nullptr, nullptr, nullptr, nullptr});
    prog.SetProgLine("CLKOUT_1");
    prog.CheckLPT(nullptr);
    prog.DelayMs(20);
    prog.ReadData();
  }
  const auto lines = ReadLines(path);
  ASSERT_EQ(lines.size(), 3u + 53 + 14);
  EXPECT_EQ(lines[0], "W 3BC D2");
  EXPECT_EQ(lines[1], "R 3BD 8F");
  EXPECT_EQ(lines[2], "D 20");
  EXPECT_EQ(lines[3], "W 3BC D6");  // DATWREN_ON added to the clock-high byte
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "R 3BD 8F"), 15);
  std::remove(path.c_str());
}

TEST(Ppdev, AddressIsMappedThroughTheKernelsBaseAddressFiles) {
  const std::string root = ::testing::TempDir() + "zk7_proc_" + std::to_string(::getpid());
  for (const auto& [dir, text] : std::vector<std::pair<std::string, std::string>>{
           {"parport0", "888\t1912\n"}, {"parport1", "632\t-1\n"}, {"parport2", "junk\n"}}) {
    ASSERT_EQ(std::system(("mkdir -p " + root + "/" + dir).c_str()), 0);
    std::ofstream(root + "/" + dir + "/base-addr") << text;
  }
  std::string error;
  EXPECT_EQ(PpdevDeviceForBase(0x378, error, root), "/dev/parport0");
  EXPECT_EQ(PpdevDeviceForBase(0x278, error, root), "/dev/parport1");
  EXPECT_EQ(PpdevDeviceForBase(0x3BC, error, root), "");
  EXPECT_NE(error.find("0x3BC"), std::string::npos) << error;
  EXPECT_EQ(PpdevDeviceForBase(0x378, error, root + "/none"), "");
  EXPECT_NE(error.find("no parallel port"), std::string::npos) << error;
  std::system(("rm -rf " + root).c_str());
}

TEST(Ppdev, ADeviceThatCannotBeClaimedIsRefused) {
  std::string error;
  EXPECT_EQ(OpenPpdev("/dev/null", error), nullptr);
  EXPECT_NE(error.find("claiming the port failed"), std::string::npos) << error;
}

}  // namespace
}  // namespace zk7
