// Numbers as the collector sends them: plain, or with the server's
// separators; everything else is not a number.
#include "qvdexporter/number.h"

#include <gtest/gtest.h>

namespace qvdexporter {
namespace {

double Read(const std::string& text, NumberFormat f = NumberFormat()) {
  double v = -1;
  EXPECT_TRUE(ParseNumber(text, f, &v)) << text;
  return v;
}

bool Refused(const std::string& text, NumberFormat f = NumberFormat()) {
  double v;
  return !ParseNumber(text, f, &v);
}

TEST(Number, PlainAndWithTheServersSeparators) {
  EXPECT_EQ(Read("0"), 0);
  EXPECT_EQ(Read("1234567"), 1234567);
  EXPECT_EQ(Read("-12"), -12);
  EXPECT_DOUBLE_EQ(Read("97.25"), 97.25);
  EXPECT_EQ(Read("1,234,567"), 1234567);
  EXPECT_DOUBLE_EQ(Read("12,345.5"), 12345.5);
  EXPECT_EQ(Read("4294967295"), 4294967295.0);
  NumberFormat german{'.', ','};
  EXPECT_EQ(Read("1.234.567", german), 1234567);
  EXPECT_DOUBLE_EQ(Read("97,25", german), 97.25);
  // The plain form wins: the collector's own numbers always read the same.
  EXPECT_DOUBLE_EQ(Read("1.234", german), 1.234);
}

TEST(Number, TextDatesAndHalfNumbersAreNotSamples) {
  for (const char* text : {"", "-", "Yes", "12/06/2026 09:58:12 AM", "1,23", "12,3456", "1234,567", ",123", "1.",
                           ".5", "1.2.3", " 12", "12 ", "+3", "1e5", "nan", "inf", "0x10", "12abc", "1,234,",
                           "Release 12.0.2"})
    EXPECT_TRUE(Refused(text)) << text;
  EXPECT_TRUE(Refused(std::string(400, '9')));  // beyond a double
}

}  // namespace
}  // namespace qvdexporter
