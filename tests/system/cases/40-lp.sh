# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# The printer driver lp on the programmer's port.
cases lp_loaded_first lp_loaded_while_a_program_has_the_port a_print_job_queued_during_a_burn

# Every run names lp where it shares the port, in the words of 'ports'.
expect_lp_warned() {
  grep -A1 "^0x378 " /tmp/$1.out | grep -qF "warning: The printer driver lp is loaded on this port" ||
    fail "ports does not warn of lp on 0x378: $(cat /tmp/$1.out)"
}

case_lp_loaded_first() {
  load parport_pc ppdev lp
  run ports zk7prog ports
  expect_lp_warned ports
  run read zk7prog read --port 0x378
  expect_has read.err "warning: The printer driver lp is loaded on this port"
  expect_rc read 1
  expect_no_kernel_error "cannot grant exclusive access"
}

# The kernel gives a devices/NAME folder in /proc only to the first device
# registered on a port: lp loaded while another program has the port open is
# seen in /sys only.
case_lp_loaded_while_a_program_has_the_port() {
  load parport_pc ppdev
  pptool hold "$(port_dev 378)" >/tmp/hold.out &
  holder=$!
  wait_for "the holder's claim" held_by 378
  load lp
  kill $holder
  wait $holder
  [ ! -e "/proc/sys/dev/parport/$(basename "$(port_dev 378)")/devices/lp" ] ||
    fail "lp has its folder in /proc after all: this case tests nothing"
  run ports zk7prog ports
  expect_lp_warned ports
  for cmd in read check; do
    run $cmd zk7prog $cmd --port 0x378
    expect_has $cmd.err "warning: The printer driver lp is loaded on this port"
    expect_rc $cmd 1
  done
  expect_no_kernel_error "cannot grant exclusive access|failed to register device"
}

# A print job waiting for the port gets it the moment a run ends: the run
# warns, and a production run does not start unless told to.
case_a_print_job_queued_during_a_burn() {
  load parport_pc ppdev lp
  zk7prog ports >/dev/null
  pptool session zk7prog program --no-check --port 0x378 >/tmp/burn.out 2>/tmp/burn.err &
  burn=$!
  pptool stopwhen $burn 378 19 || fail "the burn never powered the lines"
  printf 'job\n' >"$(lp_dev 378)" &
  job=$!
  wait_for "the print job to wait for the port" has "/proc/$job/wchan" parport_claim_or_block
  kill -CONT $burn
  finish burn $burn
  wait $job || fail "the print job failed"
  expect_has burn.err "warning: The printer driver lp is loaded on this port"
  expect_rc burn 1
  expect_latch 378 0A "what the print job left on the programmer's lines"

  run line zk7prog program --port 0x378 --serial TXID0=std:100 --log /tmp/line.csv
  expect_rc line 2
  expect_has line.err "A production run does not start on this port"
  [ ! -s /tmp/line.csv ] || fail "the refused run wrote its log: $(cat /tmp/line.csv)"
  run accepted zk7prog program --port 0x378 --serial TXID0=std:100 --log /tmp/line.csv --allow-lp
  expect_rc accepted 1
  expect_has accepted.out "REFUSED at nochip"
}
