// Port choice, access problems, descriptions and the port trace.
#include <gtest/gtest.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "port/discovery.h"
#include "port/drivers.h"
#include "port/emulator.h"
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
       {Good{"0xD010", PortChoice::Auto, 0xD010, ""}, Good{"e000", PortChoice::Auto, 0xE000, ""},
        Good{"3bc", PortChoice::Auto, 0x3BC, ""}, Good{"0x278", PortChoice::Auto, 0x278, ""},
        Good{"/dev/parport1", PortChoice::Device, 0x278, "/dev/parport1"},
        Good{"emulator:chip.txt,fault=nocable,pulses=config:3", PortChoice::Emulator, 0x278,
             "chip.txt,fault=nocable,pulses=config:3"}}) {
    ASSERT_TRUE(ParsePortChoice(g.text, c, base, error)) << g.text;
    EXPECT_TRUE(c.kind == g.kind && base == g.base) << g.text;
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

// A ppdev device that records its calls, and can refuse exclusive access or
// wait in the claim as the kernel does while another program holds the port.
class FakePpdev : public PpdevCalls {
 public:
  enum { Grants, Blocks, RefusesExclusive } claim = Grants;
  std::string calls;  // " open EXCL CLAIM MODE256 DIR0 R RELEASE close"
  int open(const std::string&, int) override {
    calls += " open";
    exclusive_ = false;
    return 42;
  }
  int close(int) override {
    calls += " close";
    return 0;
  }
  int ioctl(int, unsigned long request, void* arg) override {
    const std::pair<unsigned long, const char*> names[] = {
        {PPEXCL, "EXCL"}, {PPCLAIM, "CLAIM"}, {PPSETMODE, "MODE"},   {PPDATADIR, "DIR"},
        {PPRSTATUS, "R"}, {PPWDATA, "W"},     {PPRELEASE, "RELEASE"}};
    for (const auto& [r, name] : names)
      if (r == request) calls += std::string(" ") + name;
    if (request == PPSETMODE || request == PPDATADIR)
      calls += std::to_string(*static_cast<int*>(arg));
    if (request == PPRSTATUS) *static_cast<unsigned char*>(arg) = 0x80;
    exclusive_ |= request == PPEXCL;
    if (request != PPCLAIM || claim == Grants || (claim == RefusesExclusive && !exclusive_))
      return 0;
    errno = claim == Blocks ? (pause(), EINTR) : ENXIO;
    return -1;
  }

 private:
  bool exclusive_ = false;
};

// A machine with parallel ports at 0x378 and 0xD010 (a PCIe card), one whose
// base the kernel cannot say and that has no device node, and a device node
// the kernel does not list; ppdev reached through FakePpdev.
class PpdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dev);
    for (const auto& [name, base] : {std::pair{"parport0", "888\t1912\n"},
                                     {"parport1", "53264\t53248\n"},
                                     {"parport2", "junk\n"}}) {
      std::filesystem::create_directories(proc + "/" + name + "/devices");
      std::ofstream(proc + "/" + name + "/base-addr") << base;
      setActive(name, "none");
    }
    for (const char* node : {"parport0", "parport1", "parport3"}) std::ofstream(dev + "/" + node);
    port.setSystem(PortSystem{proc, dev, &fake, 150, root + "/lockdown"});
    prog.InitLPTPort(0x378);
  }
  void TearDown() override { std::filesystem::remove_all(root); }
  void setActive(const std::string& name, const char* holder) {
    std::ofstream(proc + "/" + name + "/devices/active") << holder << "\n";
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
    std::exit(DiscoverParallelPorts(proc, dev)[1].problem.find(
                  "Permission denied. Add your user to the group lp (sudo usermod -aG lp $USER)") ==
              std::string::npos);
  }

  std::string root = ::testing::TempDir() + "zk7_machine_" + std::to_string(::getpid());
  std::string proc = root + "/proc", dev = root + "/dev";
  FakePpdev fake;
  Port port;
  Programmer prog{port};
};

TEST_F(PpdevTest, DiscoveryListsEveryPortWithItsHolderAndAccess) {
  setActive("parport1", "ppdev0");
  const auto ports = DiscoverParallelPorts(proc, dev);
  ASSERT_EQ(ports.size(), 4u);
  EXPECT_TRUE(ports[0].portText == "0x378" && ports[0].caption == "378 (" + dev + "/parport0)" &&
              ports[0].holder.empty() && ports[0].problem.empty());
  EXPECT_TRUE(ports[1].portText == "0xD010" && ports[1].caption == "D010 (" + dev + "/parport1)" &&
              ports[1].holder == "ppdev0" && ports[1].problem.empty());
  EXPECT_TRUE(ports[2].portText == dev + "/parport2" &&
              ports[2].problem.find("does not exist. Load the ppdev module") != std::string::npos);
  EXPECT_TRUE(ports[3].portText == dev + "/parport3" &&
              ports[3].description.find("not listed") != std::string::npos);
  std::filesystem::permissions(dev + "/parport1", std::filesystem::perms::owner_read);
  EXPECT_EXIT(exitWhetherOthersAreToldTheFix(), ::testing::ExitedWithCode(0), "");
  std::string error;
  EXPECT_EQ(PpdevDeviceForBase(0x3BC, error, proc, dev), "");
  EXPECT_NE(error.find("no /dev/parportN has the base address 0x3BC"), std::string::npos);
  EXPECT_EQ(PpdevDeviceForBase(0x378, error, root + "/none", dev), "");
  EXPECT_NE(error.find("no parallel port"), std::string::npos) << error;

  // Direct I/O refused by the kernel lockdown says so rather than asking for root.
  std::ofstream(root + "/lockdown") << "none [integrity] confidentiality\n";
  EXPECT_EQ(DirectIORefusal(0xD010, EPERM, root + "/lockdown"),
            "direct I/O at 0xD010: refused by the kernel lockdown (Secure Boot)");
}

TEST_F(PpdevTest, ACardIsClaimedOnlyWhileUsedAndTracedAtItsRealBase) {
  const std::string trace = root + "/trace";
  std::string error;
  ASSERT_TRUE(port.setTraceFile(trace, error)) << error;
  PortChoice choice;
  std::uint16_t base = 0x378;
  for (const std::string& text : {dev + "/parport1", std::string("D010")}) {
    ASSERT_TRUE(ParsePortChoice(text, choice, base, error)) << error;
    port.setChoice(choice);
    prog.InitLPTPort(base);
    EXPECT_EQ(port.description(), "0xD010 \u00B7 " + dev + "/parport1") << text;
    EXPECT_EQ(check(), "");
    // Exclusive, in compatibility mode with the data lines driven, for the one read.
    EXPECT_EQ(fake.calls, " open EXCL CLAIM MODE256 DIR0 R RELEASE close");
  }
  // A flow holds one claim from start to end.
  ASSERT_TRUE(readConfigWord().ok());
  EXPECT_EQ(fake.calls.find(" open EXCL CLAIM MODE256 DIR0 W"), 0u) << fake.calls;
  EXPECT_EQ(fake.calls.substr(fake.calls.size() - 16), " W RELEASE close");
  // One trace line per access and wait: two checks, then D 20, 13 + 67 + 141 writes, D 1, the
  // read's 53 writes and 14 reads, 3 writes.
  const auto lines = ReadLines(trace);
  EXPECT_EQ(lines.size(), 2u + 1 + 13 + 67 + 141 + 1 + 53 + 14 + 3);
  EXPECT_TRUE(lines[1] == "R D011 80" && lines[2] == "D 20" && lines[3] == "W D010 50" &&
              lines.back() == "W D010 F4");

  // Where the kernel refuses exclusive access the port is used shared, and says so.
  fake.claim = FakePpdev::RefusesExclusive;
  EXPECT_EQ(check(), "");
  EXPECT_EQ(fake.calls, " open EXCL CLAIM close open CLAIM MODE256 DIR0 R RELEASE close");
  EXPECT_EQ(port.description(),
            "0xD010 \u00B7 " + dev + "/parport1 (shared: exclusive access refused)");
}

TEST_F(PpdevTest, APortAnotherProgramHoldsIsRefusedWithinTheDeadline) {
  const std::string inUse = "0x378 (" + dev + "/parport0) is in use by another program";
  setActive("parport0", "ppdev0");
  EXPECT_EQ(check(), inUse + " (ppdev0)");
  EXPECT_EQ(fake.calls, "") << "the claim is not even tried";
  // A holder that comes between the look and the claim: the claim's wait ends.
  setActive("parport0", "none");
  fake.claim = FakePpdev::Blocks;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(check(), inUse);
  const FlowResult r = readConfigWord();
  EXPECT_TRUE(r.status == FlowResult::Busy && r.text == inUse) << r.text;
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(1000));
  EXPECT_EQ(fake.calls, " open EXCL CLAIM close");
}

}  // namespace
}  // namespace zk7
