#!/usr/bin/env bash
# Installs what is missing, builds everything and runs every test, the system
# tests on a real kernel under QEMU, then the same tests again under
# AddressSanitizer and UndefinedBehaviorSanitizer.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
export QT_QPA_PLATFORM=offscreen
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK7_BUILD_BENCH=ON >/dev/null
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
tools/test-system.sh --build build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DZK7_SANITIZE=ON -DZK7_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=0 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --test-dir build-asan --output-on-failure -j"$jobs"
tools/check-install.sh build
tools/fuzz.sh
