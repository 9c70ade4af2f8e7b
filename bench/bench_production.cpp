// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Opening a 64 MiB production log (about 1.3 million records): the time a
// run takes before its first chip, and the memory the read adds. Goal: under
// a second, memory bounded by one line, not by the file.
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "production/log.h"

namespace {

using Clock = std::chrono::steady_clock;

double g_openSeconds = 0;
long g_addedKiB = 0;

long PeakKiB() {
  rusage use{};
  getrusage(RUSAGE_SELF, &use);
  return use.ru_maxrss;
}

// Writes a format-2 log of about bytes, a reservation and a result per value.
std::string MakeLog(std::size_t bytes) {
  const std::string path = "/tmp/zk7_bench_log_" + std::to_string(getpid()) + ".csv";
  std::ofstream out(path, std::ios::binary);
  out << zk7::LogHeader();
  std::size_t written = 0;
  for (std::uint64_t v = 0x100000; written < bytes; ++v) {
    zk7::LogRecord r;
    r.time = "2024-05-02T09:14:03Z";
    r.serial = v;
    r.result = zk7::ChipResult::Reserved;
    r.checksum = static_cast<std::uint8_t>(v);
    r.configWord = 7;
    std::string lines = zk7::FormatLogLine(r);
    r.result = v % 50 ? zk7::ChipResult::Passed : zk7::ChipResult::Failed;
    r.ms = 1812;
    lines += zk7::FormatLogLine(r);
    out << lines;
    written += lines.size();
  }
  return path;
}

void BM_OpenLog64MiB(benchmark::State& state) {
  const std::string path = MakeLog(64u << 20);
  const long before = PeakKiB();
  double best = 1e9;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    zk7::ProductionLog log;
    std::string error;
    if (!log.open(path, {}, error)) state.SkipWithError(error.c_str());
    const double s = std::chrono::duration<double>(Clock::now() - t0).count();
    best = std::min(best, s);
    state.SetIterationTime(s);
    state.counters["records"] = static_cast<double>(log.contents().total(zk7::ChipResult::Passed) +
                                                    log.contents().total(zk7::ChipResult::Failed));
  }
  g_openSeconds = best;
  g_addedKiB = PeakKiB() - before;
  state.counters["peak_rss_added_KiB"] = static_cast<double>(g_addedKiB);
  std::remove(path.c_str());
  std::remove((path + ".lock").c_str());
}
BENCHMARK(BM_OpenLog64MiB)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::printf("64 MiB log opened in %.0f ms (goal < 1000 ms), peak memory +%ld KiB\n",
              g_openSeconds * 1000, g_addedKiB);
  return 0;
}
