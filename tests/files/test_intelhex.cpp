#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "files/atomicfile.h"
#include "files/intelhex.h"
#include "model/format.h"
#include "model/hex.h"

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
  std::string line;
  while (std::getline(in, line)) {
    EXPECT_FALSE(line.empty() || line.back() != '\r') << "records end in CR LF";
    if (!line.empty()) line.pop_back();
    out.push_back(line);
  }
  return out;
}

}  // namespace

TEST(IntelHex, DefaultExportRecordByRecord) {
  const auto image = DefaultImage();
  const auto recs = Records(WriteIntelHex(image.ProgramImage, 7));
  ASSERT_EQ(recs.size(), 12u);
  EXPECT_EQ(recs[0], ":020000040000FA");
  EXPECT_EQ(recs[1], ":10000000003400340034FF34F03400340034FF3462");
  for (int k = 0; k < 8; ++k) EXPECT_EQ(recs[1 + k].substr(1, 6), "10" + Hex2(0) + Hex2(16 * k));
  EXPECT_EQ(recs[9].substr(0, 9), ":0C008000");
  EXPECT_EQ(recs[9].substr(recs[9].size() - 6, 4), "FC34");  // checksum word 0x34FC last
  EXPECT_EQ(recs[10], ":02400E00073F6A");
  EXPECT_EQ(recs[11], ":00000001FF");
  EXPECT_EQ(Records(WriteIntelHex(image.ProgramImage, 4))[10], ":02400E00043F6D");
  // Only the low byte of the configuration word is written.
  EXPECT_EQ(Records(WriteIntelHex(image.ProgramImage, 0x1207))[10], ":02400E00073F6A");
}

TEST(IntelHex, EveryRecordSumsToZero) {
  auto image = DefaultImage();
  for (int i = 0; i < kImageSize; ++i)
    image.ProgramImage[i] = static_cast<std::int16_t>(0x3400 + i * 37 % 256);
  for (const auto& rec : Records(WriteIntelHex(image.ProgramImage, -1))) {
    ASSERT_EQ(rec[0], ':');
    ASSERT_EQ(rec.size() % 2, 1u) << rec;
    unsigned sum = 0;
    for (std::size_t i = 1; i < rec.size(); i += 2)
      sum += static_cast<unsigned>(HexToValue(rec.substr(i, 2)));
    EXPECT_EQ(sum % 256, 0u) << rec;
  }
}

TEST(IntelHex, RecordChecksum) {
  EXPECT_EQ(HexRecordChecksum(2, 0x400E, "073F"), 0x6A);
  // 0x02 + 0x01 + 0x00 + 0xFD = 0x100: the checksum is 00, not 0x100.
  EXPECT_EQ(HexRecordChecksum(2, 0x0001, "00FD"), 0x00);
  EXPECT_EQ(HexRecordChecksum(0, 0, ""), 0x00);
}

TEST(IntelHex, FileIsWrittenWholeAndObjcopyAcceptsIt) {
  const auto image = DefaultImage();
  const std::string path = ::testing::TempDir() + "zk7_export.hex";
  std::string error, content;
  ASSERT_TRUE(WriteIntelHexFile(path, image.ProgramImage, 7, error)) << error;
  ASSERT_TRUE(WriteIntelHexFile(path, image.ProgramImage, 7, error)) << error;
  ASSERT_TRUE(ReadWholeFile(path, content, error));
  EXPECT_EQ(content, WriteIntelHex(image.ProgramImage, 7));
  EXPECT_FALSE(
      WriteIntelHexFile(::testing::TempDir() + "no/such/dir/x.hex", image.ProgramImage, 7, error));
  EXPECT_EQ(error, "No such file or directory");

  if (std::system("objcopy --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no objcopy";
  const std::string bin = path + ".bin";
  ASSERT_EQ(std::system(("objcopy -I ihex -O binary " + path + " " + bin).c_str()), 0);
  std::ifstream in(bin, std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // The binary spans load addresses 0 to 0x400F; the first words are the image, low byte first.
  ASSERT_EQ(data.size(), 0x4010u);
  EXPECT_EQ(static_cast<unsigned char>(data[8]), 0xF0);
  EXPECT_EQ(static_cast<unsigned char>(data[9]), 0x34);
  EXPECT_EQ(static_cast<unsigned char>(data[0x400E]), 0x07);
  EXPECT_EQ(static_cast<unsigned char>(data[0x400F]), 0x3F);
}
