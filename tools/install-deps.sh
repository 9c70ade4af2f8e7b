#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs what building, running and testing need on Debian 12 (skips what is there).
set -euo pipefail
pkgs=(build-essential cmake ccache qt6-base-dev qt6-base-dev-tools libgl-dev libfontconfig-dev libgtest-dev libgmock-dev
      googletest libbenchmark-dev xvfb xauth binutils)
pkgs+=(weston qt6-wayland)                                           # the GUI tests on Wayland
pkgs+=(nlohmann-json3-dev)                                           # JSON output of zk7prog
pkgs+=(pkg-config libftdi1-dev)                                      # USB adapter driver
pkgs+=(desktop-file-utils appstream shared-mime-info man-db groff-base dpkg-dev file lintian reuse)  # tools/check-install.sh
pkgs+=(clang libclang-rt-14-dev)                                    # tools/fuzz.sh
pkgs+=(qemu-system-x86 busybox-static cpio kmod)                    # tools/test-system.sh
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"
fi
