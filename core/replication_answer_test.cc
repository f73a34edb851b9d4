// Columns of the replication answer: rounded durations and the joined
// event and database texts; the include and exclude options; the size of a
// row on the agent link.
#include "core/replication_answer.h"

#include <gtest/gtest.h>

#include "framework/trace_capture.h"

#include <string>
#include <vector>

namespace {

TEST(ReplicationAnswer, DurationsRoundHalfAwayFromZero) {
  char out[32];
  EXPECT_STREQ(formatReplDuration(2.5, out), "3");
  EXPECT_STREQ(formatReplDuration(-2.5, out), "-3");
  EXPECT_STREQ(formatReplDuration(2.4, out), "2");
  EXPECT_STREQ(formatReplDuration(-2.4, out), "-2");
  EXPECT_STREQ(formatReplDuration(0.0, out), "0");
  EXPECT_STREQ(formatReplDuration(125.0, out), "125");
}

TEST(ReplicationAnswer, JoinedTextsKeepWhatFits1023Characters) {
  std::vector<std::string> texts = {std::string(500, 'a'), std::string(500, 'b'),
                                    std::string(100, 'c'), std::string(10, 'd')};
  std::vector<char*> pointers;
  for (auto& t : texts) pointers.push_back(&t[0]);
  char out[1024];
  joinReplTexts(pointers.data(), 4, "events", out);
  EXPECT_EQ(std::string(out),
            std::string(500, 'a') + ";" + std::string(500, 'b') + ";" + std::string(10, 'd') + ";");
  // Exactly 1023 characters fit.
  std::string exact(1022, 'x');
  char* one = &exact[0];
  EXPECT_EQ(std::string(joinReplTexts(&one, 1, "dbinfo", out)).size(), 1023u);
  std::string over(1023, 'x');
  one = &over[0];
  EXPECT_STREQ(joinReplTexts(&one, 1, "dbinfo", out), "");
  EXPECT_STREQ(joinReplTexts(nullptr, 0, "events", out), "");
}

TEST(ReplicationAnswer, OverlongOptionsKeepTheirWholeStringsOnly) {
  char field[256];
  EXPECT_EQ(0, copyReplOption(field, sizeof field, "none", "QVD_LOG_INCLUDE"));
  EXPECT_STREQ(field, "");
  EXPECT_EQ(0, copyReplOption(field, sizeof field, nullptr, "QVD_LOG_INCLUDE"));
  EXPECT_STREQ(field, "");
  std::string fits = std::string(250, 'a') + ";Push";  // 255 characters
  EXPECT_EQ(0, copyReplOption(field, sizeof field, fits.c_str(), "QVD_LOG_INCLUDE"));
  EXPECT_EQ(fits, field);

  // One more character: "Pushed" would be cut to "Pushe"; it is left out
  // with a line, and a later string that fits is kept.
  TraceCaptureStart("error");
  std::string over = std::string(250, 'a') + ";Pushed;;Pull";
  EXPECT_EQ(1, copyReplOption(field, sizeof field, over.c_str(), "QVD_LOG_EXCLUDE"));
  EXPECT_EQ(std::string(250, 'a') + ";Pull", field);
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("core/replication"),
                              "QVD_LOG_EXCLUDE is longer than 255 characters: the string |Pushed| "
                              "does not fit with those before it and is left out"));
  std::string single(300, 'x');
  EXPECT_EQ(1, copyReplOption(field, sizeof field, single.c_str(), "QVD_LOG_INCLUDE"));
  EXPECT_STREQ(field, "");
  TraceCaptureStart("none");
}

TEST(ReplicationAnswer, RowWireSizeCountsEveryEscape) {
  const char* plain[2] = {"srv1/acme", ""};
  EXPECT_EQ(20u + 9 + 9 + 9, replRowWireSize(plain, 2));
  const char* escaped[1] = {"a&b<\"'>\n"};
  EXPECT_EQ(20u + 9 + 2 + 6 * 6, replRowWireSize(escaped, 1));
}

}  // namespace
