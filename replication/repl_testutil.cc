#include "replication/repl_testutil.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "replication/hit_miss.h"
#include "replication/repl_time.h"
#include "serverapi/qvd_api.h"

ReplTest::ReplTest() {
  setenv("TZ", "UTC", 1);
  tzset();
  model_.Write("server.json", R"({"clock": {"fixed": "12/06/2026 10:00:00 AM"}})");
  memset(&info_, 0, sizeof info_);
  strcpy(info_.serverNameCanonical, "CN=srv1/O=acme");
  strcpy(info_.serverNameAbbr, "srv1/acme");
  QVD_VxGetIntlSettings(&info_.intlSettings, sizeof info_.intlSettings);
}

ReplTest::~ReplTest() {
  free_replResult(RewindReplResult(raw_));
  free_replSched(schedules_);
}

VxTimeDate ReplTest::T(const char* text) const {
  VxTimeDate t;
  EXPECT_TRUE(ReadDateFromString(text, &info_, &t)) << text;
  return t;
}

std::string ReplTest::S(const VxTimeDate& time) const {
  char text[81];
  return GetStringFromTimeDate(&time, text, &info_);
}

void ReplTest::AddRaw(const char* partner, const char* start, const char* end) {
  replResult r = {};
  strcpy(r.svrName, "srv1/acme");
  strcpy(r.InitiatedBy, "srv1/acme");
  strcpy(r.repl_svrName, partner);
  strcpy(r.StartTime, start);
  strcpy(r.EndTime, end[0] ? end : start);
  VxTimeDate s = T(r.StartTime), e = T(r.EndTime);
  r.duration = static_cast<double>(QVD_VxTimeDifference(&e, &s));
  replResult* list = add_replResult_list(raw_, &r, &info_);
  ASSERT_NE(list, nullptr);
  raw_ = list;
}

void ReplTest::AddSchedule(const char* dest, const char* text, const char* weekdays,
                           int interval) {
  replschedule s = {};
  strcpy(s.src_svr, "srv1/acme");
  strcpy(s.dest_svr, dest);
  s.schedule = const_cast<char*>(text);
  strcpy(s.weekdays, weekdays);
  s.interval = interval;
  schedules_ = add_replSched_list(schedules_, &s);
}

std::vector<std::string> ReplTest::Judge(const char* startDate, ReplRowLimit* limit) {
  replRequest request = {};
  request.useStartDate = 1;
  request.startDate = T(startDate);
  replResult* result = nullptr;
  EXPECT_EQ(ConstructReplResult(&result, &request, &raw_, schedules_, &info_, limit), 0);
  EXPECT_EQ(raw_, nullptr);
  std::vector<std::string> rows;
  for (replResult* r = result; r != nullptr; r = r->next)
    rows.push_back(std::string(r->repl_svrName) + " " + r->StartTime + " " + std::to_string(r->Hit_Miss));
  free_replResult(result);
  return rows;
}
