// The replication result list: start order with ties in arrival order,
// removal, and a long list built in reverse order.
#include "replication/repl_records.h"

#include <cstring>
#include <string>

#include "replication/repl_testutil.h"
#include "replication/repl_time.h"
#include "serverapi/qvd_api.h"

namespace {

using ReplRecordsTest = ReplTest;

std::string Partners(replResult* list) {
  std::string out;
  for (replResult* r = RewindReplResult(list); r != nullptr; r = r->next) {
    if (r->next != nullptr) {
      EXPECT_EQ(r->next->previous, r);
    }
    out += std::string(r->repl_svrName) + " ";
  }
  return out;
}

TEST_F(ReplRecordsTest, StartOrderKeepsArrivalOrderForTies) {
  AddRaw("a", "12/05/2026 10:00:00 AM");
  AddRaw("b", "12/05/2026 09:00:00 AM");
  AddRaw("c", "12/05/2026 10:00:00 AM");
  AddRaw("d", "12/05/2026 11:00:00 AM");
  AddRaw("e", "12/05/2026 10:00:00 AM");
  EXPECT_EQ(Partners(raw_), "b a c e d ");
  EXPECT_EQ(raw_->previous, nullptr);
}

TEST_F(ReplRecordsTest, CopiesAreDeep) {
  replResult r = {};
  strcpy(r.repl_svrName, "x");
  strcpy(r.StartTime, "12/05/2026 10:00:00 AM");
  char e0[] = "event";
  char* events[] = {e0};
  r.events.count = 1;
  r.events.buffer = events;
  r.duration = 2.5;
  r.Hit_Miss = 3;
  raw_ = add_replResult_list(nullptr, &r, &info_);
  ASSERT_NE(raw_, nullptr);
  e0[0] = 'E';
  EXPECT_STREQ(raw_->events.buffer[0], "event");
  EXPECT_EQ(raw_->Hit_Miss, 3);
  EXPECT_DOUBLE_EQ(raw_->duration, 2.5);
}

TEST_F(ReplRecordsTest, RemovalReturnsTheNextOrThePrevious) {
  AddRaw("a", "12/05/2026 09:00:00 AM");
  AddRaw("b", "12/05/2026 10:00:00 AM");
  AddRaw("c", "12/05/2026 11:00:00 AM");
  replResult* last = raw_->next->next;
  replResult* b = RemoveReplResult(last);
  EXPECT_STREQ(b->repl_svrName, "b");
  EXPECT_EQ(b->next, nullptr);
  replResult* after = RemoveReplResult(raw_);  // the first: its next
  EXPECT_STREQ(after->repl_svrName, "b");
  raw_ = after;
  EXPECT_EQ(raw_->previous, nullptr);
  // The list still sorts after removals.
  AddRaw("z", "12/05/2026 08:00:00 AM");
  EXPECT_EQ(Partners(raw_), "z b ");
  replResult* alone = RewindReplResult(raw_)->next;
  RemoveReplResult(RewindReplResult(raw_));
  EXPECT_EQ(RemoveReplResult(alone), nullptr);
  raw_ = nullptr;
  EXPECT_EQ(RewindReplResult(nullptr), nullptr);
}

TEST_F(ReplRecordsTest, ManyRecordsInReverseOrderEndUpSorted) {
  VxTimeDate t = T("12/05/2026 11:00:00 PM");
  char text[81];
  for (int i = 0; i < 3000; ++i) {
    GetStringFromTimeDate(&t, text, &info_);
    AddRaw(i % 2 ? "odd" : "even", text);
    if (i % 3 == 2) QVD_VxTimeAdjust(&t, -7, 0, 0, 0, 0, 0);
  }
  long previous = -1;
  int count = 0;
  for (replResult* r = raw_; r != nullptr; r = r->next, ++count) {
    EXPECT_LE(previous, r->startKey);
    previous = r->startKey;
  }
  EXPECT_EQ(count, 3000);
}

}  // namespace
