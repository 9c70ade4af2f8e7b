# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# Direct I/O as root, with and without parport_pc, and what a missing driver is told.
cases direct_io_with_and_without_parport_pc

case_direct_io_with_and_without_parport_pc() {
  run nodev zk7prog read --port /dev/parport0
  expect_rc nodev 2
  expect_has nodev.err "Load the parallel-port drivers (sudo modprobe parport_pc ppdev)."
  expect_lacks nodev.err "choose the address"

  zk7prog ports >/dev/null
  run direct zk7prog read --port 0x378
  expect_rc direct 1
  expect_has direct.err "Every word read 3FFF"
  expect_unpowered 378

  # A port the kernel drives is reached through ppdev only.
  load parport_pc
  run kernel zk7prog read --port 0x378
  expect_rc kernel 2
  expect_has kernel.err "the kernel drives this port ($(basename "$(port_dev 378)"))"
  expect_has kernel.err "sudo modprobe ppdev"
}
