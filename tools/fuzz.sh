#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets of tests/fuzz with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each from its seed corpus for a
# share of ZK7_FUZZ_SECONDS (60 by default). Fails on a crash, a broken
# property or a hang; new inputs go to build-fuzz/work, crashes to
# build-fuzz/artifacts.
set -euo pipefail
cd "$(dirname "$0")/.."
total=${ZK7_FUZZ_SECONDS:-60}
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ is not installed (tools/install-deps.sh installs it); skipped" >&2
  exit 0
fi
cmake -S tests/fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build-fuzz -j"$(nproc)" >/dev/null

targets=()
for t in build-fuzz/fuzz_*; do
  [ -f "$t" ] && [ -x "$t" ] && targets+=("$t")
done
[ ${#targets[@]} -gt 0 ] || { echo "fuzz: no targets built" >&2; exit 1; }
each=$(( total / ${#targets[@]} ))
[ "$each" -ge 1 ] || each=1
mkdir -p build-fuzz/artifacts
for t in "${targets[@]}"; do
  name=${t##*/fuzz_}
  mkdir -p "build-fuzz/work/$name"
  if ! "$t" -max_total_time="$each" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build-fuzz/artifacts/$name-" \
      "build-fuzz/work/$name" "tests/fuzz/corpus/$name" >"build-fuzz/$name.log" 2>&1; then
    tail -n 40 "build-fuzz/$name.log" >&2
    echo "fuzz: $name failed; the input is in build-fuzz/artifacts/" >&2
    exit 1
  fi
  echo "fuzz: $name: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "build-fuzz/$name.log" | grep -o '[0-9]*$') runs in ${each}s, no crash"
done
