# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# A run ended by a signal in the middle of a check or a burn, on ppdev and by
# direct I/O: the lines end unpowered, and after kill -9 the guard leaves
# every line off (0xD0).
cases signals_mid_check_and_mid_burn

# One run: DRIVER (ppdev|direct), FLOW (check|burn), SIGNAL (a number, with
# "group" to send it to the program's process group).
signal_run() {
  label="$1/$2/$3${4:+/group}"
  port=0x378
  [ "$1" = ppdev ] && port=$(port_dev 378)
  args="check --port $port"
  [ "$2" = burn ] && args="program --no-check --port $port"
  zk7prog ports >/dev/null
  pptool session zk7prog $args >/tmp/sig.out 2>/tmp/sig.err &
  pid=$!
  pptool stopwhen $pid 378 "$3" $4 || fail "$label: the run never powered the lines"
  finish sig $pid
  wait_for "$label: the guard to end" no_guard
  [ "$(rc sig)" = $((128 + $3)) ] || fail "$label: exit status $(rc sig): $(cat /tmp/sig.err)"
  if [ "$3" = 9 ]; then
    expect_latch 378 D0 "$label: the lines after the guard"
    expect_has sig.err "zk7-guard: the program ended with the programmer lines powered; they were switched off."
  else
    expect_unpowered 378 "$label: the lines"
    expect_has sig.err "received"
  fi
}

case_signals_mid_check_and_mid_burn() {
  for driver in ppdev direct; do
    [ $driver = ppdev ] && load parport_pc ppdev
    for flow in check burn; do
      signal_run $driver $flow 9
      signal_run $driver $flow 15
      signal_run $driver $flow 2
      signal_run $driver $flow 2 group
      signal_run $driver $flow 1
    done
    modprobe -r ppdev parport_pc parport
  done
}
