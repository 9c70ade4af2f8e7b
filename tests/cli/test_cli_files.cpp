#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "cli_run.h"
#include "files/atomicfile.h"
#include "files/devicefile.h"
#include "files/intelhex.h"

using namespace zk7;

namespace {

class CliFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/zk7_cli_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    SetDefaultRegisters(defaults_);
    BuildMemoryImage(defaults_, image_);
  }
  void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Read(const std::string& path) const {
    std::string content, error;
    EXPECT_TRUE(ReadWholeFile(path, content, error)) << path << ": " << error;
    return content;
  }
  void Write(const std::string& path, const std::string& content) const {
    std::string error;
    ASSERT_TRUE(AtomicWriteFile(path, content, error)) << error;
  }

  std::string dir_;
  RegisterSet defaults_;
  MemoryImage image_;
};

}  // namespace

TEST_F(CliFiles, HelpAndUsageErrors) {
  auto r = RunCli({});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "Usage: zk7prog COMMAND"));
  r = RunCli({"--help"});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(Contains(r.out, "emulator"));
  for (const char* cmd : {"show", "export-hex", "write-dvs", "program", "read", "verify"}) {
    r = RunCli({cmd, "--help"});
    EXPECT_EQ(r.code, 0) << cmd;
    EXPECT_TRUE(Contains(r.out, std::string("Usage: zk7prog ") + cmd)) << r.out;
    EXPECT_TRUE(RunCli({"help", cmd}).out == r.out);
  }
  const std::vector<std::vector<std::string>> bad = {
      {"frobnicate"},
      {"export-hex"},                               // no -o
      {"export-hex", "-o"},                         // -o without value
      {"export-hex", "a.dvs", "b.dvs", "-o", "x"},  // two inputs
      {"show", "--colour"},
      {"show", "--vref-plus", "-5"},
      {"write-dvs", "-o", Path("x.dvs"), "--fosc-khz", "fast"},
      {"write-dvs", "-o", Path("x.dvs"), "--fosc-khz", "nan"},
      {"read", "--port", "378", "-o", Path("x.txt")},
      {"verify", "--port", "emulator"},  // no file
      {"program", "--port", "9999"},
      {"program"},  // no port
  };
  for (const auto& args : bad) {
    r = RunCli(args);
    EXPECT_EQ(r.code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_TRUE(r.out.empty());
    EXPECT_FALSE(r.err.empty());
  }
  EXPECT_FALSE(access(Path("x.dvs").c_str(), F_OK) == 0) << "nothing written on a usage error";
}

TEST_F(CliFiles, ExportHexReproducesTheDefaultExport) {
  const auto r = RunCli({"export-hex", "-o", Path("x.hex")});
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Read(Path("x.hex")), WriteIntelHex(image_.ProgramImage, 7));
  EXPECT_TRUE(Contains(Read(Path("x.hex")), ":10000000003400340034FF34F03400340034FF3462\r\n"));

  // From a device file, with the --output=FILE spelling.
  RegisterSet rs = defaults_;
  rs.set(GPLAT, 0x5A);
  rs.setConfigWord(4);
  MemoryImage image;
  BuildMemoryImage(rs, image);
  Write(Path("in.dvs"), FormatDeviceFile(image, 4, "4000"));
  EXPECT_EQ(RunCli({"export-hex", Path("in.dvs"), "--output=" + Path("y.hex")}).code, 0);
  EXPECT_EQ(Read(Path("y.hex")), WriteIntelHex(image.ProgramImage, 4));
}

TEST_F(CliFiles, FileErrorsExitTwoAndKeepTheOldOutput) {
  Write(Path("x.hex"), "old");
  Write(Path("bad.dvs"), " 1 \r\n 256 \r\n");
  auto r = RunCli({"export-hex", Path("bad.dvs"), "-o", Path("x.hex")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "bad.dvs")) << r.err;
  EXPECT_EQ(Read(Path("x.hex")), "old");
  r = RunCli({"export-hex", Path("missing.dvs"), "-o", Path("x.hex")});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "No such file or directory")) << r.err;
  r = RunCli({"write-dvs", "-o", dir_});
  EXPECT_EQ(r.code, 2);
  EXPECT_TRUE(Contains(r.err, "Is a directory")) << r.err;
}

TEST_F(CliFiles, WriteDvsRecomputesTheChecksumAndKeepsTheFrequency) {
  EXPECT_EQ(RunCli({"write-dvs", "-o", Path("d.dvs")}).code, 0);
  EXPECT_EQ(Read(Path("d.dvs")), FormatDeviceFile(image_, 7, "4000"));

  // A file with a wrong checksum and a frequency with the locale's comma.
  MemoryImage wrong = image_;
  wrong.MemMap[kChecksumEntry] = 1;
  Write(Path("in.dvs"), FormatDeviceFile(wrong, 7, "3686,4"));
  auto r = RunCli({"write-dvs", Path("in.dvs"), "-o", Path("out.dvs")}, ',');
  EXPECT_EQ(r.code, 0) << r.err;
  EXPECT_EQ(Read(Path("out.dvs")), FormatDeviceFile(image_, 7, "3686,4"));
  EXPECT_EQ(RunCli({"write-dvs", Path("in.dvs"), "-o", Path("out.dvs")}).code, 2)
      << "a comma is not a decimal separator where the locale uses the point";

  r = RunCli({"write-dvs", "-o", Path("f.dvs"), "--fosc-khz", "3686.4"});
  EXPECT_EQ(r.code, 0);
  DeviceFileContents c;
  std::string error;
  ASSERT_TRUE(ReadDeviceFile(Path("f.dvs"), c, error)) << error;
  EXPECT_EQ(c.foscText, "3686.4");
  EXPECT_EQ(c.registers, defaults_);
}

TEST_F(CliFiles, OldVersionFileIsUsedWithTheDefaultFrequency) {
  std::string text = FormatDeviceFile(image_, 5, "");
  text.resize(text.size() - 2);  // no line 72 at all
  Write(Path("old.dvs"), text);
  const auto r = RunCli({"show", Path("old.dvs")});
  EXPECT_EQ(r.code, 0);
  EXPECT_TRUE(Contains(r.err, "old version"));
  EXPECT_TRUE(Contains(r.out, "Fosc = 4000 kHz"));
  EXPECT_TRUE(Contains(r.out, "OSC Setting = XT"));
  EXPECT_TRUE(Contains(r.out, "GP7 = RESET Pin"));
}

TEST_F(CliFiles, ShowNamesEveryRegister) {
  const auto r = RunCli({"show"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const auto& reg : RegisterTable())
    if (*reg.name) {
      EXPECT_TRUE(Contains(r.out, reg.name)) << reg.name;
    }
  EXPECT_TRUE(Contains(r.out, "04  OPTREG1    F0\n"));
  EXPECT_TRUE(Contains(r.out, "12  reserved   FF\n"));  // position 0x12 = 18
  EXPECT_TRUE(Contains(r.out, "Checksum: FC\n"));
  EXPECT_TRUE(Contains(r.out, "OSC Setting = HS"));
  // Derived values at the default 4000 kHz.
  EXPECT_TRUE(Contains(r.out, "Bit Time (us) = 2.5\n"));
  EXPECT_TRUE(Contains(r.out, "TXID0 Ext ID 1FFFFFFF\n"));
  EXPECT_TRUE(Contains(r.out, "PWM Period (us) = 256\n"));
  EXPECT_TRUE(Contains(r.out, "Scheduled TX (ms) = 67108.864\n"));
  EXPECT_TRUE(Contains(r.out, "A/D Aquisition Time (us) = 16 (64 / Tosc)\n"));
  EXPECT_TRUE(Contains(r.out, "AN1: OFF, polarity 0, code 1023 = 4.9951171875 V\n"));
  const auto scaled = RunCli({"show", "--vref-plus", "4", "--vref-minus", "1"});
  EXPECT_TRUE(Contains(scaled.out, "Threshold Detection (1 to 4 V)"));
}

TEST_F(CliFiles, ShowWithoutAFrequencyShowsNoValues) {
  ASSERT_EQ(RunCli({"write-dvs", "-o", Path("z.dvs"), "--fosc-khz", "0"}).code, 0);
  const auto r = RunCli({"show", Path("z.dvs")});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const char* line :
       {"Bit Time (us) = --\n", "Bit rate (kbit/s) = --\n", "PWM Period (us) = --\n",
        "Duty Cycle (%) = --\n", "Scheduled TX (ms) = --\n"})
    EXPECT_TRUE(Contains(r.out, line)) << line;
  EXPECT_TRUE(Contains(r.out, "Sample point (%) = 60\n")) << "does not depend on Fosc";
}
