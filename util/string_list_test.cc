#include "util/string_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using QVD::StringList;
using QVD::StringListIterator;

std::vector<std::string> Entries(const StringList& list) {
  std::vector<std::string> out;
  StringListIterator it(&list);
  while (it.hasNext()) out.push_back(it.next().c_str());
  return out;
}

void Fill(StringList* list, std::initializer_list<const char*> texts) {
  for (const char* t : texts) ASSERT_EQ(0, list->add(t));
}

TEST(StringList, LimitsAndResultCodes) {
  StringList def;
  for (int i = 0; i < 1024; i++) ASSERT_EQ(0, def.add(std::to_string(i).c_str()));
  EXPECT_EQ(101, def.add("one too many"));
  EXPECT_EQ(1024, def.getCount());
  EXPECT_EQ(1, def.add(nullptr));

  // Grows its array from 1024 in steps of 1024 up to its own limit.
  StringList big(5000);
  for (int i = 0; i < 5000; i++) ASSERT_EQ(0, big.add(std::to_string(i).c_str())) << i;
  EXPECT_EQ(101, big.add("x"));
  EXPECT_STREQ("4999", big.getAt(4999).c_str());
  EXPECT_STREQ("1024", big.getAt(1024).c_str());

  StringList none(0);
  EXPECT_EQ(101, none.add("x"));
  EXPECT_EQ(0, none.getMaxCount());
  StringList negative(-3);
  EXPECT_EQ(101, negative.add("x"));
}

TEST(StringList, EntriesAreCopies) {
  char text[] = "original";
  StringList list;
  list.add(text);
  text[0] = 'X';
  EXPECT_STREQ("original", list.getAt(0).c_str());
}

TEST(StringList, LookupsOutsideReturnTheSharedEmptyString) {
  StringList list;
  Fill(&list, {"a", ""});
  EXPECT_EQ(&QVD::EMPTY_STRING, &list.getAt(-1));
  EXPECT_EQ(&QVD::EMPTY_STRING, &list.getAt(2));
  EXPECT_TRUE(list.contains("a"));
  EXPECT_FALSE(list.contains("A"));
  EXPECT_FALSE(list.contains(""));  // even with an empty entry
  EXPECT_FALSE(list.contains(nullptr));
}

TEST(StringList, RemoveByIndex) {
  StringList list;
  Fill(&list, {"a", "b", "c"});
  EXPECT_EQ(1, list.remove(3));
  EXPECT_EQ(1, list.remove(-1));
  EXPECT_EQ(0, list.remove(0));
  EXPECT_EQ((std::vector<std::string>{"b", "c"}), Entries(list));
  list.removeAll();
  EXPECT_EQ(0, list.getCount());
  EXPECT_EQ(0, list.add("again"));
}

TEST(StringList, RemoveSeveral) {
  StringList list;
  Fill(&list, {"a", "b", "c", "d", "e"});
  int odd[] = {1, 3};
  EXPECT_EQ(0, list.remove(odd, 2));
  EXPECT_EQ((std::vector<std::string>{"a", "c", "e"}), Entries(list));

  // Bad index sets change nothing.
  int beyond[] = {0, 3};
  int unsorted[] = {2, 0};
  int repeated[] = {1, 1};
  int negative[] = {-1, 0};
  EXPECT_EQ(1, list.remove(beyond, 2));
  EXPECT_EQ(1, list.remove(unsorted, 2));
  EXPECT_EQ(1, list.remove(repeated, 2));
  EXPECT_EQ(1, list.remove(negative, 2));
  EXPECT_EQ(1, list.remove(odd, -1));
  EXPECT_EQ(1, list.remove(odd, 4));
  EXPECT_EQ(1, list.remove(nullptr, 1));
  EXPECT_EQ(0, list.remove(nullptr, 0));
  EXPECT_EQ((std::vector<std::string>{"a", "c", "e"}), Entries(list));

  int all[] = {0, 1, 2};
  EXPECT_EQ(0, list.remove(all, 3));
  EXPECT_EQ(0, list.getCount());
}

TEST(StringList, SplitDropsEmptyParts) {
  StringList list;
  StringList::StringToList("a;;b;", ';', &list);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Entries(list));
  StringList::StringToList(";c", ';', &list);  // appends
  EXPECT_EQ((std::vector<std::string>{"a", "b", "c"}), Entries(list));

  StringList empty;
  StringList::StringToList("", ';', &empty);
  StringList::StringToList(";;;", ';', &empty);
  StringList::StringToList(nullptr, ';', &empty);
  StringList::StringToList("x", ';', nullptr);
  EXPECT_EQ(0, empty.getCount());

  StringList small(2);
  StringList::StringToList("1,2,3", ',', &small);
  EXPECT_EQ((std::vector<std::string>{"1", "2"}), Entries(small));
}

TEST(StringList, Iterator) {
  StringListIterator none(nullptr);
  EXPECT_FALSE(none.hasNext());
  EXPECT_EQ(&QVD::EMPTY_STRING, &none.next());

  StringList list;
  StringListIterator onEmpty(&list);
  EXPECT_FALSE(onEmpty.hasNext());

  Fill(&list, {"x", "y"});
  StringListIterator it(&list);
  EXPECT_STREQ("x", it.next().c_str());
  EXPECT_STREQ("y", it.next().c_str());
  EXPECT_FALSE(it.hasNext());
  EXPECT_EQ(&QVD::EMPTY_STRING, &it.next());
}

}  // namespace
