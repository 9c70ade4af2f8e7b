#!/usr/bin/env bash
# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# System tests on a real Linux kernel: boots Debian's own kernel under QEMU
# (TCG) with a busybox initramfs that holds the kernel modules of
# tests/system/modules.list, zk7prog and zk7-guard laid out as the Debian
# package installs them (with every library they need), and the static helper
# programs tests/system/*.c and *.cpp. The guest runs the cases of
# tests/system/cases/ against the kernel's parport, parport_pc, ppdev and lp
# and two emulated ports (0x378 and 0x278), and against its USB stack
# (dummy_hcd, gadgetfs, usbfs, ftdi_sio) with the FTDI model as a gadget
# (tests/system/ftdi_gadget.cpp); each case starts from a fresh module state.
#
#   tools/test-system.sh [--build DIR] [CASE...]
#
# The kernel package is downloaded once into DIR/system-cache (delete it to
# start cold). SYSTEST_APPEND adds to the kernel's command line (e.g.
# SYSTEST_LOGLEVEL=8 shows the kernel's messages on the console). Exits 1
# naming the failing cases; says "skipped: ..." and exits 0 only when QEMU or
# the kernel package cannot be installed.
set -euo pipefail
cd "$(dirname "$0")/.."
build=build
if [ "${1:-}" = --build ]; then
  build=$2
  shift 2
fi
cases=$(IFS=,; echo "$*")
cache=$build/system-cache
work=$build/system
say() { echo "test-system: $*"; }
skip() {
  say "skipped: $*"
  exit 0
}
fail() {
  say "$*" >&2
  exit 1
}
start=$(date +%s%N)
elapsed() {
  local ms=$((($(date +%s%N) - start) / 1000000))
  printf '%d.%d s' $((ms / 1000)) $((ms % 1000 / 100))
}

# What the harness runs on, installed when missing (tools/install-deps.sh does it too).
packages=(qemu-system-x86 busybox-static cpio kmod)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO=sudo
update() { $SUDO apt-get update -qq >/dev/null 2>&1; }
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  { update && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${missing[@]}"; } \
    >/dev/null 2>&1 || skip "cannot install ${missing[*]}"
fi

# Debian's kernel: the package linux-image-amd64 depends on, kept in the cache.
kernel_package() {
  apt-cache depends linux-image-amd64 2>/dev/null |
    sed -n 's/^ *Depends: \(linux-image-[0-9].*\)/\1/p' | head -n 1
}
kernel_pkg=$(kernel_package)
[ -n "$kernel_pkg" ] || { update && kernel_pkg=$(kernel_package); } || true
mkdir -p "$cache"
if [ -n "$kernel_pkg" ] && [ ! -f "$cache/$kernel_pkg/ok" ]; then
  rm -rf "${cache:?}/$kernel_pkg" && mkdir -p "$cache/$kernel_pkg"
  deb() { (cd "$cache/$kernel_pkg" && apt-get download -qq "$kernel_pkg" >/dev/null 2>&1); }
  deb || { update && deb; } || true
  if ls "$cache/$kernel_pkg"/*.deb >/dev/null 2>&1; then
    dpkg-deb -x "$cache/$kernel_pkg"/*.deb "$cache/$kernel_pkg/x"
    rm -f "$cache/$kernel_pkg"/*.deb
    touch "$cache/$kernel_pkg/ok"
  fi
fi
# Offline, any kernel unpacked before will do.
kdir=$(ls -d "$cache"/linux-image-*/ok 2>/dev/null | sort -V | tail -n 1)
[ -n "$kdir" ] || skip "the kernel package ${kernel_pkg:-linux-image-amd64} cannot be downloaded"
kdir=$(dirname "$kdir")/x
kver=$(ls "$kdir/lib/modules" | head -n 1)
vmlinuz=$kdir/boot/vmlinuz-$kver

# The programs under test and the helpers.
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j"$(nproc)" --target zk7prog zk7-guard zk7_sim >/dev/null
rm -rf "$work" && mkdir -p "$work/root"
root=$work/root
# Each tests/system/NAME.c or NAME.cpp becomes the guest's /usr/bin/NAME,
# linked statically; a C++ one may use the core library (the models in sim/).
shopt -s nullglob
helpers=()
for c in tests/system/*.c tests/system/*.cpp; do
  name=$(basename "${c%.*}")
  if [ "${c##*.}" = cpp ]; then
    g++ -std=c++17 -static -O2 -Wall -Wextra -Werror -I. -o "$work/$name" "$c" "$build"/libzk7_{sim,port,files,model}.a
  else
    gcc -static -O2 -Wall -Wextra -Werror -o "$work/$name" "$c"
  fi
  strip "$work/$name"
  helpers+=("$work/$name")
done

# The initramfs.
mkdir -p "$root"/{bin,usr/bin,usr/libexec/zk7-programmer,proc,sys,dev,tmp,systest}
cp /bin/busybox "$root/bin/busybox"
cp tests/system/init "$root/init"
cp -r tests/system/lib.sh tests/system/run-case.sh tests/system/cases "$root/systest/"
cp "${helpers[@]}" "$root/usr/bin/"
strip -o "$root/usr/bin/zk7prog" "$build/zk7prog"
strip -o "$root/usr/libexec/zk7-programmer/zk7-guard" "$build/zk7-guard"
for lib in $( (ldd "$build/zk7prog" && ldd "$build/zk7-guard") |
  awk '$2 == "=>" && $3 ~ /^\// {print $3} $1 ~ /^\// {print $1}' | sort -u); do
  mkdir -p "$root$(dirname "$lib")"
  cp -L "$lib" "$root$lib"
done
# Each module with the modules it depends on, then their map for modprobe.
moddir=lib/modules/$kver
add_module() {
  local file
  file=$(find "$kdir/$moddir" -name "$1.ko*" | head -n 1)
  [ -n "$file" ] || fail "module $1 is not in $kver"
  [ -e "$root/${file#"$kdir/"}" ] && return 0
  mkdir -p "$root/$(dirname "${file#"$kdir/"}")"
  cp "$file" "$root/${file#"$kdir/"}"
  local dep
  for dep in $(modinfo -F depends "$file" | tr , ' '); do add_module "$dep"; done
}
while read -r m; do
  m=${m%%#*}
  [ -n "${m// /}" ] && add_module "${m// /}"
done <tests/system/modules.list
cp "$kdir/$moddir"/modules.{order,builtin,builtin.modinfo} "$root/$moddir/"
depmod -b "$root" "$kver"
(cd "$root" && find . | cpio -o -H newc --quiet) >"$work/initramfs.cpio"
say "guest built in $(elapsed) ($kver, $(du -m "$work/initramfs.cpio" | cut -f1) MB)"

# TCG, not KVM: the guest must behave the same on every machine CI runs on.
# pnpacpi=off: parport_pc then finds the ports at their standard addresses and
# polls them. Found through ACPI, the one at 0x278 is driven by IRQ 7, and
# QEMU's port stalls the guest for good once the kernel hands that port over
# to a program waiting in its claim.
# The guest's lines are shown as they come; the whole console is kept.
console=$work/console.log
: >"$console"
booting=$(date +%s%N)
timeout 1800 qemu-system-x86_64 -M pc -accel tcg -m 512 -smp 1 -nographic -no-reboot -nic none \
  -kernel "$vmlinuz" -initrd "$work/initramfs.cpio" \
  -append "console=ttyS0 quiet panic=-1 pnpacpi=off systest.cases=$cases ${SYSTEST_APPEND:-}" \
  -parallel "file:$work/lpt-a.out" -parallel "file:$work/lpt-b.out" \
  -monitor none </dev/null 2>&1 |
  while IFS= read -r line; do
    line=${line%$'\r'}
    printf '%s\n' "$line" >>"$console"
    case $line in *"systest: guest up"*)
      echo "  ${line#*systest: } (booted in $((($(date +%s%N) - booting) / 1000000)) ms)" ;;
    *"systest: "*) echo "  ${line#*systest: }" ;; esac
  done
grep -q 'systest: done' "$console" || {
  tail -n 30 "$console" >&2
  last=$(sed -n 's/.*systest: case //p' "$console" | tail -n 1)
  fail "the guest did not finish${last:+ (last case: $last)}; console in $console"
}
failed=$(sed -n 's/.*systest: failed: *//p' "$console")
[ "$failed" = none ] || fail "failed: $failed (console in $console)"
say "all cases passed in $(elapsed)"
