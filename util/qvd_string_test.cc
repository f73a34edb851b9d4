#include "util/qvd_string.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

namespace {

using QVD::String;

TEST(QvdString, ConstructionSetsCapacity) {
  String empty;
  EXPECT_EQ(0, empty.length());
  EXPECT_EQ(31, empty.capacity());
  EXPECT_STREQ("", empty.c_str());
  EXPECT_EQ(100, String(100).capacity());
  EXPECT_EQ(0, String(-5).capacity());

  String abc("abc");
  EXPECT_EQ(3, abc.capacity());
  String none(static_cast<const char*>(nullptr));
  EXPECT_EQ(0, none.length());
  EXPECT_STREQ("", none.c_str());

  String cut("abcdef", 3);
  EXPECT_STREQ("abc", cut.c_str());
  EXPECT_EQ(3, cut.length());
  EXPECT_EQ(3, cut.capacity());
  String whole("ab", 10);
  EXPECT_STREQ("ab", whole.c_str());
  EXPECT_EQ(2, whole.capacity());
  EXPECT_EQ(0, String(static_cast<const char*>(nullptr), 4).length());
  EXPECT_EQ(0, String("ab", -1).length());

  String big(64);
  big.append("xyz");
  String copy(big);
  EXPECT_EQ(64, copy.capacity());
  EXPECT_STREQ("xyz", copy.c_str());
}

TEST(QvdString, GrowthSteps) {
  String s;
  for (int i = 0; i < 31; i++) s.append('x');
  EXPECT_EQ(31, s.capacity());
  s.append('y');
  EXPECT_EQ(63, s.capacity());
  EXPECT_EQ(32, s.length());
  EXPECT_EQ('y', s.c_str()[31]);

  // An append that would exactly fill the buffer still grows it.
  String abc("abc");
  abc.append("d");
  EXPECT_EQ(4, abc.capacity());
  EXPECT_STREQ("abcd", abc.c_str());
  String room(5);
  room.append("abcde");
  EXPECT_EQ(10, room.capacity());

  String part("ab");
  part.append("cdef", 2);
  EXPECT_STREQ("abcd", part.c_str());
  EXPECT_EQ(4, part.capacity());
  part.append("xy", 10);  // never reads past the text's end
  EXPECT_STREQ("abcdxy", part.c_str());
  part.append(static_cast<const char*>(nullptr));
  part.append(static_cast<const char*>(nullptr), 3);
  EXPECT_STREQ("abcdxy", part.c_str());

  String r("abc");
  r.reserve(2);
  EXPECT_EQ(3, r.capacity());
  EXPECT_TRUE(r.reserve(50));
  EXPECT_EQ(50, r.capacity());
  EXPECT_TRUE(r.grow(10));
  EXPECT_EQ(60, r.capacity());
  EXPECT_STREQ("abc", r.c_str());
}

TEST(QvdString, AppendingItsOwnText) {
  String s("abc");
  s.append(s.c_str());  // reallocates while reading from the old buffer
  EXPECT_STREQ("abcabc", s.c_str());
  s.append(s.c_str() + 4, 2);
  EXPECT_STREQ("abcabcbc", s.c_str());
}

TEST(QvdString, CopyAndAssignment) {
  String s(2);
  s.copy("hello");
  EXPECT_STREQ("hello", s.c_str());
  EXPECT_EQ(5, s.capacity());
  s.copy("hi");
  EXPECT_EQ(5, s.capacity());  // never shrinks
  EXPECT_EQ(2, s.length());
  s.copy(nullptr);
  EXPECT_STREQ("", s.c_str());
  EXPECT_EQ(0, s.length());
  s.copy("abcdef", 3);
  EXPECT_STREQ("abc", s.c_str());
  s.copy(s.c_str() + 1);  // overlapping source
  EXPECT_STREQ("bc", s.c_str());

  String source(5);
  source.append("src");
  String target(100);
  target.append("old text");
  target = source;
  EXPECT_EQ(5, target.capacity());
  EXPECT_EQ(3, target.length());
  EXPECT_STREQ("src", target.c_str());
  target = target;
  EXPECT_STREQ("src", target.c_str());

  String small(1);
  small = String("longer text");
  EXPECT_STREQ("longer text", small.c_str());
  EXPECT_EQ(11, small.capacity());
}

TEST(QvdString, SizesBeyondTheLimitLeaveTheStringAsItWas) {
  String s("keep");
  EXPECT_FALSE(s.grow(INT_MAX));
  EXPECT_FALSE(s.reserve(INT_MAX));
  EXPECT_EQ(4, s.capacity());
  EXPECT_STREQ("keep", s.c_str());
  EXPECT_TRUE(s.grow(-3));  // nothing to do
  EXPECT_EQ(4, s.capacity());
}

TEST(QvdString, Searches) {
  String abc("abc");
  EXPECT_EQ(2, abc.indexOf('c'));
  EXPECT_EQ(-1, abc.indexOf('a', 3));
  EXPECT_EQ(-1, abc.indexOf('a', -1));
  EXPECT_EQ(-1, abc.indexOf('z'));
  EXPECT_EQ(1, abc.indexOf("bc"));
  EXPECT_EQ(-1, abc.indexOf("bc", 2));
  EXPECT_EQ(-1, abc.indexOf(static_cast<const char*>(nullptr)));

  String empty;
  EXPECT_EQ(-1, empty.indexOf('a'));
  EXPECT_EQ(-1, empty.indexOf(""));
  EXPECT_EQ(-1, empty.findFirstOf(",", 0));
  EXPECT_EQ(-1, empty.findFirstNotOf(",", 0));

  String list("ab,c;d");
  EXPECT_EQ(2, list.findFirstOf(",;", 0));
  EXPECT_EQ(4, list.findFirstOf(",;", 3));
  EXPECT_EQ(-1, list.findFirstOf("xyz", 0));
  EXPECT_EQ(-1, String("   ").findFirstNotOf(" ", 0));
  EXPECT_EQ(2, String("  x ").findFirstNotOf(" ", 0));
  EXPECT_EQ(3, String("aaab").findFirstNotOf("a", 1));
}

TEST(QvdString, DerivedStringsAndEdits) {
  String abc("abc");
  EXPECT_STREQ("bc", abc.substr(1).c_str());
  String past = abc.substr(3);
  EXPECT_STREQ("", past.c_str());
  EXPECT_EQ(31, past.capacity());
  EXPECT_EQ(31, abc.substr(-1, 2).capacity());
  String b = abc.substr(1, 1);
  EXPECT_STREQ("b", b.c_str());
  EXPECT_EQ(1, b.length());
  EXPECT_STREQ("bc", abc.substr(1, 99).c_str());

  String mixed("ab1-z");
  mixed.toUpper();
  EXPECT_STREQ("AB1-Z", mixed.c_str());
  String high("\xe9t\xe9");  // bytes above 0x7F are not letters here
  high.toUpper();
  EXPECT_STREQ("\xe9T\xe9", high.c_str());

  String path("a/b/c");
  path.replace('/', '\\');
  EXPECT_STREQ("a\\b\\c", path.c_str());
}

TEST(QvdString, SharedEmptyString) {
  EXPECT_EQ(0, QVD::EMPTY_STRING.length());
  EXPECT_STREQ("", QVD::EMPTY_STRING.c_str());
}

}  // namespace
