# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# The chip commands on a port without an adapter: the cable check passes and
# every data bit reads 1, so every word reads 3FFF.
cases chip_commands_on_an_empty_port

case_chip_commands_on_an_empty_port() {
  load parport_pc ppdev
  zk7prog write-dvs -o /tmp/node.dvs || fail "write-dvs"
  for port in "$(port_dev 378)" 0x378; do
    zk7prog ports >/dev/null
    run read zk7prog read --port "$port" -o /tmp/backup.dvs
    expect_rc read 1
    expect_has read.err "Every word read 3FFF: no chip in the socket, or the chip is not powered."
    [ ! -s /tmp/read.out ] || fail "read --port $port showed an invented chip: $(cat /tmp/read.out)"
    [ ! -e /tmp/backup.dvs ] || fail "read --port $port saved an invented chip"
    for cmd in check verify program; do
      if [ $cmd = verify ]; then run $cmd zk7prog verify /tmp/node.dvs --port "$port"; else
        run $cmd zk7prog $cmd --port "$port"; fi
      expect_rc $cmd 1
      grep -qF "Every word read 3FFF" /tmp/$cmd.out /tmp/$cmd.err ||
        fail "$cmd --port $port did not say no chip answered: $(cat /tmp/$cmd.out /tmp/$cmd.err)"
      expect_lacks $cmd.out "would need bits to rise"
    done
    expect_has program.err "nothing was burnt"
    expect_unpowered 378
  done
  run line zk7prog program --port 0x378 --serial TXID0=std:100 --log /tmp/line.csv
  expect_rc line 1
  expect_has line.out "REFUSED at nochip"
  grep -q ",100,REFUSED,nochip," /tmp/line.csv || fail "the log lacks REFUSED at nochip: $(cat /tmp/line.csv)"

  # Nothing at 0x3BC: the cable check ends the run before anything is powered.
  run wrong env ZK7_PORT_TRACE=/tmp/wrong.trace zk7prog read --port 0x3BC
  expect_rc wrong 2
  expect_has wrong.err "Wrong LPT Address"
  ! grep -q "^W" /tmp/wrong.trace || fail "a port with no adapter was written: $(cat /tmp/wrong.trace)"
}
