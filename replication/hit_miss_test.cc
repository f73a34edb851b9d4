// The hit/miss analysis on hand-built raw records and schedules: every
// schedule shape, its windows, weekdays, the start date and manual runs.
#include "replication/hit_miss.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "framework/trace_capture.h"
#include "replication/repl_testutil.h"

namespace {

using Rows = std::vector<std::string>;
using HitMissTest = ReplTest;

// 12/05/2026 is a Saturday (weekday 7), 12/06/2026 a Sunday (1); the clock
// stands at 12/06/2026 10:00:00 AM, which ends every period below.

TEST_F(HitMissTest, OneDailyTimeHasAnHourToRun) {
  AddSchedule("srv2/acme", "08:00 AM");
  AddRaw("srv2/acme", "12/05/2026 09:00:00 AM");  // 3600 s after the slot
  AddRaw("srv2/acme", "12/06/2026 09:00:01 AM");  // 3601 s after the slot
  EXPECT_EQ(Judge("12/05/2026 07:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 09:00:00 AM 1", "srv2/acme 12/06/2026 08:00:00 AM 2",
                  "srv2/acme 12/06/2026 09:00:01 AM 3"}));
}

TEST_F(HitMissTest, OneDailyTimeKeepsToItsWeekdaysAndStartDate) {
  AddSchedule("srv2/acme", "08:00 AM", "123456");  // not on Saturdays
  AddSchedule("srv3/acme", "08:00 AM");
  // Before the start date: neither the hit nor the miss is reported, and the
  // hit is not left over as a manual run either.
  AddRaw("srv3/acme", "12/05/2026 08:10:00 AM");
  EXPECT_EQ(Judge("12/05/2026 09:30:00 AM"),
            (Rows{"srv2/acme 12/06/2026 08:00:00 AM 2", "srv3/acme 12/06/2026 08:00:00 AM 2"}));
}

TEST_F(HitMissTest, RepeatedRangeFollowsEachReplicationsEnd) {
  AddSchedule("srv2/acme", "08:00 AM - 11:00 AM", "7", 60);
  AddRaw("srv2/acme", "12/05/2026 08:00:30 AM", "12/05/2026 08:05:00 AM");
  // 14 minutes before the next slot (09:05): a hit, the slot after it is
  // its end plus 60 minutes.
  AddRaw("srv2/acme", "12/05/2026 08:51:00 AM", "12/05/2026 08:55:00 AM");
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:00:30 AM 1", "srv2/acme 12/05/2026 08:51:00 AM 1",
                  "srv2/acme 12/05/2026 09:55:00 AM 2", "srv2/acme 12/05/2026 10:55:00 AM 2"}));
}

TEST_F(HitMissTest, RepeatedRangeMissesSlotsUpToALateReplication) {
  AddSchedule("srv2/acme", "08:00 AM - 11:00 AM", "7", 60);
  AddRaw("srv2/acme", "12/05/2026 10:30:00 AM", "12/05/2026 10:31:00 AM");
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:00:00 AM 2", "srv2/acme 12/05/2026 09:00:00 AM 2",
                  "srv2/acme 12/05/2026 10:00:00 AM 2", "srv2/acme 12/05/2026 10:30:00 AM 3"}));
}

TEST_F(HitMissTest, RepeatedRangePassesARunThatStartedAStepBeforeTheSlot) {
  AddSchedule("srv2/acme", "08:00 AM - 11:00 AM", "7", 60);
  AddRaw("srv2/acme", "12/05/2026 08:00:00 AM", "12/05/2026 08:40:00 AM");  // next slot 09:40
  // Started during the first run, 80 minutes before the slot: passed, and
  // the day goes on.
  AddRaw("srv2/acme", "12/05/2026 08:20:00 AM", "12/05/2026 08:21:00 AM");
  AddRaw("srv2/acme", "12/05/2026 09:41:00 AM", "12/05/2026 09:45:00 AM");
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:00:00 AM 1", "srv2/acme 12/05/2026 08:20:00 AM 3",
                  "srv2/acme 12/05/2026 09:41:00 AM 1", "srv2/acme 12/05/2026 10:45:00 AM 2"}));
}

TEST_F(HitMissTest, RangeAcrossMidnightStartsThePreviousEvening) {
  AddSchedule("srv2/acme", "10:00 PM - 02:00 AM");
  AddRaw("srv2/acme", "12/05/2026 01:00:00 AM");
  // The first window runs from 12/04 10:00 PM: its miss would lie before
  // the start date.  The second, from 12/05 10:00 PM, has no replication.
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 01:00:00 AM 1", "srv2/acme 12/05/2026 10:00:00 PM 2"}));
}

TEST_F(HitMissTest, RangeOnceTakesTheFirstReplicationInside) {
  AddSchedule("srv2/acme", "08:00 AM - 09:00 AM", "7");
  AddRaw("srv2/acme", "12/05/2026 08:20:00 AM");
  AddRaw("srv2/acme", "12/05/2026 08:40:00 AM");  // a second run: manual
  AddRaw("srv2/acme", "12/06/2026 08:30:00 AM");  // Sunday: not scheduled
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:20:00 AM 1", "srv2/acme 12/05/2026 08:40:00 AM 3"}));
}

TEST_F(HitMissTest, ListOfTimesJudgesEachListedSlot) {
  AddSchedule("srv2/acme", "08:00 AM;12:00 PM;06:00 PM", "7");
  AddRaw("srv2/acme", "12/05/2026 08:30:00 AM");
  AddRaw("srv2/acme", "12/05/2026 02:00:00 PM");  // two hours after noon
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:30:00 AM 1", "srv2/acme 12/05/2026 12:00:00 PM 2",
                  "srv2/acme 12/05/2026 02:00:00 PM 3", "srv2/acme 12/05/2026 06:00:00 PM 2"}));
}

TEST_F(HitMissTest, ListSlotsBeforeTheFirstWindowAreNotInvented) {
  AddSchedule("srv2/acme", "07:00 AM;08:00 AM", "7");
  // The period starts after both listed times of Saturday: nothing is judged
  // that day (no slot at the start of the period).
  AddRaw("srv2/acme", "12/05/2026 09:00:00 AM");
  EXPECT_EQ(Judge("12/05/2026 08:30:00 AM"), (Rows{"srv2/acme 12/05/2026 09:00:00 AM 3"}));
}

TEST_F(HitMissTest, UnscheduledPartnersAreManualInsideThePeriod) {
  AddSchedule("srv2/acme", "08:00 AM", "7");
  AddRaw("SRV2/acme", "12/05/2026 08:10:00 AM");  // names compare exactly
  AddRaw("srv9/acme", "12/04/2026 11:00:00 PM");  // before the period
  EXPECT_EQ(Judge("12/05/2026 07:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:00:00 AM 2", "SRV2/acme 12/05/2026 08:10:00 AM 3"}));
}

TEST_F(HitMissTest, UnreadableSchedulesAreSkippedWithATraceLine) {
  TraceCaptureStart("error");
  AddSchedule("srv2/acme", "banana");
  AddSchedule("srv3/acme", "08:00 AM - 09:00 AM", "1234567", -5);
  AddSchedule("srv4/acme", "08:00 AM;lunch");
  AddSchedule("srv5/acme", "");  // no schedule: never judged
  AddRaw("srv2/acme", "12/05/2026 08:10:00 AM");
  EXPECT_EQ(Judge("12/05/2026 07:00:00 AM"), (Rows{"srv2/acme 12/05/2026 08:10:00 AM 3"}));
  auto lines = TraceCaptureLines("replication");
  EXPECT_TRUE(TraceCaptureHas(lines, "Schedule |banana| of the connection to srv2/acme cannot be read; connection skipped"));
  EXPECT_TRUE(TraceCaptureHas(lines, "Interval -5 of the connection to srv3/acme is negative; connection skipped"));
  EXPECT_TRUE(TraceCaptureHas(lines, "Schedule |08:00 AM;lunch| of the connection to srv4/acme cannot be read; connection skipped"));
  TraceCaptureStart("none");
}


// A logged end that is no time (or lies before the start) must not send the
// next slot of a repeated range back to the zero time: the analysis would
// then walk millions of slots.  The start stands in for such an end.
TEST_F(HitMissTest, RepeatedRangeTakesAnUnreadableOrEarlyEndAsTheStart) {
  AddSchedule("srv2/acme", "08:00 AM - 11:00 AM", "7", 60);
  AddRaw("srv2/acme", "12/05/2026 08:00:30 AM", "12/05/2026 08:05:00 AM");
  for (const char* end : {"not a time", "12/05/2026 07:00:00 AM"}) {
    replResult r = {};
    strcpy(r.svrName, "srv1/acme");
    strcpy(r.InitiatedBy, "srv1/acme");
    strcpy(r.repl_svrName, "srv2/acme");
    strcpy(r.StartTime, std::string(end) == "not a time" ? "12/05/2026 09:10:00 AM" : "12/05/2026 10:15:00 AM");
    strcpy(r.EndTime, end);
    raw_ = add_replResult_list(raw_, &r, &info_);
    ASSERT_NE(raw_, nullptr);
  }
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:00:30 AM 1", "srv2/acme 12/05/2026 09:10:00 AM 1",
                  "srv2/acme 12/05/2026 10:15:00 AM 1"}));
}

// A repeated range across midnight: the first window runs from the
// previous evening, the next from this evening into the next morning, and
// slots follow each replication's end.
TEST_F(HitMissTest, RepeatedRangeAcrossMidnight) {
  AddSchedule("srv2/acme", "10:00 PM - 02:00 AM", "1234567", 60);
  AddRaw("srv2/acme", "12/05/2026 11:10:00 PM", "12/05/2026 11:20:00 PM");
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 12:00:00 AM 2", "srv2/acme 12/05/2026 01:00:00 AM 2",
                  "srv2/acme 12/05/2026 10:00:00 PM 2", "srv2/acme 12/05/2026 11:10:00 PM 1",
                  "srv2/acme 12/06/2026 12:20:00 AM 2", "srv2/acme 12/06/2026 01:20:00 AM 2"}));
}

// Listed times less than an hour apart: each slot's window ends at the
// next listed time; the last one has the full hour.
TEST_F(HitMissTest, ListTimesLessThanAnHourApartShareTheHour) {
  AddSchedule("srv2/acme", "08:00 AM;08:20 AM;09:00 AM", "7");
  AddRaw("srv2/acme", "12/05/2026 08:21:00 AM");  // 21 minutes after 08:00: the 08:20 slot's
  AddRaw("srv2/acme", "12/05/2026 09:50:00 AM");  // 50 minutes after the last slot
  EXPECT_EQ(Judge("12/05/2026 12:00:00 AM"),
            (Rows{"srv2/acme 12/05/2026 08:00:00 AM 2", "srv2/acme 12/05/2026 08:21:00 AM 1",
                  "srv2/acme 12/05/2026 09:50:00 AM 1"}));
}

// A bounded analysis keeps exactly the first rows of the unbounded one,
// whatever order the schedules are judged in, and counts what it left out.
TEST_F(HitMissTest, ARowLimitKeepsTheEarliestRowsOfTheWholeAnalysis) {
  auto setUp = [this] {
    free_replResult(RewindReplResult(raw_));
    raw_ = nullptr;
    free_replSched(schedules_);
    schedules_ = nullptr;
    AddSchedule("srv4/acme", "07:00 AM - 10:00 PM", "1234567", 240);  // judged last
    AddSchedule("srv2/acme", "08:00 AM");
    AddSchedule("srv3/acme", "09:00 AM;01:00 PM");                  // judged first
    AddSchedule("srv2/acme", "07:00 AM - 10:00 PM", "1234567", 240);
    AddRaw("srv2/acme", "12/05/2026 08:10:00 AM", "12/05/2026 08:20:00 AM");
    AddRaw("srv9/acme", "12/05/2026 08:10:00 AM");  // manual, same second as the hit
    AddRaw("srv4/acme", "12/05/2026 11:02:00 AM", "12/05/2026 11:03:40 AM");
    // Late replications the range's later windows still claim.
    AddRaw("srv2/acme", "12/05/2026 03:05:00 PM", "12/05/2026 03:10:00 PM");
    AddRaw("srv2/acme", "12/06/2026 07:05:00 AM", "12/06/2026 07:06:00 AM");
  };
  setUp();
  Rows all = Judge("12/05/2026 07:00:00 AM");
  ASSERT_EQ(all.size(), 16u);
  for (size_t n = 1; n <= all.size() + 1; ++n) {
    setUp();
    ReplRowLimit limit;
    limit.maxRows = n;
    Rows some = Judge("12/05/2026 07:00:00 AM", &limit);
    size_t kept = std::min(n, all.size());
    EXPECT_EQ(some, Rows(all.begin(), all.begin() + kept)) << n;
    EXPECT_EQ(limit.rowsLeftOut, kept < all.size()) << n;
  }
}

}  // namespace
