# SPDX-FileCopyrightText: 2026 ZK7 Programmer project
# SPDX-License-Identifier: GPL-3.0-or-later
# zk7prog ports switches every port it can reach off, whatever drives it.
cases ports

case_ports() {
  # Nothing loaded: what the firmware's own port check left (0xAA, VPP and
  # VDD on) is switched off by direct I/O, and only where a port answers.
  pptool poke 378 AA
  pptool poke 278 AA
  run bare zk7prog ports
  expect_rc bare 0
  expect_has bare.out "No port found"
  expect_has bare.out "Lines switched off (0xD0) by direct I/O on 0x378, 0x278."
  expect_latch 378 D0
  expect_latch 278 D0

  # parport_pc's probe leaves 0x04 (VDD on in programming mode); without
  # ppdev, direct I/O still reaches both ports.
  load parport_pc
  expect_latch 378 04 "what the probe left at 378"
  run nopp zk7prog ports
  expect_has nopp.out "Load the ppdev module"
  expect_has nopp.out "Lines switched off (0xD0) by direct I/O on 0x378, 0x278."
  expect_latch 378 D0
  expect_latch 278 D0

  # With ppdev, through the devices the ports' base addresses name.
  load ppdev
  pptool poke 278 AA
  run pp zk7prog ports
  expect_has pp.out "0x378  parallel port $(port_dev 378) at 0x378"
  expect_has pp.out "0x278  parallel port $(port_dev 278) at 0x278"
  expect_has pp.out "Lines switched off (0xD0) on 0x378, 0x278."
  expect_lacks pp.out "direct I/O"
  expect_latch 278 D0
  expect_no_kernel_error "cannot grant exclusive access"
}
