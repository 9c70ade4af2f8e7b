// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/command_table.h"
#include "cli_run.h"
#include "files/intelhex.h"
#include "open_fifo.h"

using namespace zk7;

TEST_F(CliTest, HelpAndUsageErrors) {
  auto r = RunCli({});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "Usage: zk7prog COMMAND"));
  r = RunCli({"--help"});
  EXPECT_TRUE(ExitsSaying(r, 0, r.out, "emulator"));
  r = RunCli({"--version"});
  EXPECT_EQ(r.code, 0);
  EXPECT_EQ(r.out.rfind("zk7prog 1.1.0\n", 0), 0);
  EXPECT_TRUE(r.err.empty());
  EXPECT_TRUE(Contains(r.out, "\nLicense GPLv3+: GNU GPL version 3 or later")) << r.out;
  for (const auto* c : zk7cli::Commands()) {
    r = RunCli({"help", c->name});
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out.rfind(std::string("Usage: zk7prog ") + c->name, 0), 0) << r.out;
  }
  const std::vector<std::vector<std::string>> bad = {
      {"frobnicate"},
      {"export-hex"},  // no -o
      {"export-hex", "-o"},
      {"export-hex", "a.dvs", "b.dvs", "-o", "x"},
      {"show", "--colour"},
      {"show", "--vref-plus", "-5"},
      {"write-dvs", "-o", Path("x.dvs"), "--fosc-khz", "nan"},
      {"read", "--port", "emulator", "-o", Path("x.txt")},
      {"verify", "--port", "emulator"},  // no file
      {"program", "--port", "9999"},
      {"program"},                                                   // no port
      {"program", "--port", "emulator", "--serial", "TXID0=std:1"},  // no log
      {"program", "--port", "emulator", "--count", "0"},
      {"diff", Path("a.dvs")},
      {"set", "CNF1=1"},  // no -o
  };
  for (const auto& args : bad) {
    r = RunCli(args);
    EXPECT_EQ(r.code, 2) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_TRUE(r.out.empty()) << args[0] << " " << (args.size() > 1 ? args[1] : "");
    EXPECT_FALSE(r.err.empty()) << args[0] << " " << (args.size() > 1 ? args[1] : "");
  }
}

// Without a file the defaults are exported: see the FIFO below.
TEST_F(CliTest, ExportHexFromAFileTakesItsRegistersAndConfigWord) {
  RegisterSet rs = defaults_;
  rs.set(GPLAT, 0x5A);
  rs.setConfigWord(4);
  WriteDvs("in.dvs", rs);
  ASSERT_EQ(RunCli({"export-hex", Path("in.dvs"), "--output=" + Path("y.hex")}).code, 0);
  MemoryImage image;
  BuildMemoryImage(rs, image);
  EXPECT_EQ(Read("y.hex"), WriteIntelHex(image.ProgramImage, 4));
}

TEST_F(CliTest, FileErrorsExitTwoAndKeepTheOldOutput) {
  Write("x.hex", "old");
  Write("bad.dvs", " 1 \r\n 256 \r\n");
  auto r = RunCli({"export-hex", Path("bad.dvs"), "-o", Path("x.hex")});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "bad.dvs"));
  EXPECT_EQ(Read("x.hex"), "old");
  EXPECT_TRUE(Contains(RunCli({"show", Path("missing.dvs")}).err, "No such file or directory"));
  r = RunCli({"write-dvs", "-o", dir_});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "Is a directory"));
  // Oversized input is refused at once; a FIFO or a device is written through, never replaced.
  r = RunCli({"show", "/dev/zero"});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err, "larger than"));
  OpenFifo fifo(Path("fifo"));
  EXPECT_EQ(RunCli({"export-hex", "-o", fifo.path}).code, 0);
  EXPECT_TRUE(fifo.stillFifo());
  EXPECT_EQ(fifo.drain(), WriteIntelHex(image_.ProgramImage, 7));
  EXPECT_EQ(RunCli({"export-hex", "-o", "/dev/null"}).code, 0);
}

// A write in place killed between writing and cutting the file to length leaves the new
// contents with the old tail, and its copy of the old contents: loads and writes name the copy.
TEST_F(CliTest, AnInterruptedWriteInPlaceIsSaidWithWhereTheOldContentsAre) {
  ASSERT_EQ(RunCli({"export-hex", "-o", Path("x.hex")}).code, 0);
  const std::string old = Read("x.hex"), copy = Path(".x.hex.k3j9x0aa.orig");
  Write(".x.hex.k3j9x0aa.orig", old);
  Write("x.hex", ":00000001FF\n" + old.substr(12));
  auto r = RunCli({"show", Path("x.hex")});
  EXPECT_TRUE(ExitsSaying(r, 2, r.err,
                          "an earlier write of " + Path("x.hex") +
                              " was interrupted; what it held before that "
                              "write is kept in " +
                              copy));
  r = RunCli({"export-hex", "-o", Path("x.hex")});
  EXPECT_TRUE(ExitsSaying(r, 0, r.err, "warning: an earlier write"));
  EXPECT_TRUE(Contains(r.err, copy)) << r.err;
  r = RunCli({"show", Path("x.hex")});
  EXPECT_TRUE(ExitsSaying(r, 0, r.err, copy));
  std::remove(copy.c_str());
  EXPECT_EQ(RunCli({"show", Path("x.hex")}).err, "");
}

TEST_F(CliTest, WriteDvsRecomputesTheChecksumAndKeepsTheFrequency) {
  ASSERT_EQ(RunCli({"write-dvs", "-o", Path("d.dvs")}).code, 0);
  EXPECT_EQ(Read("d.dvs"), FormatDeviceFile(image_, 7, "4000"));
  MemoryImage wrong = image_;
  wrong.MemMap[kChecksumEntry] = 1;
  Write("in.dvs", FormatDeviceFile(wrong, 7, "3686,4"));
  ASSERT_EQ(RunCli({"write-dvs", Path("in.dvs"), "-o", Path("out.dvs")}, ',').code, 0);
  EXPECT_EQ(Read("out.dvs"), FormatDeviceFile(image_, 7, "3686,4"));
  ASSERT_EQ(
      RunCli({"write-dvs", Path("in.dvs"), "-o", Path("f.dvs"), "--fosc-khz", "20"}, ',').code, 0);
  EXPECT_EQ(Read("f.dvs"), FormatDeviceFile(image_, 7, "20"));
}

TEST_F(CliTest, ShowRegistersAndDerivedValues) {
  auto r = RunCli({"show"});
  ASSERT_EQ(r.code, 0) << r.err;
  for (const auto& reg : RegisterTable())
    EXPECT_TRUE(Contains(r.out, *reg.name ? reg.name : "reserved")) << reg.index;
  for (const char* line :
       {"04  OPTREG1    F0\n", "12  reserved   FF\n", "Checksum: FC\n", "OSC Setting = HS\n",
        "Bit Time (us) = 2.5\n", "TXID0: Ext ID 1FFFFFFF\n", "PWM Period (us) = 256\n",
        "Scheduled TX (ms) = 67108.864\n", "A/D Aquisition Time (us) = 16\n",
        "AN1: OFF, polarity = 0, code = 1023, voltage = 4.9951171875 V\n"})
    EXPECT_TRUE(Contains(r.out, line)) << line;
  EXPECT_TRUE(Contains(RunCli({"show", "--vref-plus", "4", "--vref-minus", "1"}).out,
                       "code = 1023, voltage = 3.9970703125 V\n"));

  ASSERT_EQ(RunCli({"write-dvs", "-o", Path("z.dvs"), "--fosc-khz", "0"}).code, 0);
  r = RunCli({"show", Path("z.dvs")});
  for (const char* line : {"Bit Time (us) = --\n", "PWM Period (us) = --\n",
                           "Scheduled TX (ms) = --\n", "Time Between Conversions (ms) = --\n"})
    EXPECT_TRUE(Contains(r.out, line)) << line;

  // An old-version file: no frequency line, so the default frequency.
  std::string old = FormatDeviceFile(image_, 5, "");
  Write("old.dvs", old.substr(0, old.size() - 2));
  r = RunCli({"show", Path("old.dvs")});
  EXPECT_TRUE(ExitsSaying(r, 0, r.err, "old version"));
  EXPECT_TRUE(Contains(r.out, "Fosc: 4000 kHz"));
  EXPECT_TRUE(Contains(r.out, "OSC Setting = XT\n    GP7 = RESET Pin\n"));
}
