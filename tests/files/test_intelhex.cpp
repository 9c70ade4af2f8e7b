#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "files/atomicfile.h"
#include "files/intelhex.h"
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
  for (std::string line; std::getline(in, line); out.push_back(line)) {
    EXPECT_TRUE(!line.empty() && line.back() == '\r') << "records end in CR LF";
    line.pop_back();
  }
  return out;
}

}  // namespace

TEST(IntelHex, DefaultExportRecordByRecordEachSummingToZero) {
  const auto image = DefaultImage();
  const auto recs = Records(WriteIntelHex(image.ProgramImage, 7));
  ASSERT_EQ(recs.size(), 12u);
  for (const auto& rec : recs) {
    ASSERT_EQ(rec.size() % 2, 1u) << rec;
    unsigned sum = 0;
    for (std::size_t i = 1; i < rec.size(); i += 2)
      sum += static_cast<unsigned>(HexToValue(rec.substr(i, 2)));
    EXPECT_EQ(sum % 256, 0u) << rec;
  }
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

TEST(IntelHex, FileIsReplacedWholeAndObjcopyAcceptsIt) {
  const auto image = DefaultImage();
  const std::string path = ::testing::TempDir() + "zk7_export.hex";
  std::string error, content;
  ASSERT_TRUE(WriteIntelHexFile(path, image.ProgramImage, 4, error)) << error;
  ASSERT_TRUE(WriteIntelHexFile(path, image.ProgramImage, 7, error)) << error;
  ASSERT_TRUE(ReadWholeFile(path, 1 << 20, content, error));
  EXPECT_EQ(content, WriteIntelHex(image.ProgramImage, 7));
  EXPECT_FALSE(WriteIntelHexFile(path + ".d/x.hex", image.ProgramImage, 7, error));

  if (std::system("objcopy --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no objcopy";
  ASSERT_EQ(std::system(("objcopy -I ihex -O binary " + path + " " + path + ".bin").c_str()), 0);
  std::ifstream in(path + ".bin", std::ios::binary);
  const std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Load addresses 0 to 0x400F; each word low byte first.
  ASSERT_EQ(data.size(), 0x4010u);
  EXPECT_EQ(data.substr(0x400E), "\x07\x3F");
}
