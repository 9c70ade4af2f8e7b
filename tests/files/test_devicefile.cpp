// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/devicefile.h"
#include "support/temp_dir.h"

using namespace zk7;

namespace {

struct Defaults {
  RegisterSet rs;
  MemoryImage image;
  Defaults() {
    SetDefaultRegisters(rs);
    BuildMemoryImage(rs, image);
  }
  std::vector<std::string> lines(std::int16_t word = 7, const std::string& fosc = "4000") const {
    const std::string text = FormatDeviceFile(image, word, fosc);
    std::vector<std::string> out;
    std::size_t start = 0, end;
    while ((end = text.find("\r\n", start)) != std::string::npos) {
      out.push_back(text.substr(start, end - start));
      start = end + 2;
    }
    EXPECT_EQ(start, text.size()) << "every line ends in CR LF";
    return out;
  }
};

std::string Join(const std::vector<std::string>& lines, const char* ending = "\r\n") {
  std::string s;
  for (const auto& l : lines) s += l + ending;
  return s;
}

}  // namespace

TEST(DeviceFile, WritesNumbersAsAPrintStatementAndReadsThemBack) {
  Defaults d;
  const auto lines = d.lines();
  ASSERT_EQ(lines.size(), 72u);
  // First, reserved, OPTREG1, checksum, configuration word and frequency lines.
  for (const auto& [line, text] : std::vector<std::pair<int, std::string>>{
           {0, " 0 "}, {3, " 255 "}, {4, " 240 "}, {69, " 252 "}, {70, " 7 "}, {71, "4000"}})
    EXPECT_EQ(lines[static_cast<std::size_t>(line)], text) << line;
  const auto negative = d.lines(-5, "40\r\n00");
  EXPECT_EQ(negative[70], "-5 ");
  EXPECT_EQ(negative[71], "4000") << "a line break would shift every line";

  const TempDir tmp;
  const std::string path = tmp.path("default.dvs");
  std::string error;
  ASSERT_TRUE(WriteDeviceFile(path, d.image, -32768, "3686.4", error)) << error;
  DeviceFileContents c;
  ASSERT_TRUE(ReadDeviceFile(path, c, error)) << error;
  RegisterSet expected = d.rs;
  expected.setConfigWord(-32768);
  EXPECT_EQ(c.registers, expected);
  EXPECT_FALSE(c.oldVersion);
  EXPECT_EQ(c.foscText, "3686.4");
  EXPECT_DOUBLE_EQ(c.foscHz, 3686400.0);
}

TEST(DeviceFile, ReaderToleratesWhatOtherWritersDo) {
  Defaults d;
  auto lines = d.lines(7, "3579,545");
  lines[4] = "\t240";
  lines[5] = "+0";
  lines.push_back("anything after line 72");
  DeviceFileContents c;
  std::string error;
  // LF-only lines, a byte-order mark, the locale's decimal comma.
  ASSERT_TRUE(ParseDeviceFile("\xEF\xBB\xBF" + Join(lines, "\n"), c, error, ',')) << error;
  EXPECT_EQ(c.registers, d.rs);
  EXPECT_DOUBLE_EQ(c.foscHz, 3579545.0);
  lines[71] = "3579.545";
  EXPECT_TRUE(ParseDeviceFile(Join(lines), c, error, ',')) << "the point is always accepted";
  lines[71] = "3579,545";
  EXPECT_FALSE(ParseDeviceFile(Join(lines), c, error, '.'));

  // Old version: 71 lines, with or without the last ending, or a blank line 72.
  lines.resize(71);
  std::string old = Join(lines);
  for (const std::string& text : {old, old.substr(0, old.size() - 2), old + "  \r\n"}) {
    c = DeviceFileContents();
    ASSERT_TRUE(ParseDeviceFile(text, c, error)) << error;
    EXPECT_TRUE(c.oldVersion);
    EXPECT_EQ(c.registers, d.rs);
  }
}

TEST(DeviceFile, EveryBadFileIsRefusedAndNothingTaken) {
  Defaults d;
  const auto good = d.lines();
  const std::vector<std::pair<int, std::string>> cases = {
      {1, "-1"},     {4, "abc"},    {60, "1.5"},  {70, ""},      {71, "32768"},
      {71, "0x7"},   {72, "nan"},   {72, "inf"},  {72, "1e999"}, {72, "4kHz"},
      {72, "4.0.0"}, {72, "-4000"}, {72, "0x10"}, {72, "1e306"},
  };
  for (const auto& [line, text] : cases) {
    auto lines = good;
    lines[static_cast<std::size_t>(line - 1)] = text;
    DeviceFileContents c;
    c.foscText = "kept";
    std::string error;
    EXPECT_FALSE(ParseDeviceFile(Join(lines), c, error)) << text;
    EXPECT_EQ(error.rfind("Line " + std::to_string(line) + " (", 0), 0u) << error;
    EXPECT_EQ(c.foscText, "kept");
    EXPECT_EQ(c.registers, RegisterSet());
  }
  std::string error;
  DeviceFileContents c;
  EXPECT_FALSE(ParseDeviceFile(Join(good).substr(0, 40), c, error));
  EXPECT_NE(error.find("ends after line 8"), std::string::npos) << error;
  EXPECT_FALSE(ParseDeviceFile("", c, error));
  auto lines = good;
  lines[4] = " 256 ";
  EXPECT_FALSE(ParseDeviceFile(Join(lines), c, error));
  EXPECT_EQ(error, "Line 5 (OPTREG1): 256 does not fit (0 to 255).");
}
