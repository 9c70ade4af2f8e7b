// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// The CAN assistant's costs: every bit-timing setting for one (Fosc, bit
// rate) pair, the recommendation alone, and a mask and two filters designed
// for 64 identifiers.
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "model/acceptance.h"
#include "model/bittiming.h"

namespace {

zk7::BitTimingRequest Request() {
  zk7::BitTimingRequest rq;
  rq.foscHz = 20e6;
  rq.bitrate = 125000;
  return rq;
}

void BM_BitTimingCandidates(benchmark::State& state) {
  const auto rq = Request();
  for (auto _ : state) benchmark::DoNotOptimize(zk7::BitTimingCandidates(rq));
}
BENCHMARK(BM_BitTimingCandidates)->Unit(benchmark::kMicrosecond);

void BM_RecommendBitTiming(benchmark::State& state) {
  const auto rq = Request();
  for (auto _ : state) benchmark::DoNotOptimize(zk7::RecommendBitTiming(rq));
}
BENCHMARK(BM_RecommendBitTiming)->Unit(benchmark::kMicrosecond);

void BM_FilterDesign(benchmark::State& state) {
  const bool extended = state.range(1) != 0;
  std::mt19937 rng(1);
  std::vector<std::uint32_t> ids(static_cast<std::size_t>(state.range(0)));
  for (auto& id : ids) id = rng() & zk7::CanIdMax(extended);
  for (auto _ : state) benchmark::DoNotOptimize(zk7::DesignFilters(ids, extended));
}
BENCHMARK(BM_FilterDesign)->Args({64, 0})->Args({64, 1})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
