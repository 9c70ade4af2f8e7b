# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# The USB adapter through the real stack: the model of an FT232R or FT232H
# presented by ftdi_gadget on dummy_hcd, reached through libusb, usbfs and
# the kernel's serial driver ftdi_sio, with the emulated chip on its board.
cases usb_adapter_lists_reads_and_programs usb_burn_ended_by_kill_unplug_or_lost_echo

# The trace's lines after the first N ("T <microseconds> <lines>").
trace_since() { tail -n +$(($1 + 1)) /tmp/pins.trace; }
# True once VPP was on (the lines' low digit 8 to F) after the first N lines.
powered_since() { trace_since "$1" | grep -q ' [0-9A-F][89A-F]$'; }

# Writes "AT\r" to the adapter's serial port, as a modem probe does, and
# fails unless only clock and data moved meanwhile (lines D0 to D3): the
# adapter was a serial port again and sent the bytes on TXD. Closing the port
# waits until the chip reports its transmitter empty.
expect_serial_port_harmless() {
  wait_for "the serial driver to take the adapter back" test -c /dev/ttyUSB0
  n=$(wc -l </tmp/pins.trace)
  printf 'AT\r' >/dev/ttyUSB0 || fail "$1: cannot write to /dev/ttyUSB0"
  ! trace_since "$n" | grep -qv ' D[0-3]$' ||
    fail "$1: writing to /dev/ttyUSB0 moved more than clock and data: $(trace_since "$n" | grep -v ' D[0-3]$' | head -n 5)"
  trace_since "$n" | grep -q ' D[01]$' || fail "$1: nothing written to /dev/ttyUSB0 reached TXD"
}

# Unplugs the gadget adapter and waits until the kernel has taken it off the bus.
unplug_adapter() {
  kill -USR1 "$gadget"
  wait "$gadget"
  wait_for "the adapter to leave the bus" test ! -e /dev/ttyUSB0
}

# zk7prog program in the background ($burn), returning once it powered the chip.
start_burn() {
  n=$(wc -l </tmp/pins.trace)
  zk7prog program --no-check --port ftdi >/tmp/burn.out 2>/tmp/burn.err &
  burn=$!
  wait_for "the burn to power the chip" powered_since "$n"
}
# Fails unless the lines the trace ends with match the pattern.
expect_last_lines() {
  tail -n 1 /tmp/pins.trace | grep -q " $2\$" ||
    fail "$1: the chip was left with the lines at $(tail -n 1 /tmp/pins.trace)"
}

case_usb_adapter_lists_reads_and_programs() {
  zk7prog write-dvs -o /tmp/node.dvs || fail "write-dvs"
  for model in "ft232r FT232R 6001" "ft232h FT232H 6014"; do
    set -- $model
    key=$1 name=$2 id=$3
    plug_adapter "$key"
    run ports zk7prog ports
    expect_has ports.out "ftdi:0403:$id:ZK7GADGET  $name USB adapter 0403:$id, serial ZK7GADGET"
    run blank zk7prog read --port ftdi
    expect_rc blank 0
    expect_has blank.out "Configuration word read = 3FFF"
    run program zk7prog program /tmp/node.dvs --port ftdi
    expect_rc program 0
    expect_has program.out PASSED
    run verify zk7prog verify /tmp/node.dvs --port ftdi
    expect_rc verify 0
    expect_serial_port_harmless "$name after a run"
    unplug_adapter
  done

  # Without a serial number (no EEPROM): named by the USB port it is plugged into.
  plug_adapter ft232r ""
  run ports zk7prog ports
  expect_has ports.out "ftdi:0403:6001@1-1  FT232R USB adapter 0403:6001, no serial number, at USB port 1-1"
  run bare zk7prog read --port ftdi
  expect_rc bare 0
  unplug_adapter
}

case_usb_burn_ended_by_kill_unplug_or_lost_echo() {
  # Killed: its guard switches the lines off through the adapter and gives
  # the adapter back as a serial port.
  plug_adapter ft232r
  start_burn
  kill -9 "$burn"
  finish burn "$burn"
  wait_for "the guard to end" no_guard
  expect_rc burn 137
  expect_has burn.err "zk7-guard: the program ended with the programmer lines powered; they were switched off."
  expect_last_lines "kill -9" "D[0-3]"
  expect_serial_port_harmless "after the guard"

  # The chip stops echoing (its bit mode lost): the transfer's deadline ends
  # the run, whose recovery sets the adapter up afresh with every line off.
  start_burn
  kill -USR2 "$gadget"
  finish burn "$burn"
  expect_rc burn 2
  expect_has burn.err "no answer within"
  expect_has burn.err "the chip was switched off."
  expect_last_lines "a lost echo" "D[0-3]"
  wait_for "the guard to end" no_guard

  # Unplugged: the board, and the chip, lose the supply.
  start_burn
  unplug_adapter
  finish burn "$burn"
  expect_rc burn 2
  expect_has burn.err "the adapter is unplugged, so the chip has no supply."
  expect_last_lines "unplugged" D0
  wait_for "the guard to end" no_guard
}
