// The text utilities: case-blind comparison and search, stripping, integer
// texts and text item values.
#include "replication/text_utils.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "sim/sim_test_support.h"

namespace {

TEST(TextUtils, CaseBlindCompareAndSearch) {
  EXPECT_EQ(strlowcmp("Log", "LOG"), 0);
  EXPECT_EQ(strlowcmp("Loga", "LOGB"), 'a' - 'B');
  EXPECT_NE(strlowcmp("Log", "Logs"), 0);
  const char* text = "aab";
  EXPECT_EQ(lowstrstr(text, "AB"), text + 1);
  EXPECT_EQ(lowstrstr("ab", "abc"), nullptr);
  EXPECT_EQ(lowstrstr("ab", ""), nullptr);
  EXPECT_NE(lowstrstr("x Starting REPLICATION with", "replication"), nullptr);
}

TEST(TextUtils, StripAndNumbers) {
  char a[] = "Events;Replication;;";
  EXPECT_STREQ(zelstrip(a, ";"), "Events;Replication");
  char b[] = "\"\"repl\"";
  EXPECT_STREQ(zellstrip(zelstrip(b, "\""), "\""), "repl");
  char c[] = "\"\"\"";
  EXPECT_STREQ(zellstrip(c, "\""), "");

  char out[21];
  EXPECT_STREQ(ZELitoa(-120, out), "-120");
  EXPECT_STREQ(ZELitoa(7, out), "7");
  long v = 5;
  EXPECT_EQ(ValidIntAsString("12x", &v), 0);
  EXPECT_EQ(ValidIntAsString("", &v), 1);
  EXPECT_EQ(v, 0);
  EXPECT_EQ(ValidIntAsString("-42", &v), 1);
  EXPECT_EQ(v, -42);
  EXPECT_EQ(ValidIntAsString("99999999999999999999999", &v), 0);
}

TEST(TextUtils, TextItemValuesBecomeHostLines) {
  TempModel model;
  const char value[] = "\x00\x05" "a\0b\0c";  // data type, then "a", NUL, "b", NUL, "c"
  char out[16];
  EXPECT_EQ(get_text_field(value, 7, out, sizeof out), 5u);
  EXPECT_STREQ(out, "a\nb\nc");
  // A small out takes only what fits.
  char small[3];
  EXPECT_EQ(get_text_field(value, 7, small, sizeof small), 2u);
  EXPECT_STREQ(small, "a\n");
  char field[4];
  EXPECT_FALSE(copyField(field, sizeof field, "abcdef"));
  EXPECT_STREQ(field, "abc");
}

}  // namespace
