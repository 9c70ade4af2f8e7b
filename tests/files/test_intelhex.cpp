// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
// Intel HEX export record by record; import: our export and other tools' layouts read back
// exactly, every malformed file is refused with its line named.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <sstream>
#include <tuple>

#include "files/atomicfile.h"
#include "files/configfile.h"
#include "files/intelhex.h"
#include "files/intelhex_reader.h"
#include "model/format.h"
#include "model/hex.h"
#include "support/temp_dir.h"

using namespace zk7;

namespace {

MemoryImage DefaultImage() {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  MemoryImage image;
  BuildMemoryImage(rs, image);
  return image;
}

std::vector<std::string> Records(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line); out.push_back(line)) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "records end in CR LF";
    line.pop_back();
  }
  return out;
}

// One record with its checksum, upper-case digits.
std::string Record(unsigned type, unsigned address, const std::vector<unsigned>& data) {
  std::string text =
      ":" + Hex2(data.size()) + Hex2(address >> 8) + Hex2(address & 0xFF) + Hex2(type);
  unsigned sum = data.size() + (address >> 8) + (address & 0xFF) + type;
  for (unsigned b : data) text += Hex2(b), sum += b;
  return text + Hex2((0x100 - sum % 256) % 256);
}

// The words of image and the configuration word as data records of perRecord bytes each.
std::vector<std::string> DataRecords(const MemoryImage& image, unsigned config,
                                     unsigned perRecord) {
  std::vector<unsigned> bytes;
  for (auto w : image.ProgramImage) bytes.push_back(w & 0xFF), bytes.push_back((w >> 8) & 0xFF);
  std::vector<std::string> records;
  for (unsigned at = 0; at < bytes.size(); at += perRecord)
    records.push_back(
        Record(0, at,
               std::vector<unsigned>(
                   bytes.begin() + at,
                   bytes.begin() + std::min<std::size_t>(bytes.size(), at + perRecord))));
  records.push_back(Record(0, 0x400E, {config, 0x3F}));
  return records;
}

MemoryImage RandomImage(std::mt19937& gen, RegisterSet& rs) {
  SetDefaultRegisters(rs);
  for (int i = 0; i < kChecksumEntry; ++i) rs.setEntry(i, gen() % 256);
  rs.setConfigWord(static_cast<std::int16_t>(gen() % 256));
  MemoryImage image;
  BuildMemoryImage(rs, image);
  return image;
}

}  // namespace

// Every record's checksum is checked by the reader below, on random images.
TEST(IntelHex, DefaultExportRecordByRecord) {
  const auto image = DefaultImage();
  const auto recs = Records(WriteIntelHex(image.ProgramImage, 7));
  ASSERT_EQ(recs.size(), 12u);
  EXPECT_EQ(recs[0], ":020000040000FA");
  EXPECT_EQ(recs[1], ":10000000003400340034FF34F03400340034FF3462");
  EXPECT_EQ(recs[9], ":0C008000FF34FF34FF34FF34FF34FC3445");
  EXPECT_EQ(recs[10], ":02400E00073F6A");
  EXPECT_EQ(recs[11], ":00000001FF");
  EXPECT_EQ(Records(WriteIntelHex(image.ProgramImage, 4))[10], ":02400E00043F6D");
  EXPECT_EQ(Records(WriteIntelHex(image.ProgramImage, 0x1207))[10], ":02400E00073F6A");
  // Bytes before the checksum that sum to 0x100 give 00, not 0x100.
  EXPECT_EQ(HexRecordChecksum(2, 0x0001, "00FD"), 0x00);
}

TEST(IntelHexReader, OurExportAndOtherLayoutsReadBackExactly) {
  std::mt19937 gen(11);
  for (int round = 0; round < 100; ++round) {
    RegisterSet rs;
    const MemoryImage image = RandomImage(gen, rs);
    const std::string ours = WriteIntelHex(image.ProgramImage, rs.ConfigWord());
    ConfigurationFile file;
    std::string error;
    ASSERT_TRUE(ParseConfigurationFile(ours, file, error)) << error;
    EXPECT_EQ(file.format, ConfigurationFile::IntelHex);
    EXPECT_EQ(file.registers, rs);
    EXPECT_FALSE(file.configWordDefaulted);
    EXPECT_FALSE(file.foscText);
    MemoryImage again;
    BuildMemoryImage(file.registers, again);
    EXPECT_EQ(WriteIntelHex(again.ProgramImage, file.registers.ConfigWord()), ours);

    // Other tools: 32 or 8 bytes a record, records cutting words in two, no
    // address record or a segment one, start address records, any order,
    // LF, CR LF or CR, lower case, a Ctrl-Z after the end.
    auto records =
        DataRecords(image, rs.ConfigWord() & 0xFF, std::vector<unsigned>{32, 8, 5}[round % 3]);
    if (round % 2) std::shuffle(records.begin(), records.end(), gen);
    if (round % 4 == 1) records.insert(records.begin(), Record(2, 0, {0, 0}));
    if (round % 4 == 2) records.push_back(Record(5, 0, {0, 0, 0x12, 0x34}));
    if (round % 4 == 3) records.insert(records.begin(), Record(3, 0, {0, 0, 0, 0}));
    const char* end = std::vector<const char*>{"\n", "\r\n", "\r"}[round % 3];
    std::string text;
    for (const auto& r : records) text += r + end;
    text += ":00000001FF" + std::string(end) + (round % 5 ? "" : "\x1A");
    if (round % 3 == 2) std::transform(text.begin(), text.end(), text.begin(), ::tolower);
    IntelHexContents hex;
    ASSERT_TRUE(ParseIntelHex(text, hex, error)) << error << "\n" << text;
    for (int i = 0; i < kImageSize; ++i) EXPECT_EQ(hex.image[i], image.MemMap[i]);
    EXPECT_EQ(hex.configLow, rs.ConfigWord() & 0xFF);
  }
  // Without the configuration word, ConfigWord is the default and the file says so.
  ConfigurationFile file;
  std::string error, text;
  const MemoryImage image = DefaultImage();
  for (const auto& r : DataRecords(image, 0, 16)) text += r + "\n";
  text.erase(text.rfind(":02400E"));
  ASSERT_TRUE(ParseConfigurationFile("\n  " + text + ":00000001FF\n", file, error)) << error;
  EXPECT_TRUE(file.configWordDefaulted);
  EXPECT_EQ(file.registers.ConfigWord(), 7);
  EXPECT_EQ(ChecksumNote(file), "");

  // A checksum word that disagrees with the words before it is named beside the one burnt.
  auto words = image.ProgramImage;
  words[kChecksumEntry] = 0x34F3;
  ASSERT_TRUE(ParseConfigurationFile(WriteIntelHex(words, 7), file, error)) << error;
  EXPECT_EQ(ChecksumNote(file),
            "the file's checksum word 34F3 does not match its contents; 34FC will be burnt");

  // objcopy's rewrite of our export imports as well.
  const TempDir tmp;
  const std::string path = tmp.path("import.hex");
  ASSERT_TRUE(WriteIntelHexFile(path, image.ProgramImage, 4, error));
  if (std::system(("objcopy -I ihex -O ihex " + path + " " + path + ".o 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "no objcopy";
  ASSERT_TRUE(ReadConfigurationFile(path + ".o", file, error)) << error;
  EXPECT_EQ(file.registers.ConfigWord(), 4);
  EXPECT_EQ(file.registers.reg(OPTREG1), 0xF0);
}

TEST(IntelHexReader, EveryMalformedFileIsRefusedNamingTheLine) {
  const MemoryImage image = DefaultImage();
  // Lines 1..10: address record, 16-byte records 0..8 (line 10 the remainder), 11 config, 12 end.
  const std::string good = WriteIntelHex(image.ProgramImage, 7);
  auto with = [&](int line, const std::string& replacement) {
    std::string text;
    std::size_t start = 0;
    for (int n = 1; start < good.size(); ++n) {
      const auto stop = good.find('\n', start) + 1;
      text += n == line ? replacement + "\r\n" : good.substr(start, stop - start);
      start = stop;
    }
    return text;
  };
  const std::tuple<std::string, int, const char*> cases[] = {
      {with(3, ":10001000FF34FF34FF34FF34FF34EB34FF34FF3400"), 3, "checksum"},
      {with(3, ":11001000FF34FF34FF34FF34FF34EB34FF34FF34AB"), 3, "byte count"},
      {with(4, ":10002000FF34FF34FF34FF34FF34EB34FF34FF3G34"), 4, "'G'"},
      {with(4, "10002000"), 4, "':'"},
      {with(2, ":1000000"), 2, "even number"},
      {with(1, Record(6, 0, {0, 0, 0, 0})), 1, "record type 06"},
      {with(1, Record(5, 0, {0, 0})), 1, "start address record carries 4"},
      {with(12, "\x1A"), 11, "without an end record"},
      {good + "\x1A:00000001FF\r\n", 13, "after the end record"},
      {with(1, Record(4, 0, {0, 1})), 1, "upper address 0001"},
      {with(11, Record(0, 0x0100, {0xFF, 0x34})), 11, "outside"},
      {with(2, Record(0, 0, {0x00, 0x35})), 2, "3500"},
      {with(11, Record(0, 0x400E, {0x07, 0x00})), 11, "3F"},
      {with(11, Record(0, 0x0002, {0x01, 0x34})), 11, "another value on line 2"},
      {with(11, Record(0, 0x0003, {0x35})), 11, "another value on line 2"},
      {with(10, ""), 12, "image word address 40"},
      {with(12, ""), 12, "without an end record"},
      {good + ":00000001FF\r\n", 13, "after the end record"},
      {"", 1, "without an end record"},
  };
  for (const auto& [text, line, says] : cases) {
    IntelHexContents hex;
    hex.configLow = 0x55;
    std::string error;
    EXPECT_FALSE(ParseIntelHex(text, hex, error)) << says;
    EXPECT_EQ(error.rfind("Line " + std::to_string(line) + ": ", 0), 0u) << error;
    EXPECT_NE(error.find(says), std::string::npos) << error;
    EXPECT_EQ(hex.configLow, 0x55) << "nothing taken over";
  }
  // The reader is bounded and a device file is not taken for HEX.
  const TempDir tmp;
  const std::string big = tmp.path("big.hex");
  std::string error;
  ASSERT_TRUE(AtomicWriteFile(big, std::string(kMaxIntelHexBytes + 1, '\n'), error));
  IntelHexContents hex;
  EXPECT_FALSE(ReadIntelHexFile(big, hex, error));
  EXPECT_FALSE(LooksLikeIntelHex(" 0 \r\n"));
}
