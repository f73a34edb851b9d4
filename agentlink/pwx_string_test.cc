#include "agentlink/pwx_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

TEST(PwxString, ReserveAddsGrowthPercentOfTheRequest) {
  PWX::String buf(4096);
  buf.growthPercent = 100;
  buf.append("head");
  EXPECT_TRUE(buf.reserve(3000));
  EXPECT_EQ(4096, buf.capacity());  // already large enough
  EXPECT_TRUE(buf.reserve(5000));
  EXPECT_EQ(10000, buf.capacity());
  EXPECT_STREQ("head", buf.c_str());  // content survives the reallocation

  PWX::String exact(4096);
  EXPECT_TRUE(exact.reserve(5000));
  EXPECT_EQ(5000, exact.capacity());

  // The headroom rounds to the nearest character, a half going up.
  PWX::String odd(0);
  odd.growthPercent = 50;
  odd.reserve(3);  // 3 + (150 + 50) / 100 = 5
  EXPECT_EQ(5, odd.capacity());
}

TEST(PwxString, ReserveBeyondTheSizeLimitFailsAndKeepsTheString) {
  PWX::String s("keep");
  s.growthPercent = 100;
  EXPECT_FALSE(s.reserve(INT_MAX / 2 + 10));  // doubled it would not fit
  EXPECT_EQ(4, s.capacity());
  EXPECT_STREQ("keep", s.c_str());
  EXPECT_FALSE(s.grow(INT_MAX));
  EXPECT_EQ(4, s.capacity());
}

TEST(PwxString, AppendItoa) {
  PWX::String s("x");
  s.appendItoa(-12);
  EXPECT_STREQ("x-12", s.c_str());
  s.appendItoa(0);
  EXPECT_STREQ("x-120", s.c_str());
  s.appendItoa(INT_MIN);
  EXPECT_EQ(std::string("x-120") + std::to_string(INT_MIN), s.c_str());
}

TEST(PwxString, GrowthPercentIsNotCopied) {
  PWX::String a("abc");
  a.growthPercent = 100;
  PWX::String b(a);
  EXPECT_EQ(0, b.growthPercent);
  EXPECT_STREQ("abc", b.c_str());
  PWX::String c(100);
  c.growthPercent = 25;
  c = a;
  EXPECT_EQ(25, c.growthPercent);
  EXPECT_EQ(3, c.capacity());
  EXPECT_STREQ("abc", c.c_str());
}

}  // namespace
