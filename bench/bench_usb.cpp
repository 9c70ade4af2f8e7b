// Programming and reading a chip behind the simulated USB adapter (FT232R
// pin rate, 1 ms per round trip), timed on the adapter's virtual clock:
// programming the default configuration beside the sum of the waits the
// algorithm requires, and reading the 70 image words and the configuration word.
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

double g_programMs = 0, g_requiredMs = 0, g_readMs = 0;
int g_programTransfers = 0, g_readTransfers = 0;

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

struct UsbBench {
  zk7::Port port;
  zk7::SimulatedFtdi* sim = nullptr;
  zk7::Programmer prog{port};
  UsbBench() {
    auto owned = std::make_unique<zk7::SimulatedFtdi>(std::make_unique<zk7::EmulatorDriver>());
    sim = owned.get();
    std::string error;
    port.setDriver(zk7::MakeFtdiDriver(std::move(owned), error));
    prog.InitLPTPort(0x378);
  }
  double msSince(double startNs) const { return (sim->nowNs() - startNs) / 1e6; }
};

void BM_UsbProgramDefaultConfiguration(benchmark::State& state) {
  for (auto _ : state) {
    UsbBench b;
    zk7::RegisterSet rs;
    zk7::MemoryImage image;
    zk7::SetDefaultRegisters(rs);
    const double t0 = b.sim->nowNs();
    const int n0 = b.sim->transfers();
    const zk7::FlowResult r = b.prog.ProgramDevice(rs, image, zk7::FlowCallbacks{});
    if (!r.ok() || b.sim->emulator().shortPulses() != 0)
      state.SkipWithError(("programming failed: " + r.title).c_str());
    g_programMs = b.msSince(t0);
    g_programTransfers = b.sim->transfers() - n0;
    state.SetIterationTime(g_programMs / 1000);
  }
  g_requiredMs = RequiredMs();
  state.counters["required_ms"] = g_requiredMs;
  state.counters["ratio"] = g_programMs / g_requiredMs;
  state.counters["transfers"] = g_programTransfers;
}
BENCHMARK(BM_UsbProgramDefaultConfiguration)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_UsbReadChip(benchmark::State& state) {
  for (auto _ : state) {
    UsbBench b;
    zk7::MemoryImage image;
    std::uint16_t word = 0;
    const double t0 = b.sim->nowNs();
    const int n0 = b.sim->transfers();
    if (!b.prog.ReadImageWords(image, zk7::FlowCallbacks{}).ok() ||
        !b.prog.ReadChipConfigWord(word, zk7::FlowCallbacks{}).ok())
      state.SkipWithError("reading failed");
    g_readMs = b.msSince(t0);
    g_readTransfers = b.sim->transfers() - n0;
    state.SetIterationTime(g_readMs / 1000);
  }
  state.counters["transfers"] = g_readTransfers;
}
BENCHMARK(BM_UsbReadChip)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_requiredMs > 0)
    std::printf(
        "USB programming %.1f ms (%d transfers), required waits %.1f ms, ratio %.3f (goal <= "
        "1.5)\n",
        g_programMs, g_programTransfers, g_requiredMs, g_programMs / g_requiredMs);
  if (g_readMs > 0)
    std::printf(
        "USB reading 70 words and the configuration word %.1f ms (%d transfers, goal < "
        "150 ms)\n",
        g_readMs, g_readTransfers);
  return 0;
}
