#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <thread>

#include "cli_run.h"
#include "files/atomicfile.h"
#include "files/devicefile.h"
#include "files/intelhex.h"

using namespace zk7;

namespace {

class CliChip : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zk7_chip_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    port_ = "emulator:" + dir_ + "/chip.txt";
    SetDefaultRegisters(defaults_);
    BuildMemoryImage(defaults_, image_);
    WriteDvs("default.dvs", defaults_);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  void WriteDvs(const std::string& name, RegisterSet rs) const {
    MemoryImage image;
    BuildMemoryImage(rs, image);
    std::string error;
    ASSERT_TRUE(WriteDeviceFile(Path(name), image, rs.ConfigWord(), "4000", error)) << error;
  }

  std::string dir_, port_;
  RegisterSet defaults_;
  MemoryImage image_;
};

}  // namespace

TEST_F(CliChip, ProgramReadVerifyOnAPersistedChip) {
  std::ostringstream out, err;
  zk7cli::Io io{out, err, true, '.'};
  ASSERT_EQ(zk7cli::Run({"program", "--port", port_}, io), 0) << err.str();
  EXPECT_EQ(out.str(), "PASSED\n");
  EXPECT_TRUE(Contains(err.str(), "] 70/70")) << "progress bar drawn";

  // A later run sees the burnt chip.
  auto r = RunCli({"read", "--port", port_});
  ASSERT_EQ(r.code, 0) << r.err;
  EXPECT_TRUE(Contains(r.out, "00: 00 00 00 FF F0 00 00 FF\n")) << r.out;
  EXPECT_TRUE(Contains(r.out, "40: FF FF FF FF FF FC\n"));
  EXPECT_TRUE(Contains(r.out, "OSC Setting = HS\nGP7 = RESET Pin\nConfig Word = 0x07\n"));

  r = RunCli({"verify", Path("default.dvs"), "--port", port_});
  EXPECT_EQ(r.code, 0) << r.out << r.err;
  EXPECT_TRUE(Contains(r.out, "Verified"));

  // What was read is taken over whole: the configuration word as read (0x3FFF).
  ASSERT_EQ(RunCli({"read", "--port", port_, "-o", Path("back.dvs")}).code, 0);
  DeviceFileContents c;
  std::string error;
  ASSERT_TRUE(ReadDeviceFile(Path("back.dvs"), c, error)) << error;
  RegisterSet expected = defaults_;
  expected.setConfigWord(0x3FFF);
  EXPECT_EQ(c.registers, expected);
  EXPECT_EQ(c.foscText, "4000");
  ASSERT_EQ(RunCli({"read", "--port", port_, "-o", Path("back.HEX")}).code, 0);
  std::string hex;
  ASSERT_TRUE(ReadWholeFile(Path("back.HEX"), hex, error));
  EXPECT_EQ(hex, WriteIntelHex(image_.ProgramImage, 0x3FFF));
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

  r = RunCli({"program", Path("other.dvs"), "--port", port_});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.empty());
  // The configuration word 7 -> 4 can burn; GPLAT cannot.
  EXPECT_TRUE(Contains(r.err,
                       "Failed to Program Address 2\nFailed to Program Register: 2\n"
                       "Expected: 345A\nRead: 3400\n"))
      << r.err;
}

TEST_F(CliChip, ChipFaultsAndPortErrors) {
  auto r = RunCli({"program", "--port", "emulator:fault=nochip-low"});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err,
                       "Failed to Program Config. Word\n"
                       "Failed to Program Configuration Word!\nExpected: 7\nRead: 0"))
      << r.err;
  r = RunCli({"read", "--port", "emulator:fault=nochip-high"});
  EXPECT_EQ(r.code, 0) << "a read cannot tell a missing chip";
  EXPECT_TRUE(Contains(r.out, "00: FF FF FF FF FF FF FF FF\n"));

  // A real port that cannot be reached is an error, never the emulator.
  r = RunCli({"read", "--port", "/dev/parport99"});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(r.out.empty());
  EXPECT_TRUE(Contains(r.err, "parport99")) << r.err;
  r = RunCli({"program", "--port", "emulator:fault=sparks"});
  EXPECT_EQ(r.code, 2);
  r = RunCli({"verify", Path("missing.dvs"), "--port", port_});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "No such file or directory"));
}

extern "C" void IgnoreSignal(int) {}

TEST_F(CliChip, CtrlCStopsProgrammingAndRestoresTheHandler) {
  // Signals that come before or after the command reach this handler, not the default one.
  struct sigaction mine {
  }, saved{};
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
  struct sigaction now {};
  sigaction(SIGINT, &saved, &now);
  EXPECT_EQ(now.sa_handler, IgnoreSignal);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(Contains(r.err, "Interrupted: the chip left programming mode.")) << r.err;
  EXPECT_TRUE(r.out.empty());
  // The port is free again for the next run.
  EXPECT_EQ(RunCli({"read", "--port", port_}).code, 0);
}
