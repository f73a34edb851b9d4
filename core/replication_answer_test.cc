// Columns of the replication answer: rounded durations and the joined
// event and database texts.
#include "core/replication_answer.h"

#include <gtest/gtest.h>

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

}  // namespace
