// The database check cycle against the simulated server, with its pauses
// shortened: what it publishes, retries, exclusion, views, shutdown, and the
// thread's start and end.
#include "dbhealth/check_database.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "dbhealth/translog_checker.h"
#include "framework/trace_capture.h"
#include "sim/sim_test_support.h"
#include "state/globals.h"

namespace {

const char kServer[] = "CN=srv1/O=acme";
const DbCheckPace kQuick{0, 15};

// The published corruption list as "db|view|state|status|faildb|failserver" rows.
std::vector<std::string> CorruptionRows() {
  std::vector<std::string> rows;
  pthread_mutex_lock(&checkDBResultMutex);
  DbCorruptFailoverListIterator it(&dbCorruptFailoverList);
  while (it.hasNext()) {
    const DbCorruptFailover* r = it.next();
    rows.push_back(std::string(r->getDbName()) + "|" + r->getViewName() + "|" + r->getState() + "|" +
                   r->getFailoverStatus() + "|" + r->getFailoverDb() + "|" + r->getFailoverServer());
  }
  pthread_mutex_unlock(&checkDBResultMutex);
  return rows;
}

std::vector<std::string> WhitespaceNames() {
  std::vector<std::string> names;
  pthread_mutex_lock(&checkDBResultMutex);
  DbStatisticsInfoListIterator it(&dbStatisticsInfoList);
  while (it.hasNext()) names.push_back(it.next()->getDbName());
  pthread_mutex_unlock(&checkDBResultMutex);
  return names;
}

using Rows = std::vector<std::string>;

class CheckCycle : public ::testing::Test {
 protected:
  void SetUp() override { qvdShutdown = false; }
  void TearDown() override {
    qvdShutdown = false;
    dbViewsConfigMap.removeAll();
    EXPECT_EQ(0u, vaxelsim_handles_held());
  }
  int cycle(const char* include, const char* exclude, const DbViewsConfigMap* views = nullptr) {
    VeloraConfigParser parser(kServer, include, exclude);
    return runDatabaseCheckCycle(kServer, &parser, views, kQuick);
  }
  TempModel model_;
};

TEST_F(CheckCycle, PublishesBadDatabasesBadViewsAndTheWhiteSpaceOfTheOthers) {
  model_.Write("server.json", R"json({"databases": {
    "mail/a.vdb": {"space": {"allocatedBytes": 2048, "freeBytes": 1024},
                   "views": {"Inbox": {"open": 0}, "Unbuilt": {"open": 779}, "Broken": {"open": 1234}}},
    "mail/skip/s.vdb": {},
    "mail/x/bad.vdb": {"open": 513},
    "moved.vdb": {"open": 999, "repairOpen": 999, "failoverPath": "CN=srv2/O=acme!!moved.vdb"},
    "noquota.vdb": {"quota": {"status": 549}}}})json");
  DbViewsConfigMap views;
  views.add("mail", "Inbox,Unbuilt,Broken,Missing");
  views.add("mail/x/*", "Inbox");
  TraceCaptureStart("error,dbhealth/check=detail");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("mail/*;moved.vdb;noquota.vdb;nothere", "mail/skip", &views));
  EXPECT_EQ((Rows{"mail/a.vdb|Broken|View corrupt|||", "mail/a.vdb|Missing|View not found|||",
                  "mail/x/bad.vdb|DEFAULT|Not a database|||",
                  "moved.vdb|DEFAULT|Cluster failover|Success|moved.vdb|CN=srv2/O=acme"}),
            CorruptionRows());
  EXPECT_EQ((Rows{"mail/a.vdb"}), WhitespaceNames());
  auto lines = TraceCaptureLines("dbhealth/check");
  EXPECT_TRUE(TraceCaptureHas(lines, "Found 5 databases on Velora server CN=srv1/O=acme"));
  EXPECT_TRUE(TraceCaptureHas(lines, "mail/skip/s.vdb is in exclude path list, so do not check it."));
  EXPECT_TRUE(TraceCaptureHas(lines, "Failed to get whitespace information of database noquota.vdb"));
  EXPECT_TRUE(TraceCaptureHas(lines, "Found corruption or failover on database mail/x/bad.vdb. State "
                                     "text is Not a database"));
  EXPECT_TRUE(TraceCaptureHas(lines, "View Unbuilt of database mail/a.vdb is in good state."));
  // The views of the bad database are not checked.
  for (const std::string& l : lines) EXPECT_EQ(std::string::npos, l.find("of database mail/x/bad.vdb is in")) << l;
}

TEST_F(CheckCycle, ADatabaseIsBadOnlyWhenEveryAttemptFails) {
  model_.Write("server.json", R"json({"databases": {"once.vdb": {}},
    "faults": {"VxDbOpen": {"status": 513, "fromCall": 1, "count": 14}}})json");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("once.vdb", nullptr));
  EXPECT_EQ(Rows{}, CorruptionRows());
  EXPECT_EQ((Rows{"once.vdb"}), WhitespaceNames());  // good on the 15th attempt, then measured
  EXPECT_EQ(16u, vaxelsim_call_count("VxDbOpen"));

  model_.Write("server.json", R"json({"databases": {"once.vdb": {}},
    "faults": {"VxDbOpen": {"status": 513, "fromCall": 17, "count": 15}}})json");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("once.vdb", nullptr));
  EXPECT_EQ((Rows{"once.vdb|DEFAULT|Not a database|||"}), CorruptionRows());
  EXPECT_EQ((Rows{"once.vdb"}), WhitespaceNames());  // still measured: the 32nd open succeeds
}

TEST_F(CheckCycle, EachPublicationReplacesTheLastAndAnEmptyCycleEmptiesBoth) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {"open": 537}, "b.vdb": {}}})json");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("*", nullptr));
  EXPECT_EQ((Rows{"a.vdb|DEFAULT|Invalid VDB version|||"}), CorruptionRows());
  model_.Write("server.json", R"json({"databases": {"a.vdb": {}, "b.vdb": {}}})json");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("*", nullptr));
  EXPECT_EQ(Rows{}, CorruptionRows());
  EXPECT_EQ((Rows{"a.vdb", "b.vdb"}), WhitespaceNames());
  model_.Write("server.json", R"json({"databases": {"other/c.vdb": {}}})json");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("empty", nullptr));
  EXPECT_EQ(Rows{}, WhitespaceNames());
}

TEST_F(CheckCycle, ShutdownDuringACycleEndsItWithoutPublishing) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {"open": 537}, "b.vdb": {}}})json");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("b.vdb", nullptr));
  qvdShutdown = true;
  TraceCaptureStart("error");
  EXPECT_EQ(DB_CHECK_STOPPED, cycle("*", nullptr));
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("dbhealth/check"),
                              "Shutting down qvdclient and checkDatabase exiting..."));
  EXPECT_EQ((Rows{"b.vdb"}), WhitespaceNames());
  qvdShutdown = false;
  model_.Write("server.json", R"json({"databases": {"a.vdb": {"open": 537}}, "terminate": true})json");
  unsigned long opens = vaxelsim_call_count("VxDbOpen");
  EXPECT_EQ(DB_CHECK_STOPPED, cycle("a.vdb", nullptr));  // the server asks its programs to end
  EXPECT_EQ(opens, vaxelsim_call_count("VxDbOpen"));
}

TEST_F(CheckCycle, DatabasePathsTooLongForTheServerAreLeftOutWithATraceLine) {
  std::string tooLong = "long/" + std::string(300, 'p') + ".vdb";
  std::string withServer = "long/" + std::string(240, 'q') + ".vdb";  // fits alone, not after "server!!"
  model_.Write("server.json", "{\"databases\": {\"long/ok.vdb\": {}, \"" + tooLong + "\": {}, \"" +
                                  withServer + "\": {}}}");
  TraceCaptureStart("error");
  ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("long/*", nullptr));
  EXPECT_EQ(Rows{}, CorruptionRows());
  EXPECT_EQ((Rows{"long/ok.vdb"}), WhitespaceNames());
  auto lines = TraceCaptureLines("dbhealth/");
  ASSERT_EQ(2u, lines.size());
  EXPECT_NE(std::string::npos, lines[0].find("of 309 bytes is not usable; the database is not checked."));
  EXPECT_EQ("Database " + withServer + " is not checked: with the server name its path is longer "
            "than 255 characters.",
            lines[1]);
}

TEST_F(CheckCycle, ReadersSeeEitherTheOldOrTheNewPublicationWhole) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {"open": 513}, "b.vdb": {"open": 513},
                                                  "c.vdb": {"open": 513}}})json");
  std::atomic<bool> done{false};
  std::atomic<int> torn{0};
  std::thread reader([&] {
    while (!done) {
      size_t n = CorruptionRows().size();
      if (n != 0 && n != 3) ++torn;
    }
  });
  for (int i = 0; i < 20; ++i) ASSERT_EQ(DB_CHECK_PUBLISHED, cycle("*", nullptr));
  done = true;
  reader.join();
  EXPECT_EQ(0, torn.load());
}

// The check's pace on a clock of its own: every wait moves the clock on at
// once, so the test sees each pause the collector makes without sleeping.
namespace paced {
std::vector<unsigned> waits;
long now = 0;
long stopAt = 0;  // the agent ends the conversation when the clock gets here
void wait(unsigned seconds) {
  waits.push_back(seconds);
  now += seconds;
  if (now >= stopAt) qvdShutdown = true;
}
long clock() { return now; }
}  // namespace paced

class PacedChecks : public CheckCycle {
 protected:
  void SetUp() override {
    CheckCycle::SetUp();
    paced::waits.clear();
    paced::now = 0;
    // A good database with two views, a bad one, an excluded one.
    model_.Write("server.json", R"json({"databases": {
      "a.vdb": {"views": {"Inbox": {"open": 0}, "Sent": {"open": 0}}},
      "bad.vdb": {"open": 513}, "skip/x.vdb": {}}})json");
    views_.add("a.vdb", "Inbox,Sent");
  }
  // Checks at the collector's own pace (only the wait and the clock are
  // the test's) until the clock reaches stopAt.
  std::vector<std::string> run(int interval, long stopAt) {
    paced::stopAt = stopAt;
    DbCheckPace pace;
    pace.wait = paced::wait;
    pace.clock = paced::clock;
    VeloraConfigParser parser(kServer, "*;skip/x.vdb", "skip");
    TraceCaptureStart("error,dbhealth/check=detail");
    runDatabaseChecks(kServer, &parser, &views_, interval, pace);
    return TraceCaptureLines("dbhealth/check");
  }
  static size_t count(const std::vector<std::string>& lines, const std::string& text) {
    return std::count(lines.begin(), lines.end(), text);
  }
  DbViewsConfigMap views_;
};

// One second after every database and view, fifteen attempts a second
// apart for a bad database: 20 seconds a cycle here.  Then the thread waits
// out the interval in steps of one second before the next cycle begins.
TEST_F(PacedChecks, TheCollectorsPaceAndTheWaitBetweenCycles) {
  auto lines = run(3600, 2 * 3600 + 10);
  EXPECT_EQ(3u, count(lines, "Found 3 databases on Velora server CN=srv1/O=acme"));
  EXPECT_EQ(2u, count(lines, "Checking databases takes 20 seconds."));
  EXPECT_EQ(1u, count(lines, "Shutting down qvdclient and checkDatabase exiting..."));
  // Two cycles of 20 one-second pauses each followed by 3580 one-second
  // waits, and the third cycle's first ten.
  EXPECT_EQ(2u * 3600 + 10, paced::waits.size());
  EXPECT_EQ(paced::waits.size(),
            static_cast<size_t>(std::count(paced::waits.begin(), paced::waits.end(), 1u)));
  EXPECT_EQ((Rows{"bad.vdb|DEFAULT|Not a database|||"}), CorruptionRows());
}

// A cycle longer than the interval is reported, and the next one begins a
// second later.
TEST_F(PacedChecks, ACycleLongerThanTheIntervalIsFollowedAfterOneSecond) {
  auto lines = run(10, 20 + 1 + 20 + 1 + 5);
  EXPECT_EQ(3u, count(lines, "Found 3 databases on Velora server CN=srv1/O=acme"));
  EXPECT_EQ(2u, count(lines, "Checking database takes 20 seconds, more time than the specified "
                             "interval 10 seconds."));
  EXPECT_EQ(20u + 1 + 20 + 1 + 5, paced::waits.size());
}

// A throw-away installation for the transaction-log guard the thread runs
// its runtime start through.
class CheckThread : public CheckCycle {
 protected:
  void SetUp() override {
    CheckCycle::SetUp();
    root_ = model_.dir() + "/install";
    std::string bin = root_ + "/home/linux64/vd/bin";
    ASSERT_EQ(0, system(("mkdir -p '" + bin + "' '" + root_ + "/ini' '" + root_ + "/home/config'").c_str()));
    FILE* f = fopen((bin + "/qvdstart.sh").c_str(), "w");
    ASSERT_NE(nullptr, f);
    fclose(f);
    f = fopen((root_ + "/ini/vaxel.ini").c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs("[Vaxel]\nTRANSLOG_STATUS=1\n", f);
    fclose(f);
    VeloraTransLogChecker::setupEnv((root_ + "/ini").c_str(), (root_ + "/home").c_str(), "linux64");
    server_name = const_cast<char*>(kServer);
    include_ = "*";
    checkDbIncludePath = include_.data();
    checkDbExcludePath = nullptr;
    qvd_check_db_interval = 3600;
  }
  void TearDown() override {
    server_name = nullptr;
    checkDbIncludePath = nullptr;
    qvd_check_db_interval = 0;
    CheckCycle::TearDown();
  }
  std::string root_;
  std::string include_;
};

TEST_F(CheckThread, PublishesItsFirstCycleAndEndsWhenAskedReleasingItsRuntime) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {}}})json");
  ASSERT_EQ(0, startDatabaseCheckThread());
  for (int i = 0; i < 1000 && WhitespaceNames().empty(); ++i) usleep(20 * 1000);
  EXPECT_EQ((Rows{"a.vdb"}), WhitespaceNames());
  stopDatabaseCheckThread();
  EXPECT_EQ(1u, vaxelsim_call_count("VxInitThread"));
  EXPECT_EQ(1u, vaxelsim_call_count("VxTermThread"));
  EXPECT_EQ("[Vaxel]\nTRANSLOG_STATUS=1\n", ReadWholeFile(root_ + "/ini/vaxel.ini"));
  stopDatabaseCheckThread();  // a second stop finds nothing to stop
}

TEST_F(CheckThread, ACycleLongerThanTheIntervalIsReportedAndTheNextOneFollows) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {}, "b.vdb": {}}})json");
  qvd_check_db_interval = 1;  // start-up never allows less than 3600; two databases take 2 seconds
  TraceCaptureStart("error");
  ASSERT_EQ(0, startDatabaseCheckThread());
  std::vector<std::string> lines;
  for (int i = 0; i < 500 && lines.empty(); ++i) {
    usleep(20 * 1000);
    lines = TraceCaptureLines("dbhealth/check");
  }
  for (int i = 0; i < 500 && vaxelsim_call_count("VxDbOpen") < 5; ++i) usleep(20 * 1000);
  stopDatabaseCheckThread();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(0u, lines[0].find("Checking database takes ")) << lines[0];
  EXPECT_NE(std::string::npos, lines[0].find(" seconds, more time than the specified interval 1 seconds."));
  EXPECT_GE(vaxelsim_call_count("VxDbOpen"), 5u);  // the second cycle has begun
}

TEST_F(CheckThread, EndsOnTheAgentsShutdownWithoutPublishingACutCycle) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {}, "b.vdb": {}, "c.vdb": {}}})json");
  pthread_mutex_lock(&checkDBResultMutex);
  dbStatisticsInfoList.removeAll();
  pthread_mutex_unlock(&checkDBResultMutex);
  ASSERT_EQ(0, startDatabaseCheckThread());
  for (int i = 0; i < 500 && vaxelsim_call_count("VxDbOpen") == 0; ++i) usleep(10 * 1000);
  qvdShutdown = true;  // the thread notices at its next pause
  stopDatabaseCheckThread();
  EXPECT_EQ(Rows{}, WhitespaceNames());
  EXPECT_EQ(1u, vaxelsim_call_count("VxTermThread"));
}

TEST_F(CheckThread, AnInitThreadFailureEndsTheThreadAfterTheIniFileIsRestored) {
  model_.Write("server.json", R"json({"databases": {"a.vdb": {}}, "initThread": 421})json");
  TraceCaptureStart("error");
  ASSERT_EQ(0, startDatabaseCheckThread());
  stopDatabaseCheckThread();
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("dbhealth/check"),
                              "Velora VxInitRuntime failed with rc: 421. checkDatabase thread exit..."));
  EXPECT_EQ(0u, vaxelsim_call_count("VxDbOpen"));
  EXPECT_EQ("[Vaxel]\nTRANSLOG_STATUS=1\n", ReadWholeFile(root_ + "/ini/vaxel.ini"));
}

}  // namespace
