// The USB adapter path: port texts, traces equal to the parallel port's,
// round trips, and the adapters it refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "port/emulator.h"
#include "port/ftdi_driver.h"
#include "port/ftdi_sim.h"
#include "programmer/programmer.h"

namespace zk7 {
namespace {

std::unique_ptr<PortDriver> UsbDriver(SimulatedFtdi*& sim) {
  auto owned = std::make_unique<SimulatedFtdi>(std::make_unique<EmulatorDriver>(), kFtdiChips[0],
                                               1000000, 1.0);
  sim = owned.get();
  std::string error;
  return MakeFtdiDriver(std::move(owned), error);
}

TEST(Ftdi, TraceEqualsTheParallelPortsAndAFrameIsOneRoundTrip) {
  std::string traces[2];
  int readTransfers = 0;
  for (int usb = 0; usb < 2; ++usb) {
    const std::string path = ::testing::TempDir() + "zk7_ftdi_trace_" + std::to_string(::getpid()) +
                             "_" + char('0' + usb);
    std::remove(path.c_str());
    Port port;
    SimulatedFtdi* sim = nullptr;
    if (usb) {
      port.setDriver(UsbDriver(sim));
    } else {
      auto chip = std::make_unique<EmulatorDriver>();
      chip->useWaitClock();
      port.setDriver(std::move(chip));
    }
    std::string error;
    ASSERT_TRUE(port.setTraceFile(path, error)) << error;
    Programmer prog(port);
    prog.InitLPTPort(0x378);
    FlowCallbacks cb;
    cb.wait = [](int) {};
    RegisterSet rs;
    SetDefaultRegisters(rs);
    rs.setConfigWord(5);
    MemoryImage image;
    ASSERT_TRUE(prog.ProgramDevice(rs, image, cb).ok());
    const int before = sim ? sim->transfers() : 0;
    ASSERT_TRUE(prog.ReadImageWords(image, cb).ok());
    if (sim) readTransfers = sim->transfers() - before;
    std::uint16_t word = 0;
    ASSERT_TRUE(prog.ReadChipConfigWord(word, cb).ok());
    port.setTraceFile("", error);
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    traces[usb] = text.str();
    std::remove(path.c_str());
  }
  EXPECT_GT(traces[0].size(), 100000u);
  EXPECT_TRUE(traces[0] == traces[1]);
  // 70 frames, each answered in one round trip, and the flush that powers the chip off.
  EXPECT_EQ(readTransfers, 71);
}

TEST(Ftdi, PortTextsParseAndListingsNameTheSerialNumber) {
  PortChoice c;
  std::uint16_t base = 0x378;
  std::string error;
  ASSERT_TRUE(ParsePortChoice("ftdi", c, base, error));
  EXPECT_TRUE(c.kind == PortChoice::Ftdi && c.usb.empty());
  ASSERT_TRUE(ParsePortChoice("ftdi:0403:6014:FT4XK2", c, base, error));
  EXPECT_EQ(c.usb, "0403:6014:FT4XK2");
  FtdiAddress a;
  ASSERT_TRUE(ParseFtdiAddress(c.usb, a, error));
  EXPECT_TRUE(!a.anyDefault && a.vendor == 0x0403 && a.product == 0x6014 && a.serial == "FT4XK2");
  for (const char* bad : {"ftdi:0403", "ftdi:0403:", "ftdi:0403:6001:", "ftdi:x403:6001",
                          "ftdi:10403:6001", "ftdix"}) {
    error.clear();
    EXPECT_FALSE(ParsePortChoice(bad, c, base, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  const PortCandidate p = FtdiCandidate(kFtdiChips[0], "A1B2C3D4", "FT232R USB UART", "");
  EXPECT_EQ(p.portText, "ftdi:0403:6001:A1B2C3D4");
  EXPECT_EQ(p.caption, "FT232R A1B2C3D4");
  ASSERT_TRUE(ParsePortChoice(p.portText, c, base, error));
  // A build without libftdi still understands the text and names the package.
  if (!FtdiUnavailableReason().empty()) {
    EXPECT_EQ(OpenFtdi("", error), nullptr);
    EXPECT_NE(error.find("libftdi1-dev"), std::string::npos) << error;
  }
}

TEST(Ftdi, CableCheckSaysItCannotCheckAndAFailedAdapterReadsAllOnes) {
  Port port;
  SimulatedFtdi* sim = nullptr;
  port.setDriver(UsbDriver(sim));
  EXPECT_EQ(port.description(), "USB \u00B7 FT232R SIMULATED");
  Programmer prog(port);
  std::string title, text;
  prog.CheckLPT([&](const std::string& t, const std::string& x) {
    title = t;
    text = x;
  });
  EXPECT_NE(text.find("cannot be checked"), std::string::npos) << text;

  std::string error;
  ASSERT_TRUE(port.claim(error)) << error;
  sim->unplug();
  EXPECT_EQ(prog.ReadData(), 0x3FFF);
  EXPECT_NE(port.accessProblem().find("LIBUSB_ERROR_NO_DEVICE"), std::string::npos);
  const int transfers = sim->transfers();
  prog.ReadData();  // after a failure nothing more is sent (no time-out per frame)
  EXPECT_EQ(sim->transfers(), transfers);
  port.release();

  // Pins running twice as fast as waits are counted in would halve every pulse.
  auto fast = std::make_unique<SimulatedFtdi>(std::make_unique<EmulatorDriver>(), kFtdiChips[0],
                                              1000000, 2.0);
  EXPECT_EQ(MakeFtdiDriver(std::move(fast), error), nullptr);
  EXPECT_NE(error.find("faster than the 500000"), std::string::npos) << error;
}

TEST(Ftdi, TheAdapterIsOpenOnlyDuringAFlowAndABusyOneIsNamedAndSentNothing) {
  Port port;
  SimulatedFtdi* sim = nullptr;
  port.setDriver(UsbDriver(sim));
  EXPECT_TRUE(sim->opens() == 1 && !sim->isOpen());  // found and given back at once
  Programmer prog(port);
  prog.InitLPTPort(0x378);
  std::uint16_t word = 0;
  int sent[2] = {};
  for (int flow = 0; flow < 2; ++flow) {
    const int before = sim->transfers();
    ASSERT_TRUE(prog.ReadChipConfigWord(word, FlowCallbacks{}).ok());
    sent[flow] = sim->transfers() - before;
    // Closed after the flow, every byte sent (a send to a closed adapter fails).
    EXPECT_TRUE(sim->opens() == 2 + flow && sim->closes() == 2 + flow && !sim->isOpen());
    EXPECT_EQ(port.accessProblem(), "");
    EXPECT_FALSE(sim->emulator().inProgrammingMode());
  }
  EXPECT_EQ(sent[0], sent[1]);  // the pins' rate was timed when the adapter was chosen

  sim->setBusy(true);
  const int before = sim->transfers();
  const FlowResult r = prog.ReadChipConfigWord(word, FlowCallbacks{});
  EXPECT_EQ(r.status, FlowResult::Busy);
  EXPECT_EQ(r.text, "USB adapter FT232R SIMULATED is in use by another program");
  EXPECT_EQ(sim->transfers(), before);
  EXPECT_FALSE(sim->isOpen());
}

}  // namespace
}  // namespace zk7
