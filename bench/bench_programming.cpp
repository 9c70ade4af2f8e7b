// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Time to program the default configuration into the emulated chip on the
// real clock, beside the sum of the waits the algorithm requires, and the
// overshoot of a 1 ms wait.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "model/image.h"
#include "model/registers.h"
#include "programmer/programmer.h"
#include "sim/emulator.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_programSeconds = 0;   // median of the runs
double g_requiredSeconds = 0;  // waits the algorithm cannot do without
double g_medianOvershootUs = 0;

// 100 configuration pulses, 4 pulses of 1 ms per word that is not 0xFF, 10 ms and 100 ms.
double RequiredSeconds() {
  zk7::RegisterSet rs;
  zk7::MemoryImage image;
  zk7::SetDefaultRegisters(rs);
  zk7::BuildMemoryImage(rs, image);
  int pulsed = 0;
  for (auto v : image.MemMap) pulsed += v < 255;
  const int configPulses = rs.ConfigWord() < 255 ? 100 : 0;
  return (configPulses + 4 * pulsed + 10 + 100) / 1000.0;
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

void BM_ProgramDefaultConfiguration(benchmark::State& state) {
  std::vector<double> runs;
  for (auto _ : state) {
    zk7::Port port;
    port.setDriver(std::make_unique<zk7::EmulatorDriver>());
    zk7::Programmer prog(port);
    prog.InitLPTPort(0x378);
    zk7::RegisterSet rs;
    zk7::MemoryImage image;
    zk7::SetDefaultRegisters(rs);
    const auto t0 = Clock::now();
    const zk7::FlowResult r = prog.ProgramDevice(rs, image, zk7::FlowCallbacks{});
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    if (!r.ok()) state.SkipWithError(("programming failed: " + r.title).c_str());
    runs.push_back(s);
    state.SetIterationTime(s);
  }
  g_programSeconds = Median(runs);
  g_requiredSeconds = RequiredSeconds();
  state.counters["required_ms"] = g_requiredSeconds * 1000;
  state.counters["ratio"] = g_programSeconds / g_requiredSeconds;
}
BENCHMARK(BM_ProgramDefaultConfiguration)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5);

void BM_DelayMs1(benchmark::State& state) {
  zk7::Port port;
  port.setDriver(std::make_unique<zk7::EmulatorDriver>());
  zk7::Programmer prog(port);
  std::vector<double> overshootUs;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    prog.DelayMs(1);
    const double us = std::chrono::duration<double, std::micro>(Clock::now() - t0).count();
    overshootUs.push_back(us - 1000.0);
  }
  g_medianOvershootUs = Median(overshootUs);
  state.counters["median_overshoot_us"] = g_medianOvershootUs;
  state.counters["max_overshoot_us"] = *std::max_element(overshootUs.begin(), overshootUs.end());
}
BENCHMARK(BM_DelayMs1)->Unit(benchmark::kMicrosecond)->Iterations(500);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  if (g_requiredSeconds > 0)
    std::printf("programming %.1f ms, required waits %.1f ms, ratio %.3f (goal <= 1.10)\n",
                g_programSeconds * 1000, g_requiredSeconds * 1000,
                g_programSeconds / g_requiredSeconds);
  std::printf("DelayMs(1) median overshoot %.1f us\n", g_medianOvershootUs);
  return 0;
}
