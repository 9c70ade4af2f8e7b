#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what is missing, builds, and starts the application on the emulated chip.
set -euo pipefail
cd "$(dirname "$0")/.."
case "${1:-}" in
  -h|--help)
    cat <<'USAGE'
Usage: tools/run.sh [ARGUMENTS FOR zk7-programmer]
Installs the Debian packages the build needs (tools/install-deps.sh: apt-get, through sudo
when not root; nothing that is already installed), builds zk7-programmer and zk7prog in build/
(benchmarks left out), then starts zk7-programmer on the emulated chip (ZK7_PORT=emulator unless
ZK7_PORT is set), passing ARGUMENTS on, e.g. tools/run.sh node.dvs.
USAGE
    exit 0 ;;
esac
tools/install-deps.sh
# The option is set here and in tools/test.sh alike, so neither inherits the other's from build/.
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZK7_BUILD_BENCH=OFF >/dev/null
cmake --build build -j"$(nproc)" --target zk7-programmer zk7prog
ZK7_PORT=${ZK7_PORT:-emulator} exec build/zk7-programmer "$@"
