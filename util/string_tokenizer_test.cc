#include "util/string_tokenizer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every token, with "<null>" for the final null.
std::vector<std::string> Tokens(const char* text, const char* delimiters) {
  StringTokenizer tok(text, delimiters);
  std::vector<std::string> out;
  for (;;) {
    const char* t = tok.next();
    if (t == nullptr) break;
    out.push_back(t);
  }
  EXPECT_EQ(nullptr, tok.next());  // stays used up
  return out;
}

using V = std::vector<std::string>;

TEST(StringTokenizer, EmptyTokens) {
  EXPECT_EQ((V{"a", "", "b"}), Tokens("a,,b", ","));
  EXPECT_EQ((V{"", "a"}), Tokens(",a", ","));
  EXPECT_EQ((V{"a"}), Tokens("a,", ","));
  EXPECT_EQ((V{}), Tokens("", ","));
  EXPECT_EQ((V{}), Tokens(nullptr, ","));
  EXPECT_EQ((V{""}), Tokens(",", ","));
}

TEST(StringTokenizer, AnyDelimiterOfTheSet) {
  EXPECT_EQ((V{"MV", "12", "host", "text with spaces"}), Tokens("MV|12\thost|text with spaces", "|\t"));
  EXPECT_EQ((V{"no delimiters"}), Tokens("no delimiters", ""));
  EXPECT_EQ((V{"none"}), Tokens("none", nullptr));
}

TEST(StringTokenizer, TokenStaysValidUntilTheNextCall) {
  StringTokenizer tok("first,second", ",");
  const char* first = tok.next();
  std::string kept = first;
  EXPECT_EQ("first", kept);
  EXPECT_STREQ("first", first);
  EXPECT_STREQ("second", tok.next());
}

}  // namespace
