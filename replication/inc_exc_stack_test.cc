// Include/exclude verdicts on log lines.
#include "replication/inc_exc_stack.h"

#include <gtest/gtest.h>

namespace {

struct StackHolder {
  Stack* stack = NewStack();
  ~StackHolder() { CleanStack(stack); }
};

TEST(IncExcStack, IncludeKeepsOnlyMatchingLinesInAnyCase) {
  StackHolder h;
  h.stack->hasIncludeString = 1;
  ASSERT_EQ(AddStackList("Starting replication with server", '+', h.stack), 0);
  EXPECT_EQ(DiscriminateText("10:00 starting REPLICATION with server X", h.stack), 0);
  EXPECT_EQ(DiscriminateText("10:00 Router: idle", h.stack), 1);
}

TEST(IncExcStack, TheLastMatchingEntryDecides) {
  StackHolder h;
  h.stack->hasIncludeString = 1;
  h.stack->hasExcludeString = 1;
  ASSERT_EQ(AddStackList("a", '+', h.stack), 0);
  ASSERT_EQ(AddStackList("ab", '-', h.stack), 0);
  EXPECT_EQ(DiscriminateText("xab", h.stack), 1);
  EXPECT_EQ(DiscriminateText("xa", h.stack), 0);
  EXPECT_EQ(DiscriminateText("xyz", h.stack), 1);
}

TEST(IncExcStack, ExcludeOnlyAndEmptyStacks) {
  EXPECT_EQ(DiscriminateText("anything", nullptr), 0);
  StackHolder h;
  EXPECT_EQ(DiscriminateText("anything", h.stack), 0);
  h.stack->hasExcludeString = 1;
  // Empty parts of the list are no entries (an empty text matches nothing).
  ASSERT_EQ(AddStackList(";bar;;Baz;", '-', h.stack), 0);
  int entries = 0;
  for (StackEntry* e = h.stack->first; e != nullptr; e = e->next) ++entries;
  EXPECT_EQ(entries, 2);
  EXPECT_EQ(DiscriminateText("foo", h.stack), 0);
  EXPECT_EQ(DiscriminateText("xBARx", h.stack), 1);
  EXPECT_EQ(DiscriminateText("xbazx", h.stack), 1);
}

}  // namespace
