#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "cli_run.h"
#include "files/intelhex.h"

using namespace zk7;

namespace {

class CliChip : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    port_ = "emulator:" + Path("chip.txt");
    WriteDvs("default.dvs", defaults_);
  }
  std::string port_;
};

extern "C" void IgnoreSignal(int) {}

}  // namespace

TEST_F(CliChip, ProgramReadVerifyOnAPersistedChip) {
  std::ostringstream out, err;
  zk7cli::Io io{out, err, true, '.'};
  ASSERT_EQ(zk7cli::Run({"program", "--port", port_}, io), 0) << err.str();
  EXPECT_EQ(out.str(), "PASSED\n");
  EXPECT_TRUE(Contains(err.str(), "] 70/70")) << "progress bar drawn";

  // Later runs see the burnt chip.
  auto r = RunCli({"read", "--port", port_});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "00: 00 00 00 FF F0 00 00 FF\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "40: FF FF FF FF FF FC\n"));
  EXPECT_TRUE(Contains(r.out, "OSC Setting = HS\nGP7 = RESET Pin\nConfig Word = 0x07\n"));
  EXPECT_EQ(RunCli({"verify", Path("default.dvs"), "--port", port_}).code, 0);

  // What was read is taken over whole, the configuration word as read (0x3FFF).
  ASSERT_EQ(RunCli({"read", "--port", port_, "-o", Path("back.dvs")}).code, 0);
  EXPECT_EQ(Read("back.dvs"), FormatDeviceFile(image_, 0x3FFF, "4000"));
  ASSERT_EQ(RunCli({"read", "--port", port_, "-o", Path("back.HEX")}).code, 0);
  EXPECT_EQ(Read("back.HEX"), WriteIntelHex(image_.ProgramImage, 0x3FFF));
}

TEST_F(CliChip, DifferencesOnABurntChip) {
  ASSERT_EQ(RunCli({"program", "--port", port_}).code, 0);
  RegisterSet other = defaults_;
  other.set(GPLAT, 0x5A);  // 00 on the chip: its bits would have to rise
  other.setConfigWord(4);
  WriteDvs("other.dvs", other);

  auto r = RunCli({"verify", Path("other.dvs"), "--port", port_});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.out, "  02        5A      00\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "  45        A2      FC\n")) << "the checksum differs too";
  EXPECT_TRUE(Contains(r.out, "Config word bits 2:0: expected 4, read 7"));
  EXPECT_TRUE(Contains(r.out, "FAILED: 3 differences"));

  // Without the pre-burn check the run fails where a bit would have to rise.
  r = RunCli({"program", Path("other.dvs"), "--port", port_, "--no-check"});
  EXPECT_TRUE(r.code == 1 && r.out.empty());
  EXPECT_TRUE(Contains(r.err,
                       "Failed to Program Address 2\nFailed to Program Register: 2\n"
                       "Expected: 345A\nRead: 3400\n"))
      << r.err;
}

TEST_F(CliChip, AnUnreachablePortIsAnErrorNeverTheEmulator) {
  const auto r = RunCli({"read", "--port", "/dev/parport99"});
  EXPECT_TRUE(r.code == 2 && r.out.empty() && Contains(r.err, "parport99")) << r.err;
}

TEST_F(CliChip, AChipFileThatCannotBeWrittenOrReadFailsTheRun) {
  auto r = RunCli({"program", "--port", "emulator:" + Path("none/chip.txt")});
  EXPECT_TRUE(r.code == 2 && r.out.empty() && Contains(r.err, "cannot write chip file")) << r.err;
  r = RunCli({"read", "--port", "emulator:/dev/zero"});
  EXPECT_TRUE(r.code == 2 && Contains(r.err, "larger than")) << r.err;
}

TEST_F(CliChip, CtrlCStopsProgrammingAndRestoresTheHandler) {
  // Signals that come before or after the command reach this handler, not the default one.
  struct sigaction mine {
  }, saved{}, now{};
  mine.sa_handler = IgnoreSignal;
  sigemptyset(&mine.sa_mask);
  sigaction(SIGINT, &mine, &saved);
  std::atomic<bool> done{false};
  std::thread interrupter([&done] {
    while (!done) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      kill(getpid(), SIGINT);
    }
  });
  const auto r = RunCli({"program", "--port", port_});
  done = true;
  interrupter.join();
  sigaction(SIGINT, &saved, &now);
  EXPECT_EQ(now.sa_handler, IgnoreSignal);
  EXPECT_TRUE(r.code == 1 && Contains(r.err, "Interrupted: the chip left programming mode."))
      << r.err;
  EXPECT_EQ(RunCli({"read", "--port", port_}).code, 0) << "the port is free again";
}
