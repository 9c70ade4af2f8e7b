// zk7prog over the emulated chip behind the simulated USB adapter: a chip
// programmed through it reads back, and a failed transfer ends the run with
// the chip switched off and says so.
#include "cli_run.h"

namespace {

class CliUsb : public CliTest {};

TEST_F(CliUsb, ProgramsThroughTheSimulatedAdapterAndAFailedTransferSaysTheChipIsOff) {
  const std::string port = "emulator:" + Path("chip.txt") + ",usb=ft2232d";
  auto r = RunCli({"program", "--port", port});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(r.out, "PASSED\n");
  r = RunCli({"read", "--port", "emulator:" + Path("chip.txt") + ",usb=ft232h"});
  EXPECT_EQ(r.code, 0) << r.err;

  r = RunCli({"program", "--port", "emulator:usb=ft232r,usb-fail=60"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(Contains(r.err, "LIBUSB_ERROR_IO; the chip was switched off.")) << r.err;
}

}  // namespace
