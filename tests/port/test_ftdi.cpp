// The USB adapter path over the simulated adapter: traces equal to the
// parallel port's, the chip unpowered in every state the adapter shows on its
// own and after every ending, pulses of at least 1 ms on every model, the
// faults a transfer, an unplug or the echo can bring, and what the set-up refuses.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>

#include "child_process.h"
#include "port/emulator.h"
#include "port/ftdi_driver.h"
#include "port/ftdi_sim.h"
#include "programmer/programmer.h"

namespace zk7 {
namespace {

bool Unpowered(std::uint8_t lines) {
  return (lines & kVppOnBit) == 0 && (lines & kVddOffBit) != 0 && (lines & kPrgOffBit) != 0;
}

std::string TempPath(const std::string& name) {
  const std::string path = ::testing::TempDir() + "zk7_" + name + "_" + std::to_string(::getpid());
  std::remove(path.c_str());
  return path;
}

// A port over a simulated adapter, chosen as the windows and zk7prog choose
// one. The flows' own waits take no time: every wait must be proven by the
// driver on the adapter's clock.
struct UsbBench {
  explicit UsbBench(const UsbModel& model = kUsbModels[0], UsbEmulation usb = {},
                    const std::function<void(SimulatedFtdi&)>& atPlugIn = {}) {
    auto owned = std::make_unique<SimulatedFtdi>(std::make_unique<EmulatorDriver>(), model, usb);
    sim = owned.get();
    if (atPlugIn) atPlugIn(*sim);
    auto driver = MakeFtdiDriver(std::move(owned), error);
    if (!driver) throw std::runtime_error(error);
    port.setDriver(std::move(driver));
    prog.InitLPTPort(0x378);
    cb.wait = [](int) {};
    SetDefaultRegisters(rs);
  }
  FlowResult program() { return prog.ProgramDevice(rs, image, cb); }

  Port port;
  Programmer prog{port};
  SimulatedFtdi* sim = nullptr;
  FlowCallbacks cb;
  RegisterSet rs;
  MemoryImage image;
  std::string error;
};

TEST(Ftdi, TraceEqualsTheParallelPortsAndAFrameIsOneRoundTrip) {
  std::string traces[2];
  int readTransfers = 0;
  for (int usb = 0; usb < 2; ++usb) {
    UsbBench b;
    if (!usb) {  // the parallel port's bench: the emulated chip alone, on its wait clock
      auto chip = std::make_unique<EmulatorDriver>();
      chip->useWaitClock();
      b.port.setDriver(std::move(chip));
      b.prog.InitLPTPort(0x378);
    }
    const std::string path = TempPath("ftdi_trace");
    ASSERT_TRUE(b.port.setTraceFile(path, b.error)) << b.error;
    b.rs.setConfigWord(5);
    ASSERT_TRUE(b.program().ok());
    const int before = usb ? b.sim->transfers() : 0;
    ASSERT_TRUE(b.prog.ReadImageWords(b.image, b.cb).ok());
    if (usb) readTransfers = b.sim->transfers() - before;
    std::uint16_t word = 0;
    ASSERT_TRUE(b.prog.ReadChipConfigWord(word, b.cb).ok());
    b.port.setTraceFile("", b.error);
    traces[usb] = ReadText(path);
    std::remove(path.c_str());
  }
  EXPECT_GT(traces[0].size(), 100000u);
  EXPECT_TRUE(traces[0] == traces[1]);
  // The set-up's transfer, 70 frames each answered in one round trip, and the
  // flush that powers the chip off.
  EXPECT_EQ(readTransfers, 72);
}

TEST(Ftdi, EveryModelRunsOnItsOwnClockWithProvenPulsesAndNeverPowersTheChipUndriven) {
  for (const UsbModel& model : kUsbModels) {
    for (const bool latchKept : {true, false}) {
      SCOPED_TRACE(std::string(model.name) + (latchKept ? " latch kept" : " latch reset"));
      // Before the program opens it, another program holds it as a serial
      // port (DTR# and RTS# asserted) and probes it with "AT".
      UsbBench b(model, {}, [&](SimulatedFtdi& s) {
        s.setLatchKeptAcrossBitmode(latchKept);
        s.setSeed(latchKept ? 7 : 11);
        s.openAsSerialPort();
        s.sendAsSerialPort("AT\r");
      });
      const FtdiChip* chip = FtdiChipByRelease(model.release);
      ASSERT_NE(chip, nullptr);
      EXPECT_NEAR(b.sim->pinRateHz(), chip->pinRate, chip->pinRate * 0.02);
      const FlowResult r = b.program();
      ASSERT_TRUE(r.ok()) << r.title << ": " << r.text;
      std::uint16_t word = 0;
      ASSERT_TRUE(b.prog.ReadChipConfigWord(word, b.cb).ok());  // a second set-up, pins off
      EmulatorDriver& e = b.sim->emulator();
      // Every pulse lasted 1 ms at the chip's pins, measured on the adapter's
      // clock, though the pin clock varies on the full-speed parts.
      EXPECT_EQ(e.shortPulses() + e.protocolErrors(), 0);
      EXPECT_GE(e.totalPulses(), 200);
      for (const bool pullDown : {false, true}) {
        b.sim->setEeprom(pullDown, 0);
        b.sim->suspend(true);
        b.sim->suspend(false);
      }
      b.sim->unplug();

      const auto& h = b.sim->history();
      std::set<std::string> seen;
      for (const auto& s : h) {
        seen.insert(s.adapter);
        if (std::string(s.adapter) != "bit-bang") {
          EXPECT_TRUE(Unpowered(s.lines)) << s.adapter << " " << int(s.lines) << " at " << s.ns;
        }
      }
      EXPECT_EQ(seen.size(), 5u);  // serial port, inputs, bit-bang, suspended, unplugged
      // Programming-mode select comes first, before any voltage.
      std::size_t first = 0;
      while (first < h.size() && Unpowered(h[first].lines)) ++first;
      ASSERT_LT(first, h.size());
      EXPECT_EQ(h[first].lines, 0x50);
      EXPECT_TRUE(Unpowered(h.back().lines));
    }
  }
}

TEST(Ftdi, AFailedTransferAnUnplugOrABadEchoStopsTheRunAndSaysWhetherTheChipIsOff) {
  constexpr int kAt = 60;  // among the configuration word's pulses
  const std::string off = "; the chip was switched off.";
  const std::string unsure = "; the chip may still be powered: unplug the adapter.";
  struct Case {
    const char* options;
    bool secondFailure;  // the transfer that switches off fails too: a fresh set-up does it
    std::string cause, ending;
    int opens;  // in the run: its own set-up, and one more when the fresh transfer failed
    bool nextRunPasses;
  };
  const Case cases[] = {
      {"usb-fail=60", false, "LIBUSB_ERROR_IO", off, 1, true},
      {"usb-fail=60", true, "LIBUSB_ERROR_IO", off, 2, true},
      {"usb-unplug=60", false, "LIBUSB_ERROR_NO_DEVICE", unsure, 1, false},
      {"usb-echo=late:60", false, "out of step", off, 1, true},
      {"usb-echo=stuck:60", false, "CLK on TXD (D0) read high", off, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    EmulatorOptions options;
    std::string error;
    ASSERT_TRUE(ParseEmulatorOptions(std::string("usb=ft232r,") + c.options, options, error));
    UsbBench b(kUsbModels[0], options.usb);
    if (c.secondFailure) b.sim->failTransfer(kAt + 1);
    const int opens = b.sim->opens();
    const std::string trace = TempPath("ftdi_fault");
    ASSERT_TRUE(b.port.setTraceFile(trace, error));
    const FlowResult r = b.program();
    b.port.setTraceFile("", error);
    EXPECT_EQ(r.status, FlowResult::Failed);
    EXPECT_EQ(r.title, "Check USB Adapter");
    EXPECT_NE(r.text.find(c.cause), std::string::npos) << r.text;
    EXPECT_EQ(r.text.substr(r.text.size() - c.ending.size()), c.ending) << r.text;
    // Stopped at once: a set-up at most, nothing more.
    EXPECT_EQ(b.sim->opens() - opens, c.opens);
    EXPECT_LE(b.sim->transfers(), kAt + 2);
    EXPECT_LT(b.sim->emulator().totalPulses(), 100);
    // Powered when it struck, unpowered at the end: at the pins and in the trace.
    const auto& h = b.sim->history();
    EXPECT_TRUE(std::any_of(h.begin(), h.end(), [](const auto& s) { return !Unpowered(s.lines); }));
    EXPECT_TRUE(Unpowered(h.back().lines));
    EXPECT_FALSE(b.sim->emulator().powered());
    const int last = LastWrite(ReadText(trace));
    EXPECT_TRUE(last >= 0 && !LinesPowered(static_cast<std::uint8_t>(last))) << last;
    std::remove(trace.c_str());
    EXPECT_EQ(b.program().ok(), c.nextRunPasses) << b.port.accessProblem();
  }
}

TEST(Ftdi, SetUpRefusesChipsWithoutFiguresAndBoardsOrPinsThatWouldPowerTheChip) {
  UsbModel bm = kUsbModels[0];
  bm.name = "FT232BM";
  bm.release = 0x0400;
  struct Case {
    UsbModel model;
    std::function<void(SimulatedFtdi&)> build;
    std::string why;
  };
  const Case cases[] = {
      {bm,
       {},
       "an FT232BM has no bit-bang figures here, so it is not used; the supported chips are "
       "FT232R, FT232H, FT2232D and FT2232H."},
      {kUsbModels[0], [](SimulatedFtdi& s) { s.setEeprom(false, 0x01); },
       "do not read back what was sent (CLK on TXD (D0) read high)"},
      {kUsbModels[0], [](SimulatedFtdi& s) { s.setBoardPullDown(0x08, 0); },
       "with every pin an input, VPP on CTS# (D3) read high: a pull-down resistor is missing"},
      {kUsbModels[1], [](SimulatedFtdi& s) { s.setBoardPullDown(0x20, 100000); },
       "VDD on DSR# (D5) read high: a pull-down resistor is missing"},
  };
  for (const Case& c : cases) {
    SimulatedFtdi sim(std::make_unique<EmulatorDriver>(), c.model);
    if (c.build) c.build(sim);
    std::string error;
    EXPECT_FALSE(SetUpAdapter(sim, error));
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
    EXPECT_FALSE(sim.isOpen());
    // Nothing we drove powered the chip (a board without its pull-down does
    // so by itself); a refused adapter is left with its pins inputs.
    for (const auto& s : sim.history()) {
      if (std::string(s.adapter) == "bit-bang") {
        EXPECT_TRUE(Unpowered(s.lines)) << error;
      }
    }
    EXPECT_STRNE(sim.history().back().adapter, "bit-bang");
  }

  // A run that died between making every pin an input and latching the off
  // byte leaves a powered latch under inputs: it never reaches the pins.
  SimulatedFtdi sim(std::make_unique<EmulatorDriver>());
  std::string error;
  std::vector<std::uint8_t> echo;
  ASSERT_TRUE(sim.open(error) && sim.setBitmode(0x00, FtdiBackend::Mode::SyncBitbang, error) &&
              sim.transfer({PinsFromData(0x6C)}, echo, error));
  sim.close();
  const std::size_t before = sim.history().size();
  ASSERT_TRUE(SetUpAdapter(sim, error)) << error;
  for (std::size_t k = before; k < sim.history().size(); ++k)
    EXPECT_TRUE(Unpowered(sim.history()[k].lines)) << k;
}

TEST(Ftdi, PortTextsAndEmulatorOptionsParseAndTheEmulatorReachesTheSimulatedAdapter) {
  PortChoice c;
  std::uint16_t base = 0x378;
  std::string error;
  ASSERT_TRUE(ParsePortChoice("ftdi", c, base, error));
  EXPECT_TRUE(c.kind == PortChoice::Ftdi && c.usb.empty());
  ASSERT_TRUE(ParsePortChoice("ftdi:0403:6014:FT4XK2", c, base, error));
  FtdiAddress a;
  ASSERT_TRUE(ParseFtdiAddress(c.usb, a, error));
  EXPECT_TRUE(!a.anyDefault && a.vendor == 0x0403 && a.product == 0x6014 && a.serial == "FT4XK2");
  EmulatorOptions o;
  ASSERT_TRUE(ParseEmulatorOptions(
      "chip,usb=ft2232d,usb-rtt=0.25,usb-fail=3,usb-unplug=9,usb-echo=late:4", o, error));
  EXPECT_TRUE(o.usb.model == "ft2232d" && o.usb.roundTripMs == 0.25 && o.usb.failAt == 3 &&
              o.usb.unplugAt == 9 && o.usb.echo == UsbEmulation::Late && o.usb.echoAt == 4);
  ASSERT_TRUE(ParseEmulatorOptions("usb=ft232h,usb-echo=stuck", o, error));
  EXPECT_TRUE(o.usb.echo == UsbEmulation::Stuck && o.usb.echoAt == 1);
  for (const char* bad :
       {"ftdi:0403", "ftdi:0403:", "ftdi:0403:6001:", "ftdi:x403:6001", "ftdi:10403:6001", "ftdix",
        "emulator:usb=ft4232h", "emulator:usb-rtt=1", "emulator:usb=ft232r,usb-rtt=0",
        "emulator:usb=ft232r,usb-rtt=1.5x", "emulator:usb=ft232r,usb-fail=0",
        "emulator:usb=ft232r,usb-echo=slow", "emulator:usb=ft232r,usb-echo=late:x"}) {
    error.clear();
    EXPECT_FALSE(ParsePortChoice(bad, c, base, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  const PortCandidate p =
      FtdiCandidate("FT232R", 0x0403, 0x6001, "A1B2C3D4", "FT232R USB UART", "");
  EXPECT_EQ(p.portText, "ftdi:0403:6001:A1B2C3D4");
  EXPECT_EQ(p.caption, "FT232R A1B2C3D4");
  // A build without libftdi still understands the text and names the package.
  if (!FtdiUnavailableReason().empty()) {
    EXPECT_EQ(OpenFtdi("", error), nullptr);
    EXPECT_NE(error.find("libftdi1-dev"), std::string::npos) << error;
  }

  // emulator:usb=... puts the chip behind the simulated adapter and traces its pins.
  const std::string trace = TempPath("pin_trace");
  setenv("ZK7_PIN_TRACE", trace.c_str(), 1);
  Port port;
  ASSERT_TRUE(ParsePortChoice("emulator:usb=ft232h,usb-rtt=0.5", c, base, error));
  port.setChoice(c);
  Programmer prog(port);
  prog.InitLPTPort(0x378);
  unsetenv("ZK7_PIN_TRACE");
  ASSERT_EQ(port.accessProblem(), "");
  EXPECT_EQ(port.description(), "USB \u00B7 FT232H SIMULATED");
  std::string title, text;
  prog.CheckLPT([&](const std::string&, const std::string& x) { text = x; });
  EXPECT_NE(text.find("cannot be checked"), std::string::npos) << text;
  std::uint16_t word = 0;
  ASSERT_TRUE(prog.ReadChipConfigWord(word, FlowCallbacks{}).ok());
  EXPECT_EQ(word, 0x3FFF);
  const std::vector<std::string> lines = ReadLines(trace);
  ASSERT_GT(lines.size(), 100u);
  EXPECT_EQ(lines.front(), "T 0.000 D3");  // a serial port at plug-in: TXD and RTS# high
  double last = -1;
  bool programming = false;
  for (const std::string& line : lines) {
    double us = 0;
    unsigned byte = 0;
    ASSERT_EQ(std::sscanf(line.c_str(), "T %lf %2X", &us, &byte), 2) << line;
    EXPECT_GE(us, last) << line;
    last = us;
    programming |= (byte & kPrgOffBit) == 0 && (byte & kVppOnBit) && !(byte & kVddOffBit);
  }
  EXPECT_TRUE(programming);
  EXPECT_TRUE(Unpowered(static_cast<std::uint8_t>(
      std::stoul(lines.back().substr(lines.back().rfind(' ')), nullptr, 16))));
  std::remove(trace.c_str());
}

TEST(Ftdi, TheAdapterIsOpenOnlyDuringAFlowAndABusyOneIsNamedAndSentNothing) {
  UsbBench b;
  EXPECT_TRUE(b.sim->opens() == 1 && !b.sim->isOpen());  // found and given back at once
  std::uint16_t word = 0;
  int sent[2] = {};
  for (int flow = 0; flow < 2; ++flow) {
    const int before = b.sim->transfers();
    ASSERT_TRUE(b.prog.ReadChipConfigWord(word, b.cb).ok());
    sent[flow] = b.sim->transfers() - before;
    // Closed after the flow, every byte sent (a send to a closed adapter fails).
    EXPECT_TRUE(b.sim->opens() == 2 + flow && b.sim->closes() == 2 + flow && !b.sim->isOpen());
    EXPECT_EQ(b.port.accessProblem(), "");
    EXPECT_FALSE(b.sim->emulator().inProgrammingMode());
  }
  EXPECT_EQ(sent[0], sent[1]);

  b.sim->setBusy(true);
  const int before = b.sim->transfers();
  const FlowResult r = b.prog.ReadChipConfigWord(word, b.cb);
  EXPECT_EQ(r.status, FlowResult::Busy);
  EXPECT_EQ(r.text, "USB adapter FT232R SIMULATED is in use by another program");
  EXPECT_EQ(b.sim->transfers(), before);
  EXPECT_FALSE(b.sim->isOpen());
}

}  // namespace
}  // namespace zk7
