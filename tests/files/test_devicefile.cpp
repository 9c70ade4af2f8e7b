#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/devicefile.h"

using namespace zk7;

namespace {

struct Defaults {
  RegisterSet rs;
  MemoryImage image;
  Defaults() {
    SetDefaultRegisters(rs);
    BuildMemoryImage(rs, image);
  }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::size_t start = 0, end;
  while ((end = text.find("\r\n", start)) != std::string::npos) {
    out.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
  return out;
}

std::string Join(const std::vector<std::string>& lines, const char* ending = "\r\n") {
  std::string s;
  for (const auto& l : lines) s += l + ending;
  return s;
}

}  // namespace

TEST(DeviceFile, DefaultFileHasExactLines) {
  Defaults d;
  const auto lines = Lines(FormatDeviceFile(d.image, d.rs.ConfigWord(), "4000"));
  ASSERT_EQ(lines.size(), 72u);
  EXPECT_EQ(lines[0], " 0 ");
  EXPECT_EQ(lines[3], " 255 ");   // reserved byte
  EXPECT_EQ(lines[4], " 240 ");   // OPTREG1
  EXPECT_EQ(lines[52], " 127 ");  // GPDDR
  EXPECT_EQ(lines[69], " 252 ");  // checksum
  EXPECT_EQ(lines[70], " 7 ");
  EXPECT_EQ(lines[71], "4000");
}

TEST(DeviceFile, NegativeConfigWordAndLineBreaksInFrequency) {
  Defaults d;
  auto lines = Lines(FormatDeviceFile(d.image, -5, "4000\r\n1"));
  ASSERT_EQ(lines.size(), 72u);
  EXPECT_EQ(lines[70], "-5 ");
  EXPECT_EQ(lines[71], "40001");
}

TEST(DeviceFile, RoundTripKeepsEverything) {
  Defaults d;
  d.rs.set(CNF1, 0x83);
  d.rs.setUser(15, 0x12);
  d.rs.setConfigWord(-32768);
  BuildMemoryImage(d.rs, d.image);
  DeviceFileContents c;
  std::string error;
  ASSERT_TRUE(ParseDeviceFile(FormatDeviceFile(d.image, d.rs.ConfigWord(), "3686.4"), c, error))
      << error;
  EXPECT_EQ(c.registers, d.rs);
  EXPECT_FALSE(c.oldVersion);
  EXPECT_EQ(c.foscText, "3686.4");
  EXPECT_DOUBLE_EQ(c.foscHz, 3686400.0);
}

TEST(DeviceFile, AcceptsLfOnlySpacesExtraLinesAndLocaleSeparator) {
  Defaults d;
  auto lines = Lines(FormatDeviceFile(d.image, 7, "3579,545"));
  lines[4] = "\t240";
  lines[5] = "+0";
  lines.push_back("anything");
  DeviceFileContents c;
  std::string error;
  ASSERT_TRUE(ParseDeviceFile("\xEF\xBB\xBF" + Join(lines, "\n"), c, error, ',')) << error;
  EXPECT_EQ(c.registers, d.rs);
  EXPECT_DOUBLE_EQ(c.foscHz, 3579545.0);
  // "." is always accepted; the locale's separator only when it is the locale's.
  lines[71] = "3579.545";
  EXPECT_TRUE(ParseDeviceFile(Join(lines), c, error, ','));
  lines[71] = "3579,545";
  EXPECT_FALSE(ParseDeviceFile(Join(lines), c, error, '.'));
}

TEST(DeviceFile, OldVersionAndBlankFrequency) {
  Defaults d;
  auto lines = Lines(FormatDeviceFile(d.image, 7, "4000"));
  lines.pop_back();
  DeviceFileContents c;
  std::string error;
  ASSERT_TRUE(ParseDeviceFile(Join(lines), c, error)) << error;
  EXPECT_TRUE(c.oldVersion);
  EXPECT_EQ(c.registers, d.rs);
  // The last line without its ending still counts.
  std::string noEnding = Join(lines);
  noEnding.resize(noEnding.size() - 2);
  ASSERT_TRUE(ParseDeviceFile(noEnding, c, error)) << error;
  EXPECT_EQ(c.registers.ConfigWord(), 7);
  lines.push_back("  ");
  ASSERT_TRUE(ParseDeviceFile(Join(lines), c, error)) << error;
  EXPECT_TRUE(c.oldVersion);
}

TEST(DeviceFile, EveryBadFileIsRefusedWithADescription) {
  Defaults d;
  const auto good = Lines(FormatDeviceFile(d.image, 7, "4000"));
  struct Case {
    int line;  // 1-based line to replace (0: cut the file instead)
    std::string text;
    std::string expect;  // part of the error text
  };
  const std::vector<Case> cases = {
      {5, " 256 ", "Line 5 (OPTREG1): 256 does not fit (0 to 255)"},
      {1, "-1", "Line 1 (IOINTEN)"},
      {4, "abc", "Line 4 (reserved byte): \"abc\" is not a whole number"},
      {60, "1.5", "user memory byte 6"},
      {70, "", "Line 70 (checksum)"},
      {71, "32768", "Line 71 (configuration word): 32768 does not fit"},
      {71, "0x7", "configuration word"},
      {72, "nan", "Line 72 (frequency in kHz)"},
      {72, "inf", "is not a number"},
      {72, "1e999", "is not a number"},
      {72, "4000kHz", "is not a number"},
      {72, "4.0.0", "is not a number"},
      {72, "-4000", "negative"},
      {72, "0x10", "is not a number"},
  };
  for (const auto& k : cases) {
    auto lines = good;
    lines[static_cast<std::size_t>(k.line - 1)] = k.text;
    DeviceFileContents c;
    std::string error;
    EXPECT_FALSE(ParseDeviceFile(Join(lines), c, error)) << k.text;
    EXPECT_NE(error.find(k.expect), std::string::npos) << error;
  }
  for (std::size_t n : {0u, 1u, 40u, 70u}) {
    std::vector<std::string> cut(good.begin(), good.begin() + static_cast<long>(n));
    DeviceFileContents c;
    std::string error;
    EXPECT_FALSE(ParseDeviceFile(Join(cut), c, error));
    EXPECT_NE(error.find("ends after line " + std::to_string(n)), std::string::npos) << error;
  }
}

TEST(DeviceFile, FailedParseLeavesOutputUntouched) {
  Defaults d;
  auto lines = Lines(FormatDeviceFile(d.image, 7, "4000"));
  for (auto& l : lines) l = " 1 ";
  lines[60] = " 256 ";
  DeviceFileContents c;
  c.foscText = "keep";
  std::string error;
  ASSERT_FALSE(ParseDeviceFile(Join(lines), c, error));
  EXPECT_EQ(c.foscText, "keep");
  EXPECT_EQ(c.registers, RegisterSet());
}

TEST(DeviceFile, WriteAndReadBackThroughTheFileSystem) {
  Defaults d;
  const std::string path = ::testing::TempDir() + "zk7_default.dvs";
  std::string error;
  ASSERT_TRUE(WriteDeviceFile(path, d.image, 7, "4000", error)) << error;
  DeviceFileContents c;
  ASSERT_TRUE(ReadDeviceFile(path, c, error)) << error;
  EXPECT_EQ(c.registers, d.rs);
  EXPECT_DOUBLE_EQ(c.foscHz, 4e6);
  EXPECT_FALSE(ReadDeviceFile(path + ".missing", c, error));
  EXPECT_EQ(error, "No such file or directory");
  // An image entry that is not a byte would give a file no reader takes.
  d.image.MemMap[3] = 300;
  EXPECT_FALSE(WriteDeviceFile(path, d.image, 7, "4000", error));
  ASSERT_TRUE(ReadDeviceFile(path, c, error));
  EXPECT_EQ(c.registers, d.rs);
}
