// Test support for the replication units: a simulated server with a fixed
// clock (Sunday 12/06/2026 10:00:00 AM, UTC), a server information block
// for "CN=srv1/O=acme", and builders of raw records and schedules.
#ifndef QVD_REPLICATION_REPL_TESTUTIL_H_
#define QVD_REPLICATION_REPL_TESTUTIL_H_

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "replication/hit_miss.h"
#include "replication/repl_records.h"
#include "sim/sim_test_support.h"
#include "state/globals.h"

class ReplTest : public ::testing::Test {
 protected:
  ReplTest();
  ~ReplTest() override;

  VxTimeDate T(const char* text) const;
  std::string S(const VxTimeDate& time) const;

  // Adds a raw record for `partner` to raw_ (end: same as start when empty).
  void AddRaw(const char* partner, const char* start, const char* end = "");
  // Appends a schedule to schedules_.
  void AddSchedule(const char* dest, const char* text, const char* weekdays = "1234567",
                   int interval = 0);

  // One row of the analysis: "<partner> <start> <Hit_Miss>" (within
  // *limit when given).
  std::vector<std::string> Judge(const char* startDate, ReplRowLimit* limit = nullptr);

  TempModel model_;
  _ServerInfoBlock info_;
  replResult* raw_ = nullptr;
  replschedule* schedules_ = nullptr;
};

#endif  // QVD_REPLICATION_REPL_TESTUTIL_H_
