// SPDX-FileCopyrightText: 2026 ZK7 Programmer project
// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <vector>

#include "model/format.h"
#include "model/hex.h"
#include "model/image.h"
#include "model/registers.h"

using namespace zk7;

TEST(RegisterSet, DefaultsAndImage) {
  RegisterSet rs;
  SetDefaultRegisters(rs);
  EXPECT_EQ(rs.ConfigWord(), 7);
  EXPECT_EQ((std::vector<int>{rs[STCON], rs[CNF3], rs[OPTREG1], rs[GPDDR]}),
            (std::vector<int>{0x3F, 0x01, 0xF0, 0x7F}));
  for (int k = 0; k < kUserMemorySize; ++k) EXPECT_EQ(rs.user(k), 0xFF);

  MemoryImage img;
  BuildMemoryImage(rs, img);
  EXPECT_EQ(rs.ImageChecksum(), 0xFC);
  EXPECT_EQ(img.ProgramImage[69], 0x34FC);

  // +1 on any byte lowers the checksum by 1.
  rs.set(GPLAT, 1);
  BuildMemoryImage(rs, img);
  EXPECT_EQ(rs.ImageChecksum(), 0xFB);

  // A sum that is a multiple of 256 gives checksum 0, not 0x100.
  for (int i = 0; i < 69; ++i) rs.setEntry(i, i < 2 ? 0x80 : 0);
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

TEST(HexHelpers, KeysValuesAndTexts) {
  EXPECT_TRUE(ISHEX(8));
  EXPECT_FALSE(ISHEX(127));
  EXPECT_FALSE(ISHEX(32));
  EXPECT_EQ(HexKeyFilter('e'), 'E');
  EXPECT_EQ(HexKeyFilter('7'), '7');
  EXPECT_EQ(HexKeyFilter('g'), 0);
  for (const auto& [text, value] : std::vector<std::pair<const char*, double>>{
           {"FF", 255}, {"1FFFFFFF", 536870911}, {"", 0}, {"G1", 1} /* a non-digit counts 0 */})
    EXPECT_EQ(HexToValue(text), value) << text;
  EXPECT_GT(HexToValue("1FFFFFFFF"), 4294967295.0);
  EXPECT_EQ(Hex2(0x0F) + HexNoPad(5) + "," + HexNoPad(0x34FF), "0F5,34FF");
  EXPECT_EQ(FormatNumber(3.1999999999999997), "3.2");  // 15 significant digits
  EXPECT_EQ(FormatNumber(0.1 + 0.2), "0.3");
  EXPECT_EQ(FormatNumber(3686.4, ','), "3686,4");
  EXPECT_EQ(FormatNumber(-0.0), "0");
  EXPECT_EQ(FormatNumber(1.0 / 0.0), "--");
}
