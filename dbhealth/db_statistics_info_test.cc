// The white-space record: kilobyte figures, the percentage and its
// rounding, the "no maximum" size, and sizes above 2 TiB.
#include "dbhealth/db_statistics_info.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Render(const DbStatisticsInfo& info) {
  char f[6][kDbFigureSize];
  EXPECT_TRUE(info.toString(f[0], f[1], f[2], f[3], f[4], f[5]));
  return {f[0], f[1], f[2], f[3], f[4], f[5]};
}

using Row = std::vector<std::string>;

TEST(DbStatisticsInfo, PercentIsWhiteSpaceOfWhiteSpaceAndAllocatedRoundedHalfDown) {
  DbStatisticsInfo info;
  info.setValues("a.vdb", 600 * 1024, 300 * 1024, 1, 2, 3, 4);
  EXPECT_EQ((Row{"300", "33", "1", "2", "3", "4"}), Render(info));
  info.setValues("a.vdb", 1024, 1024, 0, 0, 0, 0);
  EXPECT_EQ("50", Render(info)[1]);
  info.setValues("a.vdb", 1024, 2048, 0, 0, 0, 0);
  EXPECT_EQ("67", Render(info)[1]);
  info.setValues("a.vdb", 1024 * 2, 1024, 0, 0, 0, 0);  // 33.33...
  EXPECT_EQ("33", Render(info)[1]);
  info.setValues("a.vdb", 1024, 1024 * 7, 0, 0, 0, 0);  // 87.5: a half rounds down
  EXPECT_EQ("87", Render(info)[1]);
}

TEST(DbStatisticsInfo, BytesBecomeKilobytesRoundingDownAndNoWhiteSpaceIsZeroPercent) {
  DbStatisticsInfo info;
  info.setValues("a.vdb", 4096 + 1023, 1023, 10, 20, 30, 40);
  EXPECT_EQ(4u, info.getAllocatedSize());
  EXPECT_EQ((Row{"0", "0", "10", "20", "30", "40"}), Render(info));
  info.setValues("b.vdb", 0, 0, 0, 0, 0, 0);
  EXPECT_EQ((Row{"0", "0", "0", "0", "0", "0"}), Render(info));
  info.setValues("c.vdb", 0, 5 * 1024, 0, 0, 0, 0);
  EXPECT_EQ((Row{"5", "100", "0", "0", "0", "0"}), Render(info));
}

TEST(DbStatisticsInfo, NoMaximumIsZeroAndFiguresAbove2TiBStayPositive) {
  DbStatisticsInfo info;
  info.setValues("huge.vdb", 0xFFFFFFFFu, 0xFFFFFFFFu, 0x80000000u, 0xFFFFFFFFu, 0xFFFFFFFEu,
                 0x90000000u);
  EXPECT_EQ(0u, info.getMaxSize());
  EXPECT_EQ((Row{"4194303", "50", "2147483648", "0", "4294967294", "2415919104"}), Render(info));
}

TEST(DbStatisticsInfo, CopyKeepsEveryValueAndToStringNeedsAllBuffers) {
  DbStatisticsInfo info;
  info.setValues("a.vdb", 2048, 1024, 7, 8, 9, 10);
  DbStatisticsInfo* copy = info.copy();
  ASSERT_NE(nullptr, copy);
  EXPECT_STREQ("a.vdb", copy->getDbName());
  EXPECT_EQ(Render(info), Render(*copy));
  delete copy;
  char b[kDbFigureSize] = "x";
  EXPECT_FALSE(info.toString(b, b, b, b, b, nullptr));
  EXPECT_STREQ("x", b);
}

}  // namespace
