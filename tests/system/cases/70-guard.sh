# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# The guard is found where the package installs it; a program without one powers nothing.
cases the_guard_where_the_package_puts_it

case_the_guard_where_the_package_puts_it() {
  load parport_pc ppdev
  [ -x /usr/libexec/zk7-programmer/zk7-guard ] || fail "no guard at /usr/libexec/zk7-programmer"
  [ -z "${ZK7_GUARD:-}" ] || fail "ZK7_GUARD is set"
  zk7prog ports >/dev/null
  pptool session zk7prog program --no-check --port 0x378 >/tmp/burn.out 2>/tmp/burn.err &
  burn=$!
  pptool stopwhen $burn 378 19 || fail "the burn never powered the lines"
  pidof zk7-guard >/dev/null || fail "no guard runs beside the burn"
  kill -CONT $burn
  finish burn $burn

  mkdir -p /tmp/alone
  cp /usr/bin/zk7prog /tmp/alone/
  zk7prog ports >/dev/null
  for args in "program --no-check" "read"; do
    run alone /tmp/alone/zk7prog $args --port 0x378
    expect_rc alone 2
    expect_has alone.err "could not be started, so nothing was powered"
    expect_lacks alone.err "Check Parallel Port"
    expect_latch 378 D0 "the lines after a run without its guard"
  done
}
