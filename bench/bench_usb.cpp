// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Programming and reading a chip behind a simulated USB adapter through the
// real libftdi (the libusb stand-in serves the model of the FTDI silicon on a
// simulated bus), one model at a time, timed on the bus's virtual clock:
// programming the default configuration, the whole program command (the
// check's reads, then programming), and reading the 70 image words and the
// configuration word, each beside the waits the algorithm requires. Every
// wait is proven on that clock by the driver.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "../tests/usb_rig.h"
#include "model/image.h"
#include "model/registers.h"
#include "programmer/check.h"
#include "programmer/programmer.h"

namespace {

using zk7::sim::kFtdiModels;
constexpr int kModels = sizeof kFtdiModels / sizeof kFtdiModels[0];

struct Figures {
  double programMs = 0, wholeMs = 0, readMs = 0;
  int programTransfers = 0, readTransfers = 0;
};
Figures g_figures[kModels];

// 100 configuration pulses, 4 pulses of 1 ms per word that is not 0xFF, 10 ms and 100 ms.
double RequiredProgramMs() {
  zk7::RegisterSet rs;
  zk7::MemoryImage image;
  zk7::SetDefaultRegisters(rs);
  zk7::BuildMemoryImage(rs, image);
  int pulsed = 0;
  for (auto v : image.MemMap) pulsed += v < 255;
  return (rs.ConfigWord() < 255 ? 100 : 0) + 4 * pulsed + 10 + 100;
}
// Reading the configuration word waits 20 ms and 1 ms.
constexpr double kRequiredReadMs = 21;

// The adapter as zk7prog chooses it, through libftdi; the flows' own waits
// take no time, so the virtual clock shows what the driver's proofs cost.
struct UsbBench : UsbRig {
  zk7::Port port;
  zk7::Programmer prog{port};
  zk7::FlowCallbacks cb;
  explicit UsbBench(int model) : UsbRig(kFtdiModels[model]) {
    std::string error;
    auto driver =
        UsbRig::driver(error, zk7::FtdiPortText(0x0403, kFtdiModels[model].product, "").substr(5));
    if (!driver) {
      std::fprintf(stderr, "bench_usb: %s\n", error.c_str());
      std::exit(1);
    }
    port.setDriver(std::move(driver));
    prog.InitLPTPort(0x378);
    cb.wait = [](int) {};
  }
  double msSince(std::int64_t startNs) { return (bus.nowNs() - startNs) / 1e6; }
  bool read() {
    zk7::MemoryImage image;
    std::uint16_t word = 0;
    return prog.ReadImageWords(image, cb).ok() && prog.ReadChipConfigWord(word, cb).ok();
  }
};

void BM_UsbProgram(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  const bool whole = state.range(1) != 0;
  Figures& f = g_figures[model];
  for (auto _ : state) {
    UsbBench b(model);
    zk7::RegisterSet rs;
    zk7::MemoryImage image;
    zk7::SetDefaultRegisters(rs);
    zk7::BuildMemoryImage(rs, image);
    const std::int64_t t0 = b.bus.nowNs();
    const int n0 = b.bus.transfers(b.id);
    // zk7program: the check reads the chip, then the burn.
    const bool fit = !whole || zk7::CheckImage(b.prog, image, rs.ConfigWord(), b.cb).fit();
    const zk7::FlowResult r = b.prog.ProgramImage(image, rs.ConfigWord(), b.cb);
    if (!fit || !r.ok() || b.device.emulator().shortPulses() != 0)
      state.SkipWithError(("programming failed: " + r.title).c_str());
    (whole ? f.wholeMs : f.programMs) = b.msSince(t0);
    if (!whole) f.programTransfers = b.bus.transfers(b.id) - n0;
    state.SetIterationTime(b.msSince(t0) / 1000);
  }
  state.SetLabel(std::string(kFtdiModels[model].name) + (whole ? " whole program" : ""));
  const double ms = whole ? f.wholeMs : f.programMs;
  state.counters["ratio"] = ms / (RequiredProgramMs() + (whole ? kRequiredReadMs : 0));
}
BENCHMARK(BM_UsbProgram)
    ->ArgsProduct({{0, 1, 2, 3}, {0, 1}})
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

void BM_UsbReadChip(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  Figures& f = g_figures[model];
  for (auto _ : state) {
    UsbBench b(model);
    const std::int64_t t0 = b.bus.nowNs();
    const int n0 = b.bus.transfers(b.id);
    if (!b.read()) state.SkipWithError("reading failed");
    f.readMs = b.msSince(t0);
    f.readTransfers = b.bus.transfers(b.id) - n0;
    state.SetIterationTime(f.readMs / 1000);
  }
  state.SetLabel(kFtdiModels[model].name);
  state.counters["transfers"] = f.readTransfers;
}
BENCHMARK(BM_UsbReadChip)
    ->DenseRange(0, kModels - 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double program = RequiredProgramMs(), whole = program + kRequiredReadMs;
  std::printf(
      "required waits: programming %.0f ms, whole program %.0f ms, reading %.0f ms\n"
      "goals: whole program <= 2.0 x on FT232H and FT2232H, <= 2.5 x on FT232R and FT2232D; "
      "reading < 150 ms on FT232H and FT2232H\n",
      program, whole, kRequiredReadMs);
  for (int m = 0; m < kModels; ++m) {
    const Figures& f = g_figures[m];
    if (f.programMs <= 0 && f.wholeMs <= 0 && f.readMs <= 0) continue;
    std::printf(
        "%-8s programming %6.1f ms (%.2f x, %d transfers), whole program %6.1f ms (%.2f x), "
        "reading %6.1f ms (%d transfers)\n",
        kFtdiModels[m].name, f.programMs, f.programMs / program, f.programTransfers, f.wholeMs,
        f.wholeMs / whole, f.readMs, f.readTransfers);
  }
  return 0;
}
