#include <gtest/gtest.h>

#include "model/format.h"
#include "model/hex.h"
#include "model/image.h"
#include "model/registers.h"

using namespace zk7;

TEST(RegisterSet, DefaultsAndImage) {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  EXPECT_EQ(rs.ConfigWord(), 7);
  EXPECT_EQ(rs[STCON], 0x3F);
  EXPECT_EQ(rs[CNF3], 0x01);
  EXPECT_EQ(rs[OPTREG1], 0xF0);
  EXPECT_EQ(rs[GPDDR], 0x7F);
  for (int sidl : {RXMSIDL, RXF0SIDL, RXF1SIDL, TXID0SIDL, TXID1SIDL, TXID2SIDL})
    EXPECT_EQ(rs.reg(sidl), 0xEB);
  for (int k = 0; k < kUserMemorySize; ++k) EXPECT_EQ(rs.user(k), 0xFF);

  MemoryImage img;
  BuildMemoryImage(rs, img);
  int sum = 0;
  for (int i = 0; i < 69; ++i) sum += img.MemMap[i];
  EXPECT_EQ(sum, 14084);
  EXPECT_EQ(rs.ImageChecksum(), 0xFC);
  EXPECT_EQ(img.MemMap[69], 0xFC);
  EXPECT_EQ(img.ProgramImage[69], 0x34FC);
  EXPECT_EQ(img.ProgramImage[4], 0x34F0);

  // +1 on any byte lowers the checksum by 1.
  rs.set(GPLAT, 1);
  BuildMemoryImage(rs, img);
  EXPECT_EQ(rs.ImageChecksum(), 0xFB);
}

TEST(RegisterSet, ChecksumZeroWhenSumIsMultipleOf256) {
  RegisterSet rs;
  for (int i = 0; i < 69; ++i) rs.setEntry(i, 0);
  rs.set(0, 0x80);
  rs.set(1, 0x80);
  MemoryImage img;
  BuildMemoryImage(rs, img);
  EXPECT_EQ(rs.ImageChecksum(), 0);
  EXPECT_EQ(img.ProgramImage[69], 0x3400);
}

TEST(RegisterSet, RefusesValuesOutsideAByteAndStoresNothing) {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  EXPECT_THROW(rs.set(GPDDR, 256), RangeError);
  EXPECT_THROW(rs.set(GPDDR, -1), RangeError);
  EXPECT_THROW(rs.setUser(3, 300), RangeError);
  EXPECT_EQ(rs[GPDDR], 0x7F);
  EXPECT_EQ(rs.user(3), 0xFF);
  EXPECT_THROW(rs.set(53, 0), std::out_of_range);
}

TEST(RegisterTable, NamesAndLookup) {
  EXPECT_STREQ(RegisterName(0), "IOINTEN");
  EXPECT_STREQ(RegisterName(3), "");
  EXPECT_STREQ(RegisterName(52), "GPDDR");
  EXPECT_EQ(RegisterIndex("TXID2EID0"), TXID2EID0);
  EXPECT_EQ(RegisterIndex(""), -1);
  EXPECT_EQ(RegisterIndex("gpddr"), -1);
  for (int i = 0; i < kRegisterCount; ++i) EXPECT_EQ(RegisterTable()[i].index, i);
}

TEST(ConfigWord, OscAndGP7RewriteFromLowByte) {
  EXPECT_EQ(WithOscMode(0x0007, OscLP), 0x0004);
  EXPECT_EQ(WithOscMode(0x0004, OscHS), 0x0007);
  EXPECT_EQ(WithOscMode(0x1207, OscXT), 0x0005);
  EXPECT_EQ(WithGP7Reset(0x1203, true), 0x0007);
  EXPECT_EQ(WithGP7Reset(0x1207, false), 0x0003);
}

TEST(HexHelpers, KeysAndValues) {
  EXPECT_TRUE(ISHEX(8));
  EXPECT_FALSE(ISHEX(127));
  EXPECT_FALSE(ISHEX(32));
  EXPECT_EQ(HexKeyFilter('e'), 'E');
  EXPECT_EQ(HexKeyFilter('g'), 0);
  EXPECT_EQ(HexKeyFilter('7'), '7');
  EXPECT_EQ(HexToValue("FF"), 255);
  EXPECT_EQ(HexToValue("3F"), 63);
  EXPECT_EQ(HexToValue("1FFFFFFF"), 536870911);
  EXPECT_EQ(HexToValue(""), 0);
  EXPECT_GT(HexToValue("1FFFFFFFF"), 4294967295.0);
  EXPECT_EQ(HexToValue("G1"), 1);  // a non-digit counts as 0
}

TEST(Formats, HexAndDecimal) {
  EXPECT_EQ(Hex2(0x0F), "0F");
  EXPECT_EQ(Hex2(0xFF), "FF");
  EXPECT_EQ(HexNoPad(5), "5");
  EXPECT_EQ(HexNoPad(0x34FF), "34FF");
  EXPECT_EQ(FormatNumber(3.1999999999999997), "3.2");
  EXPECT_EQ(FormatNumber(2.5), "2.5");
  EXPECT_EQ(FormatNumber(4000), "4000");
  EXPECT_EQ(FormatNumber(67108.864), "67108.864");
  EXPECT_EQ(FormatNumber(4.9951171875), "4.9951171875");
  EXPECT_EQ(FormatNumber(3686.4, ','), "3686,4");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(1.0 / 0.0), "--");
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
}
