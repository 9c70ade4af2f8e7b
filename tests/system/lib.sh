# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# What the guest's cases share: the case list, checks, waits for a state, the
# ports found by their base address, and the programs run with their output
# kept. A case runs in a shell of its own (run-case.sh); a check that fails
# ends it with a message, which the runner prints under the case's name.

CASES=""
# Adds cases to the list, in the order they run.
cases() { CASES="$CASES $*"; }

say() { echo "systest: $*" >/dev/console; }
fail() {
  echo "FAILED: $*"
  exit 1
}

# Runs every named case in a fresh machine state; a case has 240 s before it
# counts as hung (a program waiting for ever), which is a failure too.
run_cases() {
  failed=""
  for c in "$@"; do
    say "case $c"
    if ! reset_machine >/run/case.log 2>&1; then
      :
    elif timeout -s KILL 240 sh /systest/run-case.sh "$c" >/run/case.log 2>&1; then
      say "pass $c"
      continue
    fi
    say "FAIL $c"
    sed 's/^/systest:   | /' /run/case.log >/dev/console
    failed="$failed $c"
  done
  say "failed:${failed:- none}"
}

# The state letter of process PID ("" once it is gone).
state_of() { sed -n 's/^State:[[:space:]]*\(.\).*/\1/p' "/proc/$1/status" 2>/dev/null; }

# Ends every process but this shell's ancestors (and waits until they are
# gone), empties /tmp and unloads the parallel-port and USB modules, so each
# case starts from the machine as it booted. Returns 1 saying why when it cannot.
# Runs in the runner's own shell, which it must not end.
reset_machine() {
  ended=""
  for p in /proc/[0-9]*; do
    pid=${p#/proc/}
    ppid=$(sed -n 's/^PPid:[[:space:]]*//p' "$p/status" 2>/dev/null)
    # Not init, this shell, the kernel's thread daemon or its threads.
    [ "$pid" -gt 2 ] && [ "$pid" != $$ ] && [ "$ppid" != 2 ] && kill -9 "$pid" 2>/dev/null &&
      ended="$ended $pid"
  done
  for pid in $ended; do
    i=0
    while [ -n "$(state_of "$pid")" ] && [ "$(state_of "$pid")" != Z ] && [ $i -lt 1000 ]; do
      usleep 10000
      i=$((i + 1))
    done
  done
  rm -rf /tmp/*
  umount /dev/gadget 2>/dev/null
  for m in lp ppdev parport_pc parport ftdi_sio usbserial gadgetfs dummy_hcd; do
    modprobe -r "$m" 2>/dev/null
  done
  dmesg -c >/dev/null
  if grep -E '^(lp|ppdev|parport_pc|parport|ftdi_sio|gadgetfs|dummy_hcd) ' /proc/modules; then
    for f in /proc/[0-9]*/fd/*; do
      case $(readlink "$f") in /dev/parport* | /dev/lp*) echo "${f%/fd/*}: $(state_of "$(echo "$f" | cut -d/ -f3)") $(cat "${f%/fd/*}/comm")" ;; esac
    done
    echo "FAILED: the machine could not be reset after the case before (modules still loaded)"
    return 1
  fi
}

load() { for m in "$@"; do modprobe "$m" || fail "modprobe $m"; done; }

# The ppdev device of the port at BASE (hex), found by base-addr, never by number.
port_dev() {
  want=$(printf '%d' "0x$1")
  for d in /proc/sys/dev/parport/parport*; do
    [ -e "$d/base-addr" ] || continue
    set -- $(cat "$d/base-addr")
    [ "$1" = "$want" ] && echo "/dev/${d##*/}" && return 0
  done
  fail "no parallel port at $want in /proc/sys/dev/parport"
}

# The /dev/lpN the printer driver registered on the port at BASE.
lp_dev() {
  name=$(port_dev "$1")
  name=${name#/dev/}
  for d in /sys/bus/parport/devices/lp.*; do
    [ "$(basename "$(dirname "$(readlink -f "$d")")")" = "$name" ] && echo "/dev/lp${d##*.}" && return 0
  done
  fail "lp is not registered on $name"
}

latch() { pptool latch "$1"; }
expect_latch() {
  v=$(latch "$1")
  [ "$v" = "$2" ] || fail "${3:-the data register at $1} reads $v, expected $2"
}

# run NAME COMMAND...: runs it, keeping its stdout, stderr and exit status as
# /tmp/NAME.out, /tmp/NAME.err and $NAME_rc (read with rc NAME).
run() {
  n=$1
  shift
  "$@" >"/tmp/$n.out" 2>"/tmp/$n.err"
  echo $? >"/tmp/$n.rc"
}
rc() { cat "/tmp/$1.rc"; }
expect_rc() {
  [ "$(rc "$1")" = "$2" ] || fail "$1 exited with $(rc "$1"), expected $2; stdout: $(cat "/tmp/$1.out"); stderr: $(cat "/tmp/$1.err")"
}
# expect_has NAME.out|NAME.err TEXT / expect_lacks ...
expect_has() { grep -qF -- "$2" "/tmp/$1" || fail "$1 lacks '$2': $(cat "/tmp/$1")"; }
expect_lacks() { ! grep -qF -- "$2" "/tmp/$1" || fail "$1 has '$2': $(cat "/tmp/$1")"; }
expect_no_kernel_error() {
  ! dmesg | grep -qE "$1" || fail "the kernel logged: $(dmesg | grep -E "$1")"
}

# wait_for DESCRIPTION COMMAND...: until COMMAND succeeds (60 s at most).
wait_for() {
  what=$1
  shift
  i=0
  until "$@" >/dev/null 2>&1; do
    i=$((i + 1))
    [ $i -lt 600 ] || fail "gave up waiting for $what"
    usleep 100000
  done
}
# The kernel device a ppdev user of the port at BASE registers: ppdevN.
ppdev_of() {
  d=$(port_dev "$1")
  echo "ppdev${d#/dev/parport}"
}
# True once the port at BASE is held by the kernel device NAME (devices/active),
# by its ppdev user without NAME.
held_by() {
  [ "$(cat "/proc/sys/dev/parport/$(basename "$(port_dev "$1")")/devices/active")" = "${2:-$(ppdev_of "$1")}" ]
}
# True once FILE has TEXT.
has() { grep -qF -- "$2" "$1"; }
# Fails unless the data register at BASE has VPP, VDD and programming mode off.
expect_unpowered() {
  v=$(latch "$1")
  [ $((0x$v & 0x08)) -eq 0 ] && [ $((0x$v & 0x10)) -ne 0 ] && [ $((0x$v & 0x80)) -ne 0 ] ||
    fail "${2:-the lines at $1} were left powered: $v"
}
# True while no guard runs.
no_guard() { ! pidof zk7-guard >/dev/null; }
# Waits for the background program PID and keeps its exit status as NAME's
# (its output went to /tmp/NAME.out and /tmp/NAME.err).
finish() {
  wait "$2"
  echo $? >"/tmp/$1.rc"
}

# The gadget adapter: MODEL (ft232r or ft232h) with serial number SERIAL
# (ZK7GADGET; "" for none) plugged into dummy_hcd through gadgetfs with the
# emulated chip on its board, its pins traced to /tmp/pins.trace; its pid in
# $gadget. Waits until the kernel's serial driver has bound to it.
plug_adapter() {
  load dummy_hcd gadgetfs ftdi_sio
  mkdir -p /dev/gadget
  grep -q ' /dev/gadget ' /proc/mounts || mount -t gadgetfs gadgetfs /dev/gadget || fail "cannot mount gadgetfs"
  ftdi_gadget "$1" --serial "${2-ZK7GADGET}" --trace /tmp/pins.trace >/dev/null &
  gadget=$!
  wait_for "the serial driver to bind to the $1" test -c /dev/ttyUSB0
}
