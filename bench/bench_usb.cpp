// Programming and reading a chip behind the simulated USB adapter, one model
// at a time at its default round trip (1 ms on the full-speed FT232R and
// FT2232D, 0.125 ms on the high-speed FT232H and FT2232H), timed on the
// adapter's virtual clock: programming the default configuration beside the
// sum of the waits the algorithm requires, and reading the 70 image words and
// the configuration word. Every wait is proven on that clock by the driver.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "model/image.h"
#include "model/registers.h"
#include "port/emulator.h"
#include "port/ftdi_driver.h"
#include "port/ftdi_sim.h"
#include "programmer/programmer.h"

namespace {

constexpr int kModels = sizeof zk7::kUsbModels / sizeof zk7::kUsbModels[0];

struct Figures {
  double programMs = 0, readMs = 0;
  int programTransfers = 0, readTransfers = 0;
};
Figures g_figures[kModels];

// 100 configuration pulses, 4 pulses of 1 ms per word that is not 0xFF, 10 ms and 100 ms.
double RequiredMs() {
  zk7::RegisterSet rs;
  zk7::MemoryImage image;
  zk7::SetDefaultRegisters(rs);
  zk7::BuildMemoryImage(rs, image);
  int pulsed = 0;
  for (auto v : image.MemMap) pulsed += v < 255;
  return (rs.ConfigWord() < 255 ? 100 : 0) + 4 * pulsed + 10 + 100;
}

// The adapter as the windows and zk7prog choose it; the flows' own waits take
// no time, so the virtual clock shows what the driver's proofs cost.
struct UsbBench {
  zk7::Port port;
  zk7::SimulatedFtdi* sim = nullptr;
  zk7::Programmer prog{port};
  zk7::FlowCallbacks cb;
  explicit UsbBench(int model) {
    auto owned = std::make_unique<zk7::SimulatedFtdi>(std::make_unique<zk7::EmulatorDriver>(),
                                                      zk7::kUsbModels[model]);
    sim = owned.get();
    std::string error;
    port.setDriver(zk7::MakeFtdiDriver(std::move(owned), error));
    prog.InitLPTPort(0x378);
    cb.wait = [](int) {};
  }
  double msSince(double startNs) const { return (sim->nowNs() - startNs) / 1e6; }
};

void BM_UsbProgramDefaultConfiguration(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  Figures& f = g_figures[model];
  for (auto _ : state) {
    UsbBench b(model);
    zk7::RegisterSet rs;
    zk7::MemoryImage image;
    zk7::SetDefaultRegisters(rs);
    const double t0 = b.sim->nowNs();
    const int n0 = b.sim->transfers();
    const zk7::FlowResult r = b.prog.ProgramDevice(rs, image, b.cb);
    if (!r.ok() || b.sim->emulator().shortPulses() != 0)
      state.SkipWithError(("programming failed: " + r.title).c_str());
    f.programMs = b.msSince(t0);
    f.programTransfers = b.sim->transfers() - n0;
    state.SetIterationTime(f.programMs / 1000);
  }
  state.SetLabel(zk7::kUsbModels[model].name);
  state.counters["ratio"] = f.programMs / RequiredMs();
  state.counters["transfers"] = f.programTransfers;
}
BENCHMARK(BM_UsbProgramDefaultConfiguration)
    ->DenseRange(0, kModels - 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

void BM_UsbReadChip(benchmark::State& state) {
  const int model = static_cast<int>(state.range(0));
  Figures& f = g_figures[model];
  for (auto _ : state) {
    UsbBench b(model);
    zk7::MemoryImage image;
    std::uint16_t word = 0;
    const double t0 = b.sim->nowNs();
    const int n0 = b.sim->transfers();
    if (!b.prog.ReadImageWords(image, b.cb).ok() || !b.prog.ReadChipConfigWord(word, b.cb).ok())
      state.SkipWithError("reading failed");
    f.readMs = b.msSince(t0);
    f.readTransfers = b.sim->transfers() - n0;
    state.SetIterationTime(f.readMs / 1000);
  }
  state.SetLabel(zk7::kUsbModels[model].name);
  state.counters["transfers"] = f.readTransfers;
}
BENCHMARK(BM_UsbReadChip)
    ->DenseRange(0, kModels - 1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  const double required = RequiredMs();
  std::printf(
      "required waits %.0f ms; goals: programming <= 2.0 x on full speed, <= 1.5 x on "
      "high speed; reading < 150 ms\n",
      required);
  for (int m = 0; m < kModels; ++m) {
    const Figures& f = g_figures[m];
    if (f.programMs <= 0 && f.readMs <= 0) continue;
    const zk7::UsbModel& model = zk7::kUsbModels[m];
    std::printf(
        "%-8s programming %6.1f ms (%.3f x, %d transfers), reading %6.1f ms (%d transfers)\n",
        model.name, f.programMs, f.programMs / required, f.programTransfers, f.readMs,
        f.readTransfers);
  }
  return 0;
}
