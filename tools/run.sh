#!/usr/bin/env bash
# Installs what is missing, builds, and starts the application on the emulated chip.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/install-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK7_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zk7-programmer zk7prog
ZK7_PORT=${ZK7_PORT:-emulator} exec build/zk7-programmer "$@"
