#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serverapi/vaxel.h"
#include "sim/sim_test_support.h"

namespace {

VxLocaleFormat Intl(uint16_t flags, const char* dateSep = "/") {
  VxLocaleFormat intl;
  memset(&intl, 0, sizeof intl);
  intl.Flags = flags;
  strcpy(intl.DateString, dateSep);
  strcpy(intl.TimeString, ":");
  return intl;
}

// Reads `text`; fails the test when it is not a time.
VxTimeDate Read(const char* text, const VxLocaleFormat* intl) {
  VxTimeDate t{};
  EXPECT_EQ(0, VxTextToTime(intl, nullptr, text, static_cast<uint16_t>(strlen(text)), &t)) << text;
  return t;
}

std::string Write(const VxTimeDate& t, const VxLocaleFormat* intl) {
  char buf[80];
  uint16_t len = 0;
  EXPECT_EQ(0, VxTimeToText(intl, nullptr, &t, buf, sizeof buf, &len));
  EXPECT_EQ(strlen(buf), len);
  return buf;
}

VxTime Fields(const VxTimeDate& t) {
  VxTime f{};
  f.GM = t;
  EXPECT_EQ(0, VxTimeBreakDown(&f));
  return f;
}

TEST(TimeText, BothWaysUnderEachDateOrder) {
  TempModel model;
  struct Case {
    uint16_t flags;
    const char* text;
  } cases[] = {{0, "12/06/2026 10:00:00 AM"},
               {VX_INTL_DATE_DMY, "06/12/2026 10:00:00 AM"},
               {VX_INTL_DATE_YMD, "2026/12/06 10:00:00 AM"}};
  for (const Case& c : cases) {
    VxLocaleFormat intl = Intl(c.flags);
    VxTimeDate t = Read(c.text, &intl);
    VxTime f = Fields(t);
    EXPECT_EQ(2026, f.year) << c.text;
    EXPECT_EQ(12, f.month) << c.text;
    EXPECT_EQ(6, f.day) << c.text;
    EXPECT_EQ(10, f.hour) << c.text;
    EXPECT_EQ(1, f.weekday) << c.text;  // a Sunday
    EXPECT_EQ(c.text, Write(t, &intl));
  }
}

TEST(TimeText, ServerSettingsSeparatorsAndClockForms) {
  TempModel model;
  model.Write("server.json", R"({"intl": {"dateOrder": "DMY", "dateSeparator": "."}})");
  VxTimeDate t = Read("05.12.2026 02:15:33 PM", nullptr);  // null: the server's settings
  VxTime f = Fields(t);
  EXPECT_EQ(12, f.month);
  EXPECT_EQ(5, f.day);
  EXPECT_EQ(14, f.hour);
  EXPECT_EQ("05.12.2026 02:15:33 PM", Write(t, nullptr));

  VxLocaleFormat mdy = Intl(0);
  EXPECT_EQ(0, Fields(Read("12/06/2026 12:00:00 AM", &mdy)).hour);  // midnight
  EXPECT_EQ(12, Fields(Read("12/06/2026 12:30:00 PM", &mdy)).hour);
  EXPECT_EQ(17, Fields(Read("12/06/2026 17:05", &mdy)).hour);  // 24-hour, no seconds
  EXPECT_EQ(0, Fields(Read("12/06/26", &mdy)).hour);           // date alone, short year
  EXPECT_EQ(2026, Fields(Read("12-06-26", &mdy)).year);
  EXPECT_EQ(45, Fields(Read("08:45 AM", &mdy)).minute);        // time alone: today
}

TEST(TimeText, ReadsTheDateAtTheStartOfALogLine) {
  TempModel model;
  VxLocaleFormat mdy = Intl(0);
  const char* line = "10/12/2006 02:15:33 PM Starting replication with server srv2";
  VxTimeDate t{};
  EXPECT_EQ(0, VxTextToTime(&mdy, nullptr, line, 22, &t));
  EXPECT_EQ("10/12/2006 02:15:33 PM", Write(t, &mdy));
  EXPECT_EQ(0, VxTextToTime(&mdy, nullptr, line, 200, &t));  // the rest is ignored
  const char* notDates[] = {"Starting replication", "13/45/2026 10:00:00 AM",
                            "02/30/2026", "12/06/2026 13:00:00 PM", "12/06/2026 10:61",
                            "12/06/2026x", ""};
  for (const char* text : notDates)
    EXPECT_EQ(VX_ERR_TIME_CONVERSION,
              VxTextToTime(&mdy, nullptr, text, static_cast<uint16_t>(strlen(text)), &t))
        << text;
  char small[10];
  EXPECT_EQ(VX_ERR_BUFFER_TOO_SMALL, VxTimeToText(&mdy, nullptr, &t, small, sizeof small, nullptr));
  EXPECT_STREQ("", small);
}

TEST(TimeArithmetic, WildcardEqualsAnyTime) {
  TempModel model;
  VxTimeDate wild, now, earliest, latest;
  VxSpecialTime(VX_TIME_WILDCARD, &wild);
  VxSpecialTime(VX_TIME_MINIMUM, &earliest);
  VxSpecialTime(VX_TIME_MAXIMUM, &latest);
  VxCurrentTime(&now);
  EXPECT_EQ(0, VxTimeCompare(&wild, &now));
  EXPECT_EQ(0, VxTimeCompare(&now, &wild));
  EXPECT_EQ(0, VxTimeCompare(&wild, &earliest));
  EXPECT_EQ(-1, VxTimeCompare(&earliest, &now));
  EXPECT_EQ(1, VxTimeCompare(&latest, &now));
  EXPECT_EQ(0, VxTimeDifference(&wild, &now));
  EXPECT_NE(0, VxTimeAdjust(&wild, 0, 0, 0, -1, 0, 0));
  char buf[80];
  EXPECT_EQ(0, VxTimeToText(nullptr, nullptr, &wild, buf, sizeof buf, nullptr));
  EXPECT_STREQ("*", buf);
}

TEST(TimeArithmetic, AdjustCompareDifferenceAssemble) {
  TempModel model;
  VxLocaleFormat mdy = Intl(0);
  VxTimeDate start = Read("12/06/2026 10:00:00 AM", &mdy);
  VxTimeDate t = start;
  EXPECT_EQ(0, VxTimeAdjust(&t, 0, 0, 0, -1, 0, 0));
  EXPECT_EQ("12/05/2026 10:00:00 AM", Write(t, &mdy));
  EXPECT_EQ(-1, VxTimeCompare(&t, &start));
  EXPECT_EQ(86400, VxTimeDifference(&start, &t));
  EXPECT_EQ(0, VxTimeAdjust(&t, 150, 0, 0, 1, 0, 0));
  EXPECT_EQ(-150, VxTimeDifference(&start, &t));
  EXPECT_EQ(0, VxTimeAdjust(&t, 0, 0, 0, 0, 1, 1));
  EXPECT_EQ("01/06/2028 10:02:30 AM", Write(t, &mdy));

  VxTime f = Fields(start);
  f.hour = 23;
  f.minute = 59;
  f.second = 59;
  EXPECT_EQ(0, VxTimeAssemble(&f));
  EXPECT_EQ("12/06/2026 11:59:59 PM", Write(f.GM, &mdy));
  EXPECT_EQ(7, Fields(Read("12/05/2026", &mdy)).weekday);  // a Saturday
  f.month = 2;
  f.day = 30;
  EXPECT_NE(0, VxTimeAssemble(&f));
  f.month = 13;
  f.day = 1;
  EXPECT_NE(0, VxTimeAssemble(&f));
}

TEST(TimeArithmetic, FixedAndOffsetClocks) {
  TempModel model;
  VxLocaleFormat mdy = Intl(0);
  model.Write("server.json", R"({"clock": {"fixed": "12/06/2026 10:00:00 AM"}})");
  VxTimeDate a, b;
  VxCurrentTime(&a);
  VxCurrentTime(&b);
  EXPECT_EQ("12/06/2026 10:00:00 AM", Write(a, &mdy));
  EXPECT_EQ(0, VxTimeCompare(&a, &b));

  model.Write("server.json", R"({"clock": {"offsetSeconds": -86400}})");
  VxCurrentTime(&a);
  model.Write("server.json", R"({})");
  VxCurrentTime(&b);
  long diff = VxTimeDifference(&b, &a);
  EXPECT_GE(diff, 86400);
  EXPECT_LE(diff, 86400 + 60);
}

}  // namespace
