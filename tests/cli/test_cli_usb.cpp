// zk7prog over the emulated chip behind the simulated USB adapter: a failed
// transfer ends the run with the chip switched off and says so.
#include "cli_run.h"

namespace {

class CliUsb : public CliTest {};

TEST_F(CliUsb, AFailedTransferEndsTheRunAndSaysTheChipIsOff) {
  const auto r = RunCli({"program", "--port", "emulator:usb=ft232r,usb-fail=60"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(Contains(r.err, "LIBUSB_ERROR_IO; the chip was switched off.")) << r.err;
}

}  // namespace
