// Raw records from replication log documents and from "Starting
// replication" events.
#include "replication/raw_compile.h"

#include <cstring>
#include <string>

#include "framework/trace_capture.h"
#include "replication/repl_testutil.h"

namespace {

struct Hits {
  logresult* list = nullptr;
  ~Hits() { free_logResult(list); }
  void Add(uint32_t note, const char* field, const std::string& text) {
    list = add_logResult_list(list, text.c_str(), "Replication", field, note, 0);
  }
};

class RawCompileTest : public ReplTest {
 protected:
  RawCompileTest() {
    request_.useStartDate = 1;
    request_.startDate = T("12/06/2026 08:00:00 AM");
  }
  ~RawCompileTest() override { CleanStack(request_.stack); }
  replRequest request_ = {};
};

TEST_F(RawCompileTest, OneRecordPerLogDocument) {
  request_.stack = NewStack();
  request_.stack->hasExcludeString = 1;
  AddStack("secret", '-', request_.stack);
  Hits hits;
  hits.Add(1, "StartTime", "12/06/2026 08:00:05 AM");
  hits.Add(1, "Server", "CN=srv1/O=acme");
  hits.Add(1, "InitiatedBy", "CN=srv1/O=acme");
  hits.Add(1, "SourceServer", "srv2/acme");
  hits.Add(1, "FinishTime", "12/06/2026 08:02:10 AM");
  hits.Add(1, "EventList", "Pulling mail/a.vdb");
  hits.Add(1, "EventList", "Pulling secret.vdb");
  hits.Add(1, "Body", "mail/a.vdb: 3 added");
  hits.Add(1, "Categories", "ignored");
  // More than a day before the start date: contributes nothing.
  hits.Add(2, "StartTime", "12/05/2026 07:59:59 AM");
  hits.Add(2, "SourceServer", "srv3/acme");
  // No finish time: ends when it started.
  hits.Add(3, "SourceServer", "srv4/acme");
  hits.Add(3, "StartTime", "12/05/2026 08:00:00 AM");
  ASSERT_EQ(CompileRawLogResult(hits.list, &raw_, &request_, &info_), 0);
  ASSERT_NE(raw_, nullptr);
  replResult* r = raw_;
  EXPECT_STREQ(r->repl_svrName, "srv4/acme");
  EXPECT_STREQ(r->EndTime, "12/05/2026 08:00:00 AM");
  EXPECT_DOUBLE_EQ(r->duration, 0.0);
  r = r->next;
  ASSERT_NE(r, nullptr);
  EXPECT_STREQ(r->svrName, "srv1/acme");
  EXPECT_STREQ(r->InitiatedBy, "CN=srv1/O=acme");
  EXPECT_STREQ(r->repl_svrName, "srv2/acme");
  EXPECT_DOUBLE_EQ(r->duration, 125.0);
  EXPECT_EQ(r->Hit_Miss, 0);
  ASSERT_EQ(r->events.count, 1u);
  EXPECT_STREQ(r->events.buffer[0], "Pulling mail/a.vdb");
  ASSERT_EQ(r->replDBInfo.count, 1u);
  EXPECT_EQ(r->next, nullptr);
}

TEST_F(RawCompileTest, LinesBeyondTheScratchSlotsAreDroppedWithATraceLine) {
  TraceCaptureStart("error");
  Hits hits;
  hits.Add(7, "StartTime", "12/06/2026 08:00:05 AM");
  for (int i = 0; i < 600; ++i) hits.Add(7, "EventList", "event " + std::to_string(i));
  ASSERT_EQ(CompileRawLogResult(hits.list, &raw_, &request_, &info_), 0);
  ASSERT_NE(raw_, nullptr);
  EXPECT_EQ(raw_->events.count, kScratchSlots);
  EXPECT_STREQ(raw_->events.buffer[511], "event 511");
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("replication"),
                              "CompileRawLogResult: note 0x7 has more than 512 lines of events "
                              "(88 more) or database details (0 more); the lines beyond are dropped"));
  TraceCaptureStart("none");
}

TEST_F(RawCompileTest, StartEventsWithinFiveSecondsOfAKnownRunAreDuplicates) {
  AddRaw("srv3/acme", "12/06/2026 09:00:00 AM");
  Hits hits;
  hits.Add(9, "EventList", "12/06/2026 09:00:04 AM Starting replication with server SRV3/acme");
  hits.Add(9, "EventList", "12/06/2026 09:00:05 AM Starting replication with server srv3/acme");
  hits.Add(9, "EventList", "12/06/2026 09:00:06 AM Starting replication with server srv3/acme");
  hits.Add(9, "EventList", "12/06/2026 09:30:00 AM starting REPLICATION with server srv5/acme");
  // Before the start date: not added, but a start event 2 seconds later is
  // the same replication.
  hits.Add(9, "EventList", "12/06/2026 07:59:59 AM Starting replication with server srv6/acme");
  hits.Add(9, "EventList", "12/06/2026 08:00:01 AM Starting replication with server srv6/acme");
  VxTimeDate start = T("12/06/2026 08:00:00 AM");
  ASSERT_EQ(CompileRawEventResult(hits.list, &raw_, &start, &info_), 0);
  std::string seen;
  for (replResult* r = raw_; r != nullptr; r = r->next)
    seen += std::string(r->repl_svrName) + "@" + r->StartTime + "|";
  EXPECT_EQ(seen,
            "srv3/acme@12/06/2026 09:00:00 AM|srv3/acme@12/06/2026 09:00:05 AM |"
            "srv5/acme@12/06/2026 09:30:00 AM |");
  replResult* added = raw_->next;
  EXPECT_STREQ(added->svrName, "srv1/acme");
  EXPECT_STREQ(added->InitiatedBy, "srv1/acme");
  EXPECT_STREQ(added->EndTime, added->StartTime);
}

TEST_F(RawCompileTest, StartEventsWithoutAUsableTimeOrPartnerAreSkipped) {
  TraceCaptureStart("error");
  Hits hits;
  hits.Add(9, "EventList", "12/06/2026 09:00:00 AM Starting replication with server srv3/acme");
  // 82 characters before the phrase: no time, and not the previous one's.
  std::string longPrefix(82, 'x');
  hits.Add(9, "EventList", longPrefix + "Starting replication with server srv4/acme");
  hits.Add(9, "EventList", "yesterday Starting replication with server srv5/acme");
  hits.Add(9, "EventList", "12/06/2026 09:10:00 AM Starting replication with server ");
  hits.Add(9, "EventList", "12/06/2026 07:59:59 AM Starting replication with server srv6/acme");
  std::string longName(300, 'n');
  hits.Add(9, "EventList", "12/06/2026 09:20:00 AM Starting replication with server " + longName);
  VxTimeDate start = T("12/06/2026 08:00:00 AM");
  ASSERT_EQ(CompileRawEventResult(hits.list, &raw_, &start, &info_), 0);
  ASSERT_NE(raw_, nullptr);
  EXPECT_STREQ(raw_->repl_svrName, "srv3/acme");
  ASSERT_NE(raw_->next, nullptr);
  EXPECT_EQ(std::string(raw_->next->repl_svrName), std::string(255, 'n'));
  EXPECT_EQ(raw_->next->next, nullptr);
  auto lines = TraceCaptureLines("replication");
  EXPECT_TRUE(TraceCaptureHas(lines, "CompileRawEventResult: 82 characters before \"Starting "
                                     "replication\" are no time; event skipped: |" +
                                         longPrefix + "Starting replication with server srv4/acme|"));
  EXPECT_TRUE(TraceCaptureHas(lines, "CompileRawEventResult: no readable time before \"Starting "
                                     "replication\"; event skipped: |yesterday Starting "
                                     "replication with server srv5/acme|"));
  TraceCaptureStart("none");
}

}  // namespace
