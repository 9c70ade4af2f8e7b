// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// zk7prog with --port ftdi through the real libftdi, against the simulated
// adapter on a bus that runs on the machine's clock: a run that passes leaves
// the adapter a serial port and says nothing about a cable; a failed transfer
// ends the run and says the chip is off; the emulator behind usb= fails as
// plainly as without it when its chip file cannot be written.
#include <unistd.h>

#include "cli_run.h"
#include "usb_rig.h"

namespace {

class CliUsb : public CliTest {};

TEST_F(CliUsb, ARunThroughLibftdiPassesAndAFailedTransferSaysTheChipIsOff) {
  if (!zk7::FtdiUnavailableReason().empty()) GTEST_SKIP() << "built without libftdi";
  UsbRig rig(zk7::sim::kFtdiModels[1], zk7::sim::UsbBus::Time::Real);
  auto r = RunCli({"program", "--port", "ftdi"});
  EXPECT_TRUE(ExitsSaying(r, 0, r.out, "PASSED"));
  EXPECT_FALSE(Contains(r.err, "warning")) << r.err;
  EXPECT_EQ(rig.device.mode(), zk7::sim::FtdiDevice::Mode::Serial);

  zk7::sim::UsbBus::Faults fault;
  fault.failAt = {rig.bus.transfers(rig.id) + 60};
  rig.bus.setFaults(rig.id, fault);
  r = RunCli({"program", "--port", "ftdi"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty()) << r.out;
  EXPECT_TRUE(Contains(r.err, "(LIBUSB_TRANSFER_ERROR); the chip was switched off.")) << r.err;
}

TEST_F(CliUsb, AChipFileThatCannotBeSavedFailsTheRunBehindUsbAsWithout) {
  const std::string chip = Path("chip.txt");
  ASSERT_EQ(symlink("/nonexistent/folder/chip.txt", chip.c_str()), 0);
  for (const std::string usb : {"", ",usb=ft232r"}) {
    const auto r = RunCli({"program", "--port", "emulator:" + chip + usb});
    EXPECT_TRUE(ExitsSaying(r, 2, r.err, "the burnt words are not saved")) << usb;
  }
}

}  // namespace
