// Start date texts, time texts and the weekday test.
#include "replication/repl_time.h"

#include "replication/repl_testutil.h"

namespace {

using ReplTimeTest = ReplTest;

TEST_F(ReplTimeTest, StartDateTextIsMonthDayYearHourMinute) {
  VxTimeDate t;
  ASSERT_EQ(setupTimeDate("12/05/2026 09:30", &t), 0);
  EXPECT_EQ(S(t), "12/05/2026 09:30:00 AM");
  ASSERT_EQ(setupTimeDate("1/2/2026", &t), 0);
  EXPECT_EQ(S(t), "01/02/2026 12:00:00 AM");
  EXPECT_EQ(setupTimeDate("12/05/1969 09:30", &t), 1);
  EXPECT_EQ(setupTimeDate("12/05/2026 25:30", &t), 1);
  EXPECT_EQ(setupTimeDate("12/05/2026 09:61", &t), 1);
  EXPECT_EQ(setupTimeDate("13/05/2026 09:30", &t), 1);
  EXPECT_EQ(setupTimeDate("12/x5/2026 09:30", &t), 1);
  EXPECT_EQ(setupTimeDate("12-05-2026", &t), 1);
  EXPECT_EQ(setupTimeDate("02/30/2026", &t), 1);  // no such day
}

TEST_F(ReplTimeTest, TimeTextsAndTimesOfDay) {
  VxTimeDate t = T("12/05/2026 09:30:15 PM");
  EXPECT_EQ(S(t), "12/05/2026 09:30:15 PM");
  EXPECT_EQ(S(setTimeDateTime(t, 23, 59, 59)), "12/05/2026 11:59:59 PM");
  VxTimeDate none;
  EXPECT_FALSE(ReadDateFromString("not a time", &info_, &none));
  int h, m, s;
  ASSERT_TRUE(timeOfDay(t, &h, &m, &s));
  EXPECT_EQ(h * 10000 + m * 100 + s, 213015);
}

TEST_F(ReplTimeTest, WeekdayDigitsAreFoundAsText) {
  VxTimeDate sunday = T("12/06/2026 10:00:00 AM");
  EXPECT_EQ(timeDateFallsOnScheduledDay(sunday, "1;2;3"), 1);
  EXPECT_EQ(timeDateFallsOnScheduledDay(sunday, "234567"), 0);
  EXPECT_EQ(timeDateFallsOnScheduledDay(sunday, ""), 0);
  EXPECT_EQ(timeDateFallsOnScheduledDay(sunday, "x;12"), 1);
  EXPECT_EQ(timeDateFallsOnScheduledDay(T("12/05/2026 10:00:00 AM"), "7"), 1);
}

}  // namespace
