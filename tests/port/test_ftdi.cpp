// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The USB adapter path through the real libftdi against the model of the
// FTDI silicon (the libusb stand-in serves the simulated bus): traces equal
// to the parallel port's, the chip unpowered in every state the adapter shows
// on its own and after every ending, the adapter a serial port again after
// each use, pulses of at least 1 ms on every model, the faults a transfer, an
// unplug or the echo can bring, what the set-up refuses, and what the guard
// is told.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "child_process.h"
#include "port/guard.h"
#include "support/emulated_chip.h"
#include "support/temp_dir.h"
#include "usb_rig.h"

namespace zk7 {
namespace {

using sim::kFtdiModels;

bool Unpowered(std::uint8_t lines) {
  return (lines & kVppOnBit) == 0 && (lines & kVddOffBit) != 0 && (lines & kPrgOffBit) != 0;
}

std::string TempPath(const std::string& name) {
  static const TempDir dir("zk7_ftdi");
  const std::string path = dir.path(name);
  std::remove(path.c_str());
  return path;
}

// A port over a simulated adapter through libftdi. The flows' own waits take
// no time: every wait must be proven by the driver on the bus's clock.
struct UsbBench : UsbRig, ChipBench {
  explicit UsbBench(const sim::FtdiModel& model = kFtdiModels[0],
                    const std::function<void(UsbBench&)>& atPlugIn = {})
      : UsbRig(model) {
    if (FtdiUnavailableReason().size()) return;
    if (atPlugIn) atPlugIn(*this);
    auto d = driver(error, FtdiPortText(0x0403, model.product, "").substr(5));
    if (!d) throw std::runtime_error(error);
    port.setDriver(std::move(d));
    chip = &device.emulator();
  }

  std::string error;
};

// The port a text names, as the windows and zk7prog take it.
PortChoice ChoiceOf(const std::string& text) {
  PortChoice choice;
  std::uint16_t base = 0x378;
  std::string error;
  EXPECT_TRUE(ParsePortChoice(text, choice, base, error)) << error;
  return choice;
}

#define NEEDS_LIBFTDI() \
  if (!FtdiUnavailableReason().empty()) GTEST_SKIP() << "built without libftdi"

TEST(Ftdi, TraceEqualsTheParallelPortsAndAFrameIsOneRoundTrip) {
  NEEDS_LIBFTDI();
  std::string traces[2];
  int readTransfers = 0;
  for (int usb = 0; usb < 2; ++usb) {
    UsbBench b;
    if (!usb) b.chip = UseEmulatedChip(b.port);  // the parallel port's bench: the chip alone
    const std::string path = TempPath("ftdi_trace");
    ASSERT_TRUE(b.port.setTraceFile(path, b.error)) << b.error;
    b.rs.setConfigWord(5);
    ASSERT_TRUE(b.program().ok());
    const int before = b.bus.transfers(b.id);
    ASSERT_TRUE(b.prog.ReadImageWords(b.image, b.cb).ok());
    if (usb) readTransfers = b.bus.transfers(b.id) - before;
    std::uint16_t word = 0;
    ASSERT_TRUE(b.prog.ReadChipConfigWord(word, b.cb).ok());
    b.port.setTraceFile("", b.error);
    traces[usb] = ReadText(path);
    if (!usb) continue;
    // Through the board's wiring, the lines take every state written, in order.
    std::vector<std::uint8_t> lines;
    for (const auto& s : b.device.history()) lines.push_back(s.lines);
    auto at = lines.begin();
    std::istringstream trace(traces[usb]);
    unsigned address = 0, value = 0;
    for (std::string line; std::getline(trace, line);)
      if (std::sscanf(line.c_str(), "W %X %X", &address, &value) == 2)
        at = std::find(at, lines.end(), value);
    EXPECT_TRUE(at != lines.end());
  }
  EXPECT_GT(traces[0].size(), 100000u);
  EXPECT_TRUE(traces[0] == traces[1]);
  // The set-up's two transfers, 70 frames each answered in one round trip,
  // the flush that powers the chip off and the off state at release.
  EXPECT_EQ(readTransfers, 74);
}

TEST(Ftdi, EveryModelRunsOnItsOwnClockWithProvenPulsesAndNeverPowersTheChipUndriven) {
  NEEDS_LIBFTDI();
  for (const sim::FtdiModel& model : kFtdiModels) {
    for (const bool latchKept : {true, false}) {
      SCOPED_TRACE(std::string(model.name) + (latchKept ? " latch kept" : " latch reset"));
      // Before the program opens it, another program holds it as a serial
      // port (DTR# and RTS# asserted) and probes it with "AT".
      UsbBench b(model, [&](UsbBench& r) {
        r.device.setLatchKeptAcrossBitmode(latchKept);
        r.device.setSeed(latchKept ? 7 : 11);
        r.writeAsSerialPort("AT\r");
      });
      const FtdiChip* chip = FtdiChipByRelease(model.release);
      ASSERT_NE(chip, nullptr);
      const FlowResult r = b.program();
      ASSERT_TRUE(r.ok()) << r.title << ": " << r.text;
      EXPECT_NEAR(b.device.pinRateHz(), chip->pinRate, chip->pinRate * 0.02);
      EXPECT_EQ(b.device.latencyMs(), 1);
      std::uint16_t word = 0;
      ASSERT_TRUE(b.prog.ReadChipConfigWord(word, b.cb).ok());  // a second set-up
      EmulatorDriver& e = b.device.emulator();
      // Every pulse lasted 1 ms at the chip's pins, measured on the adapter's
      // clock, though the pin clock varies on the full-speed parts.
      EXPECT_EQ(e.shortPulses() + e.protocolErrors(), 0);
      EXPECT_GE(e.totalPulses(), 200);
      // Every wait slept in libusb's poll: none spun.
      EXPECT_EQ(b.bus.busyPolls(), 0);
      // Given back as a serial port: a program writing to it drives TXD only
      // ("\r" on the pins would be 0x0D: VPP on).
      EXPECT_EQ(b.device.mode(), sim::FtdiDevice::Mode::Serial);
      const std::size_t afterRuns = b.device.history().size();
      b.writeAsSerialPort("AT\r");
      for (std::size_t k = afterRuns; k < b.device.history().size(); ++k)
        EXPECT_TRUE(Unpowered(b.device.history()[k].lines)) << "after the runs, " << k;
      const std::int64_t t = b.bus.nowNs();
      for (const bool pullDown : {false, true}) {
        b.device.setEeprom(pullDown, 0);
        b.device.suspend(t, true);
        b.device.suspend(t, false);
      }
      b.bus.unplug(b.id);

      const auto& h = b.device.history();
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
  NEEDS_LIBFTDI();
  constexpr int kAt = 60;  // among the configuration word's pulses
  const std::string off = "; the chip was switched off.";
  struct Case {
    const char* options;
    bool secondFailure;  // the transfer that switches off fails too: a fresh set-up does it
    std::string cause, ending;
    int claims;  // in the run: its own set-up, and one more when the fresh transfer failed
    bool nextRunPasses;
  };
  const Case cases[] = {
      {"usb-fail=60", false, "USB write failed: the transfer failed (LIBUSB_TRANSFER_ERROR)", off,
       1, true},
      {"usb-fail=60", true, "LIBUSB_TRANSFER_ERROR", off, 2, true},
      {"usb-unplug=60", false, "the adapter is gone (LIBUSB_TRANSFER_NO_DEVICE)",
       "; the adapter is unplugged, so the chip has no supply.", 1, false},
      {"usb-echo=late:60", false, "out of step", off, 1, true},
      {"usb-echo=stuck:60", false, "CLK on TXD (D0) read high", off, 1, false},
      // No echo at all, the adapter still there: the transfer's deadline ends it.
      {"usb-echo=lost:60", false, "USB read failed: no answer within", off, 2, true},
      // A status packet came in just before the cancel, so the read ends as
      // completed and libftdi submits it again (the host's share sets the phase).
      {"usb-rtt=0.25,usb-echo=lost:60", false, "no answer within", off, 2, true},
      {"usb-rtt=1,usb-echo=lost:60", false, "no answer within", off, 2, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    EmulatorOptions options;
    std::string error;
    ASSERT_TRUE(ParseEmulatorOptions(std::string("usb=ft232r,") + c.options, options, error));
    UsbBench b;
    sim::UsbBus::Faults faults = sim::UsbBus::faultsOf(options.usb);
    if (c.secondFailure) faults.failAt.push_back(kAt + 1);
    b.bus.setFaults(b.id, faults);
    const auto half = static_cast<std::int64_t>(options.usb.roundTripMs * 500000);
    if (half > 0) b.bus.setHostLatency(half, half);
    const int claims = b.bus.claims(b.id);
    const std::int64_t start = b.bus.nowNs();
    const std::string trace = TempPath("ftdi_fault");
    ASSERT_TRUE(b.port.setTraceFile(trace, error));
    const FlowResult r = b.program();
    b.port.setTraceFile("", error);
    EXPECT_EQ(r.status, FlowResult::Failed);
    EXPECT_EQ(r.title, "Check USB Adapter");
    EXPECT_NE(r.text.find(c.cause), std::string::npos) << r.text;
    EXPECT_EQ(r.text.substr(r.text.size() - c.ending.size()), c.ending) << r.text;
    // Stopped at once: a set-up at most, nothing more, within a second.
    EXPECT_EQ(b.bus.claims(b.id) - claims, c.claims);
    EXPECT_LE(b.bus.transfers(b.id), kAt + 4);
    EXPECT_LT(b.bus.nowNs() - start, 1000000000);
    EXPECT_LT(b.device.emulator().totalPulses(), 100);
    // Powered when it struck, unpowered at the end: at the pins and in the trace.
    b.bus.catchUp();
    const auto& h = b.device.history();
    EXPECT_TRUE(std::any_of(h.begin(), h.end(), [](const auto& s) { return !Unpowered(s.lines); }));
    EXPECT_TRUE(Unpowered(h.back().lines));
    EXPECT_FALSE(b.device.emulator().powered());
    const int last = LastWrite(ReadText(trace));
    EXPECT_GE(last, 0);
    EXPECT_FALSE(LinesPowered(static_cast<std::uint8_t>(last))) << last;
    EXPECT_EQ(b.program().ok(), c.nextRunPasses) << b.port.accessProblem();
  }
}

TEST(Ftdi, SetUpRefusesChipsWithoutFiguresAndBoardsOrPinsThatWouldPowerTheChip) {
  NEEDS_LIBFTDI();
  sim::FtdiModel bm = kFtdiModels[0];
  bm.name = "FT232BM";
  bm.release = 0x0400;
  struct Case {
    sim::FtdiModel model;
    std::function<void(sim::FtdiDevice&)> build;
    std::string why;
  };
  const Case cases[] = {
      {bm,
       {},
       "an FT232BM has no bit-bang figures here, so it is not used; the supported chips are "
       "FT232R, FT232H, FT2232D and FT2232H."},
      {kFtdiModels[0], [](sim::FtdiDevice& d) { d.setEeprom(false, 0x01); },
       "do not read back what was sent (CLK on TXD (D0) read high)"},
      {kFtdiModels[0], [](sim::FtdiDevice& d) { d.setBoardPullDown(0x08, 0); },
       "with every pin an input, VPP on CTS# (D3) read high: a pull-down resistor is missing"},
      {kFtdiModels[1], [](sim::FtdiDevice& d) { d.setBoardPullDown(0x20, 100000); },
       "VDD on DSR# (D5) read high: a pull-down resistor is missing"},
  };
  for (const Case& c : cases) {
    UsbRig rig(c.model);
    if (c.build) c.build(rig.device);
    std::string error;
    auto backend = rig.backend(error);
    ASSERT_TRUE(backend) << error;
    EXPECT_FALSE(SetUpAdapter(*backend, error));
    EXPECT_NE(error.find(c.why), std::string::npos) << error;
    EXPECT_EQ(rig.bus.claims(rig.id), rig.bus.releases(rig.id));
    // Nothing we drove powered the chip (a board without its pull-down does
    // so by itself); a refused adapter is a serial port again.
    for (const auto& s : rig.device.history()) {
      if (std::string(s.adapter) == "bit-bang") {
        EXPECT_TRUE(Unpowered(s.lines)) << error;
      }
    }
    EXPECT_EQ(rig.device.mode(), sim::FtdiDevice::Mode::Serial);
  }

  // A run that died between making every pin an input and latching the off
  // byte leaves a powered latch under inputs: it never reaches the pins.
  UsbRig rig;
  std::string error;
  auto backend = rig.backend(error);
  std::vector<std::uint8_t> echo;
  ASSERT_TRUE(backend->open(error)) << error;
  ASSERT_TRUE(backend->setBitmode(0x00, FtdiBackend::Mode::SyncBitbang, error)) << error;
  ASSERT_TRUE(backend->transfer({PinsFromData(0x6C)}, echo, error)) << error;
  backend->close();
  const std::size_t before = rig.device.history().size();
  ASSERT_TRUE(SetUpAdapter(*backend, error)) << error;
  for (std::size_t k = before; k < rig.device.history().size(); ++k)
    EXPECT_TRUE(Unpowered(rig.device.history()[k].lines)) << k;
}

TEST(Ftdi, PortTextsParseAndAdaptersAreListedAndReachedByPathOrSerial) {
  PortChoice c;
  std::uint16_t base = 0x378;
  std::string error;
  ASSERT_TRUE(ParsePortChoice("ftdi", c, base, error));
  EXPECT_EQ(c.kind, PortChoice::Ftdi);
  EXPECT_TRUE(c.usb.empty());
  struct Text {
    const char* text;
    std::uint16_t product;
    const char* serial;
    const char* path;
  };
  for (const Text& t :
       {Text{"ftdi:0403:6014:FT4XK2", 0x6014, "FT4XK2", ""},
        Text{"ftdi:0403:6001@1-2.3", 0x6001, "", "1-2.3"},
        Text{"ftdi:0403:6010:A1@12-1.2.3.4.5.6.7", 0x6010, "A1", "12-1.2.3.4.5.6.7"},
        Text{"ftdi@3-1", 0, "", "3-1"}}) {
    ASSERT_TRUE(ParsePortChoice(t.text, c, base, error)) << error;
    FtdiAddress a;
    ASSERT_TRUE(ParseFtdiAddress(c.usb, a, error));
    EXPECT_EQ(a.product, t.product) << t.text;
    EXPECT_EQ(a.serial, t.serial) << t.text;
    EXPECT_EQ(a.path, t.path) << t.text;
    EXPECT_EQ(a.anyDefault, t.product == 0) << t.text;
  }
  EmulatorOptions o;
  ASSERT_TRUE(ParseEmulatorOptions(
      "chip,usb=ft2232d,usb-rtt=0.25,usb-fail=3,usb-unplug=9,usb-echo=late:4", o, error));
  EXPECT_EQ(o.usb.model, "ft2232d");
  EXPECT_EQ(o.usb.roundTripMs, 0.25);
  EXPECT_EQ(o.usb.failAt, 3);
  EXPECT_EQ(o.usb.unplugAt, 9);
  EXPECT_EQ(o.usb.echo, UsbEmulation::Late);
  EXPECT_EQ(o.usb.echoAt, 4);
  ASSERT_TRUE(ParseEmulatorOptions("usb=ft232h,usb-echo=stuck", o, error));
  EXPECT_EQ(o.usb.echo, UsbEmulation::Stuck);
  EXPECT_EQ(o.usb.echoAt, 1);
  for (const char* bad : {"ftdi:0403",
                          "ftdi:0403:",
                          "ftdi:0403:6001:",
                          "ftdi:x403:6001",
                          "ftdi:10403:6001",
                          "ftdix",
                          "ftdi:0403:6001@",
                          "ftdi:0403:6001@1",
                          "ftdi@",
                          "ftdi@1-",
                          "ftdi:@1-2..3",
                          "ftdi@-2",
                          "ftdi:@1-2-3",
                          "ftdi:@1-1.2.3.4.5.6.7.8",
                          "emulator:usb=ft4232h",
                          "emulator:usb-rtt=1",
                          "emulator:usb=ft232r,usb-rtt=0",
                          "emulator:usb=ft232r,usb-rtt=1.5x",
                          "emulator:usb=ft232r,usb-fail=0",
                          "emulator:usb=ft232r,usb-echo=slow",
                          "emulator:usb=ft232r,usb-echo=late:x"}) {
    error.clear();
    EXPECT_FALSE(ParsePortChoice(bad, c, base, error)) << bad;
    EXPECT_FALSE(error.empty()) << bad;
  }
  // A build without libftdi still understands the text and names the package.
  if (!FtdiUnavailableReason().empty()) {
    EXPECT_EQ(OpenFtdi("", error), nullptr);
    EXPECT_NE(error.find("libftdi1-dev"), std::string::npos) << error;
    return;
  }

  // Two adapters of one kind, one without a serial number (no EEPROM): both
  // listed usable, that one by its USB port, and each reached by its text.
  UsbRig rig;
  sim::FtdiDevice bare(kFtdiModels[0], std::make_unique<EmulatorDriver>(), "");
  const int bareId = rig.bus.plug(bare, 2, {4, 1});
  std::vector<PortCandidate> found = DiscoverFtdiPorts();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].portText, "ftdi:0403:6001:SIMULATED");
  EXPECT_EQ(found[0].caption, "FT232R SIMULATED");
  EXPECT_EQ(found[1].portText, "ftdi:0403:6001@2-4.1");
  EXPECT_EQ(found[1].caption, "FT232R at 2-4.1");
  for (const PortCandidate& p : found) EXPECT_EQ(p.problem, "") << p.portText;
  auto driver = rig.driver(error, found[1].portText.substr(5));
  ASSERT_TRUE(driver) << error;
  EXPECT_EQ(driver->name(), "FT232R at 2-4.1");
  EXPECT_EQ(driver->exactPortText(), "ftdi:0403:6001@2-4.1");
  EXPECT_EQ(rig.bus.claims(bareId), 1);
  EXPECT_EQ(rig.bus.claims(rig.id), 0);
  driver = rig.driver(error, "");
  ASSERT_TRUE(driver) << error;
  EXPECT_EQ(driver->exactPortText(), "ftdi:0403:6001:SIMULATED@1-1");
  EXPECT_EQ(rig.driver(error, "0403:6001:OTHER"), nullptr);
  EXPECT_NE(error.find("no adapter found at ftdi:0403:6001:OTHER"), std::string::npos) << error;
}

TEST(Ftdi, TheEmulatorsUsbOptionPutsTheChipBehindTheSimulatedAdapterAndTracesItsPins) {
  const std::string trace = TempPath("pin_trace");
  setenv("ZK7_PIN_TRACE", trace.c_str(), 1);
  Port port;
  port.setChoice(ChoiceOf("emulator:usb=ft232h,usb-rtt=0.5"));
  Programmer prog(port);
  prog.InitLPTPort(0x378);
  unsetenv("ZK7_PIN_TRACE");
  ASSERT_EQ(port.accessProblem(), "");
  EXPECT_EQ(port.description(), "USB \u00B7 FT232H SIMULATED");
  // The documentation says a USB adapter has no cable-check lines; no run says it again.
  std::string text;
  prog.CheckLPT([&](const std::string&, const std::string& x) { text = x; });
  EXPECT_EQ(text, "");
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
  EXPECT_EQ(lines.back().substr(lines.back().rfind(' ')), " D3");  // a serial port again
}

TEST(Ftdi, TheAdapterIsOpenOnlyDuringAFlowAndABusyOneIsNamedAndSentNothing) {
  NEEDS_LIBFTDI();
  UsbBench b;
  EXPECT_EQ(b.bus.claims(b.id), 1);  // found and given back at once
  EXPECT_EQ(b.bus.releases(b.id), 1);
  std::uint16_t word = 0;
  int sent[2] = {};
  for (int flow = 0; flow < 2; ++flow) {
    const int before = b.bus.transfers(b.id);
    ASSERT_TRUE(b.prog.ReadChipConfigWord(word, b.cb).ok());
    sent[flow] = b.bus.transfers(b.id) - before;
    // Given back after the flow, every byte sent (a send to a closed adapter fails).
    EXPECT_EQ(b.bus.claims(b.id), 2 + flow);
    EXPECT_EQ(b.bus.releases(b.id), 2 + flow);
    EXPECT_TRUE(b.bus.kernelDriverBound(b.id));
    EXPECT_EQ(b.port.accessProblem(), "");
    EXPECT_FALSE(b.device.emulator().inProgrammingMode());
  }
  EXPECT_EQ(sent[0], sent[1]);

  b.bus.holdClaim(b.id, INT64_MAX);
  const int before = b.bus.transfers(b.id);
  const FlowResult r = b.prog.ReadChipConfigWord(word, b.cb);
  EXPECT_EQ(r.status, FlowResult::Busy);
  EXPECT_EQ(r.text, "USB adapter FT232R SIMULATED is in use by another program");
  EXPECT_EQ(b.bus.transfers(b.id), before);
}

// The guard's copy of the lines, kept by the driver: powered from the moment a
// powering byte is queued, off only once the echo proved the off byte.
TEST(Ftdi, TheGuardsCopyFollowsWhatTheEchoProvedAtThePins) {
  NEEDS_LIBFTDI();
  UsbRig rig;
  std::string error;
  auto driver = rig.driver(error);
  ASSERT_TRUE(driver) << error;
  std::atomic<std::uint8_t> copy{kLinesOff};
  ASSERT_TRUE(driver->keepsGuardCopy(&copy));
  ASSERT_TRUE(driver->claim(error)) << error;
  for (std::uint8_t b : {0x50, 0x6C}) driver->write(0x378, b);
  EXPECT_EQ(copy.load(), 0x6C);  // queued, not sent
  driver->flush();
  for (std::uint8_t b : {0x64, 0x74, 0xF4}) driver->write(0x378, b);
  EXPECT_TRUE(LinesPowered(copy.load())) << int(copy.load());  // the off byte only queued
  driver->flush();
  EXPECT_EQ(copy.load(), 0xF4);
  // A failure switched off: off, and what is queued after it is never sent.
  // One whose switching off fails too: the copy stays powered.
  for (const int failures : {1, 10}) {
    driver->write(0x378, 0x6C);
    sim::UsbBus::Faults faults;
    for (int k = 1; k <= failures; ++k) faults.failAt.push_back(rig.bus.transfers(rig.id) + k);
    rig.bus.setFaults(rig.id, faults);
    driver->flush();
    driver->write(0x378, 0x6C);
    EXPECT_EQ(copy.load(), failures == 1 ? kLinesOff : 0x6C) << driver->problem();
    rig.bus.setFaults(rig.id, {});
    driver->release();
    ASSERT_TRUE(driver->claim(error)) << error;
  }
  driver->keepsGuardCopy(nullptr);
}

// A program killed while its off bytes wait in the queue: the guard still
// takes the lines for powered (here it finds the adapter unplugged, as the
// simulated one is not on this machine's bus); once they were proven off it
// has nothing to do.
TEST(Ftdi, AProgramKilledBeforeItsOffBytesReachedThePinsLeavesTheGuardToAct) {
  NEEDS_LIBFTDI();
  for (const bool flushed : {false, true}) {
    int err[2];
    ASSERT_EQ(pipe(err), 0);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(err[1], STDERR_FILENO);
      UsbRig rig(kFtdiModels[0], sim::UsbBus::Time::Real);
      Port port;
      port.setChoice(ChoiceOf("ftdi"));
      port.open(0x378);
      std::string error;
      if (!port.claimGuarded(error)) _exit(3);
      for (std::uint8_t b : {0x50, 0x6C}) port.DlPortWritePortUchar(0x378, b);
      port.flush();
      for (std::uint8_t b : {0x64, 0x74, 0xF4}) port.DlPortWritePortUchar(0x378, b);
      if (flushed) port.flush();
      raise(SIGKILL);
    }
    close(err[1]);
    std::string said;
    char buf[256];
    for (ssize_t n; (n = read(err[0], buf, sizeof buf)) > 0;) said.append(buf, n);
    close(err[0]);
    waitpid(pid, nullptr, 0);
    EXPECT_EQ(said.find("the programmer lines powered") != std::string::npos, !flushed) << said;
  }
}

// The guard's end of a USB run, on the machine's clock: it is handed the very
// adapter the program opened (its serial number and USB port), waits out the
// dead program's lingering claim, and takes an unplugged adapter for one
// without supply.
TEST(Ftdi, TheGuardReachesTheVeryAdapterAfterTheDeadProgramsClaim) {
  NEEDS_LIBFTDI();
  UsbRig rig(kFtdiModels[0], sim::UsbBus::Time::Real);
  sim::FtdiDevice other(kFtdiModels[0], std::make_unique<EmulatorDriver>(), "OTHER");
  const int otherId = rig.bus.plug(other, 1, {2});

  Port port;
  port.setChoice(ChoiceOf("ftdi"));
  port.open(0x378);
  ASSERT_EQ(port.accessProblem(), "");
  std::string error;
  ASSERT_TRUE(port.claimGuarded(error)) << error;
  std::string guardArgs;
  if (DIR* proc = opendir("/proc")) {  // the guard is this program's child
    while (const dirent* e = readdir(proc)) {
      std::ifstream stat(std::string("/proc/") + e->d_name + "/stat");
      std::string pid, comm, state;
      int parent = 0;
      if (stat >> pid >> comm >> state >> parent && parent == getpid() && comm == "(zk7-guard)")
        guardArgs = ReadText(std::string("/proc/") + e->d_name + "/cmdline");
    }
    closedir(proc);
  }
  port.release();
  std::replace(guardArgs.begin(), guardArgs.end(), '\0', ' ');
  EXPECT_NE(guardArgs.find(" --port ftdi:0403:6001:SIMULATED@1-1 "), std::string::npos)
      << guardArgs;

  rig.bus.holdClaim(rig.id, rig.bus.nowNs() + 300000000);
  const std::int64_t start = rig.bus.nowNs();
  const GuardTarget target{"ftdi:0403:6001:SIMULATED@1-1", 0x378, ""};
  error.clear();
  ASSERT_TRUE(SwitchOffAfterProgram(target, 0x6C, error)) << error;
  EXPECT_EQ(error, "");
  EXPECT_GE(rig.bus.nowNs() - start, 300000000);
  EXPECT_EQ(rig.bus.claims(otherId), 0);  // never the other board
  EXPECT_EQ(rig.device.mode(), sim::FtdiDevice::Mode::Serial);

  rig.bus.unplug(rig.id);
  ASSERT_TRUE(SwitchOffAfterProgram(target, 0x6C, error)) << error;
  EXPECT_EQ(error, "the USB adapter is unplugged, so the chip has no supply");
  EXPECT_EQ(rig.bus.claims(otherId), 0);
}

}  // namespace
}  // namespace zk7
