# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Other programs on the port: holding it, holding it exclusively, waiting for
# it, and waiting for another port.
cases another_program_holds_the_port a_program_waiting_elsewhere_holds_our_claim

case_another_program_holds_the_port() {
  load parport_pc ppdev
  dev=$(port_dev 378)
  for mode in shared excl waited; do
    excl=""
    [ $mode = excl ] && excl=excl
    pptool hold "$dev" $excl >/tmp/hold.out &
    holder=$!
    wait_for "the holder's claim" held_by 378
    programs="pptool, pid $holder"
    if [ $mode = waited ]; then
      pptool claim "$dev" >/tmp/claim.out &
      waiter=$!
      wait_for "the second program's claim to wait" has "/proc/$waiter/wchan" parport_claim_or_block
      programs="$programs; pptool, pid $waiter"
    fi
    # Refused at once, by a look that takes no kernel lock.
    run busy zk7prog read --port 0x378
    expect_rc busy 2
    expect_has busy.err "0x378 ($dev) is in use by another program (kernel device $(ppdev_of 378): $programs)"
    # A holder's close gives the port up without the kernel's lock, so even
    # with a waiter queued behind it.
    kill -9 $holder
    wait $holder
    if [ $mode = waited ]; then
      wait $waiter
      expect_has claim.out claimed
    fi
  done
  expect_no_kernel_error "cannot grant exclusive access"
}

# While any program waits in PPCLAIM, on any port, every ppdev call of every
# other program waits on the kernel's one lock: ours too, uninterruptibly.
case_a_program_waiting_elsewhere_holds_our_claim() {
  load parport_pc ppdev
  other=$(port_dev 278)
  pptool hold "$other" >/tmp/hold.out &
  holder=$!
  wait_for "the holder's claim" held_by 278
  pptool claim "$other" >/tmp/claim.out &
  waiter=$!
  wait_for "the waiter's claim" has "/proc/$waiter/wchan" parport_claim_or_block
  zk7prog read --port 0x378 >/tmp/ours.out 2>/tmp/ours.err &
  ours=$!
  wait_for "our claim to wait on the kernel's lock" has "/proc/$ours/wchan" pp_ioctl
  grep -q '^State:.*D' "/proc/$ours/status" || fail "our claim waits interruptibly: $(grep State /proc/$ours/status)"
  kill -9 $holder
  wait $waiter
  finish ours $ours
  expect_rc ours 1
  expect_has ours.err "Every word read 3FFF"
  expect_unpowered 378
  expect_no_kernel_error "cannot grant exclusive access"
}
