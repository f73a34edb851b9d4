#include "agentlink/list.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

const char P[] = "P", Q[] = "Q", R[] = "R", S[] = "S", T[] = "T";

int CompareText(const void* a, const void* b) {
  return std::strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

TEST(AgentLinkList, GrowsInStepsOfTen) {
  List list;
  EXPECT_EQ(0, list.getCapacity());
  int items[11];
  for (int i = 0; i < 10; i++) EXPECT_TRUE(list.add(&items[i]));
  EXPECT_EQ(10, list.getCapacity());
  list.add(&items[10]);
  EXPECT_EQ(20, list.getCapacity());
  EXPECT_EQ(11, list.getCount());
  list.clear();
  EXPECT_EQ(0, list.getCount());
  EXPECT_EQ(20, list.getCapacity());
  EXPECT_EQ(nullptr, list.peek());
}

TEST(AgentLinkList, RemoveAndInsertByIndex) {
  List list;
  list.add(P);
  list.add(Q);
  list.add(R);
  EXPECT_EQ(P, list.remove(0));
  EXPECT_EQ(nullptr, list.remove(2));
  EXPECT_EQ(nullptr, list.remove(-1));
  ASSERT_EQ(2, list.getCount());
  EXPECT_EQ(Q, list.get(0));
  EXPECT_EQ(R, list.get(1));

  EXPECT_TRUE(list.insert(5, S));  // beyond the end: appended
  EXPECT_FALSE(list.insert(-1, T));
  EXPECT_TRUE(list.insert(0, P));
  const void* expected[] = {P, Q, R, S};
  ListIterator it = list.iterator();
  for (const void* e : expected) {
    ASSERT_TRUE(it.hasNext());
    EXPECT_EQ(e, it.next());
  }
  EXPECT_FALSE(it.hasNext());
  EXPECT_EQ(nullptr, it.next());
}

TEST(AgentLinkList, InsertIntoAFullListGrows) {
  List list;
  const char* texts[10] = {"0", "1", "2", "3", "4", "5", "6", "7", "8", "9"};
  for (const char* t : texts) list.add(t);
  list.insert(3, S);
  EXPECT_EQ(20, list.getCapacity());
  EXPECT_EQ(S, list.get(3));
  EXPECT_EQ(texts[9], list.get(10));
}

TEST(AgentLinkList, StackUse) {
  List stack;
  EXPECT_EQ(nullptr, stack.pop());
  EXPECT_EQ(nullptr, stack.peek());
  stack.add(P);
  stack.add(Q);
  EXPECT_EQ(Q, stack.peek());
  EXPECT_EQ(Q, stack.pop());
  EXPECT_EQ(P, stack.pop());
  EXPECT_EQ(nullptr, stack.pop());
}

TEST(AgentLinkList, FindByIdentityOrByCompare) {
  char copy[] = "Q";
  List list;
  list.add(P);
  list.add(Q);
  EXPECT_EQ(-1, list.find(copy, nullptr));
  EXPECT_EQ(1, list.find(Q, nullptr));
  EXPECT_EQ(1, list.find(copy, CompareText));
  EXPECT_EQ(-1, list.find("Z", CompareText));
}

TEST(AgentLinkList, CopyHasItsOwnArray) {
  List list;
  list.add(P);
  list.add(Q);
  List copy(&list);
  EXPECT_EQ(2, copy.getCount());
  EXPECT_EQ(10, copy.getCapacity());
  list.remove(0);
  EXPECT_EQ(P, copy.get(0));
  List none(static_cast<const List*>(nullptr));
  EXPECT_EQ(0, none.getCount());
}

}  // namespace
