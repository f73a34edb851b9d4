// The text functions over the snapshot: searching, value cutting and number
// normalisation.
#include "stats/stat_text.h"

#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "stats/fake_agent_testutil.h"
#include "stats/snapshot.h"

namespace {

class StatTextTest : public ::testing::Test {
 protected:
  void SetUp() override { SetSeparators(',', '.'); }
  void TearDown() override { freeStats(); }
  // Position of `needle` in the whole window, terminated values included.
  char* At(const char* needle) {
    return static_cast<char*>(memmem(pStatBuffer, dwStatBufferLen, needle, strlen(needle)));
  }
};

TEST_F(StatTextTest, SearchStaysInsideTheWindow) {
  InstallSnapshot("a.b\t1\nserver.users\t12\nlast\tx");
  EXPECT_EQ(At("server.users"), str_str(pStatBuffer, "server.users\t", nullptr));
  EXPECT_EQ(nullptr, str_str(At("server.users") + 1, "server.users\t", nullptr));
  EXPECT_EQ(pStatBuffer + 3, str_str(pStatBuffer + 3, "", nullptr));
  EXPECT_EQ(pStatBuffer + 3, str_str(pStatBuffer + 3, nullptr, nullptr));

  // The server's count bounds the window, even where the text goes on.
  char* last = At("last");
  char* x = At("x");
  dwStatBufferLen = static_cast<uint32_t>(last - pStatBuffer);
  EXPECT_EQ(nullptr, str_str(pStatBuffer, "last", nullptr));
  // A one-byte pattern is not tried on the window's last byte.
  dwStatBufferLen = static_cast<uint32_t>(x - pStatBuffer + 1);
  EXPECT_EQ(nullptr, str_str(pStatBuffer, "x", nullptr));
  dwStatBufferLen += 1;
  EXPECT_EQ(x, str_str(pStatBuffer, "x", nullptr));
}

TEST_F(StatTextTest, NoMatchSpansATerminatedValue) {
  InstallSnapshot("a\t12\nb\t3\n");
  getValueKeyword(pStatBuffer, "a\t");  // writes a zero over the first line feed
  EXPECT_EQ(nullptr, str_str(pStatBuffer, "12\nb", nullptr));
  EXPECT_EQ(At("b"), str_str(pStatBuffer, "b\t", nullptr));
  EXPECT_EQ(At("b"), beginLine(At("b") + 1));  // the zero byte ends the previous line
}

TEST_F(StatTextTest, LinePrefixChecksOnlyTheFirstMatch) {
  InstallSnapshot("other.x.avg\t1\nmvstats.y.avg\t2\n");
  EXPECT_EQ(nullptr, str_str(pStatBuffer, ".avg\t", "mvstats."));
  char* second = At("mvstats");
  EXPECT_EQ(second + 9, str_str(second, ".avg\t", "mvstats."));
  EXPECT_EQ(second, beginLine(second + 9));
  EXPECT_EQ(pStatBuffer, beginLine(pStatBuffer + 3));
}

TEST_F(StatTextTest, ValueEndsAtItsLineEndAndIsTerminatedInPlace) {
  InstallSnapshot(
      "calendar.total.appts\t12\r\n"
      "server.status\tRunning OK\n"
      "ldap.peak\t7\n"
      "mail.dead\t3\r\n"
      "notab.here 5\n");
  char* appts = getValueKeyword(pStatBuffer, "calendar.total.appts\t");
  EXPECT_STREQ("12", appts);
  EXPECT_EQ('\0', appts[2]);
  EXPECT_EQ('\n', appts[3]);
  EXPECT_STREQ("Running OK", getValueKeyword(pStatBuffer, "server.status\t"));
  // A line-feed line before a carriage-return line keeps to its own line.
  EXPECT_STREQ("7", getValueKeyword(pStatBuffer, "ldap.peak\t"));
  EXPECT_STREQ("3", getValueKeyword(pStatBuffer, "mail.dead\t"));
  // Absent keyword, no tab before the next zero byte, search from a later start.
  EXPECT_EQ(nullptr, getValueKeyword(pStatBuffer, "mail.hold\t"));
  EXPECT_EQ(nullptr, getValueKeyword(At("notab"), nullptr));
  EXPECT_EQ(nullptr, getValueKeyword(At("ldap"), "server.status"));
  // Without a keyword the value after the next tab is taken.
  EXPECT_STREQ("7", getValueKeyword(At("ldap"), nullptr));
}

TEST_F(StatTextTest, NextOccurrenceAgreesWithThePlainSearchFromEveryPosition) {
  // Adjacent lines, a line-feed-only line, a match inside a value, a
  // terminated value, and a window that ends before the text does.
  InstallSnapshot(
      "task\tA: x task\tB\r\n"
      "task\tC\n"
      "task\tD\r\n"
      "other\t1 task\n"
      "task\tE\r\n"
      "tail\ttask\t");
  getValueKeyword(pStatBuffer, "task\tC");  // a zero byte over that line feed
  getValueKeyword(pStatBuffer, "task\tD");  // and one over that carriage return
  dwStatBufferLen -= 2;
  const char* patterns[] = {"task\t", "task", "k\tD", "\r\nt", "1 task\n", "ta", "t", ""};
  for (const char* pattern : patterns) {
    for (uint32_t i = 0; i <= dwStatBufferLen; ++i) {
      EXPECT_EQ(str_str(pStatBuffer + i, pattern, nullptr),
                findNextOccurrence(pStatBuffer + i, pattern))
          << "'" << pattern << "' from " << i;
    }
  }
  EXPECT_EQ(nullptr, findNextOccurrence(nullptr, "task"));
}

struct NumberCase {
  char thousands;
  char decimal;
  const char* in;
  const char* out;
};

TEST_F(StatTextTest, NormalisesNumbersForEachSeparatorSetting) {
  const NumberCase cases[] = {
      {',', '.', "1,234.5", "1234.5"},   {'.', ',', "1.234,5", "1234.5"},
      {',', '.', "1,234", "1234"},       {' ', ',', "1 234,75", "1234.75"},
      {'\'', '.', "12'345", "12345"},    {',', '.', "12 ", "12 "},
      {',', '.', "Running", "Running"},  {',', '.', "-1,234", "-1,234"},
      {',', '.', "V8.5.3", "V8.5.3"},    {',', '.', "42", "42"},
      {'.', ',', "3,5 MB", "3.5 MB"},    {',', '.', "1\t2", "12"},
      {',', '.', "", ""},
  };
  for (const NumberCase& c : cases) {
    SetSeparators(c.thousands, c.decimal);
    std::string text = c.in;
    char* value = &text[0];
    convertNum(&value);
    EXPECT_STREQ(c.out, value) << "'" << c.in << "' with thousands '" << c.thousands
                               << "' decimal '" << c.decimal << "'";
  }
  char* none = nullptr;
  convertNum(&none);
  convertNum(nullptr);
}

TEST_F(StatTextTest, LongNumbersAreCutAt1023Digits) {
  std::string grouped = "1," + std::string(1500, '7');
  char* value = &grouped[0];
  convertNum(&value);
  EXPECT_EQ(1023u, strlen(value));
  EXPECT_EQ('1', value[0]);

  // Exactly 1023 digits after dropping the separator: nothing cut.
  std::string exact = "1," + std::string(1022, '3');
  value = &exact[0];
  convertNum(&value);
  EXPECT_EQ(1023u, strlen(value));

  // Without a separator before the limit, the number stays as it came.
  std::string plain(1500, '9');
  plain += ",1";
  value = &plain[0];
  convertNum(&value);
  EXPECT_EQ(1502u, strlen(value));
}

TEST_F(StatTextTest, FindPeriodCountsFullStopsBothWays) {
  InstallSnapshot("mvstats.stats.repl1.pulled.x\t1\n");
  char* match = At(".pulled");
  EXPECT_EQ(match, findPeriod(match, -1));
  EXPECT_EQ(At(".repl1"), findPeriod(match, -2));
  EXPECT_EQ(At(".stats"), findPeriod(match, -3));
  EXPECT_EQ(match, findPeriod(match, -5));  // fewer full stops before it
  EXPECT_EQ(At(".x"), findPeriod(match + 1, 1));
  EXPECT_EQ(match + 1, findPeriod(match + 1, 3));
  EXPECT_EQ(match, findPeriod(match, 0));
  EXPECT_EQ(nullptr, findPeriod(nullptr, 1));
}

}  // namespace
