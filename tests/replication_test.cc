// The Velora_Replication table of the real collector against modelled log
// and directory databases: hits, misses and manual runs of every schedule
// shape, rows of bad input, and a second request that continues where the
// first one ended.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <set>
#include <thread>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// The clock stands at Sunday 12/06/2026 10:00:00 AM (UTC): the first
// answer covers 12/05 10:00:00 AM to then.
const char kNow[] = "12/06/2026 10:00:00 AM";

Json connection(int id, const char* source, const char* dest, const Json& schedule,
                const char* weekdays, int interval = 0, int enabled = 1) {
  Json items = {{"Form", "Connection"},
                {"Source", source},
                {"Destination", dest},
                {"Enabled", {{"number", enabled}}},
                {"RepTask", {{"number", 1}}},
                {"Schedule", schedule}};
  Json days = Json::array();
  for (const char* d = weekdays; *d; ++d) days.push_back(std::string(1, *d));
  items["WeekDays"] = days;
  if (interval != 0) items["Interval"] = {{"number", interval}};
  return {{"id", id}, {"items", items}};
}

Json replicationDoc(int id, const char* partner, const char* start, const char* finish,
                    const Json& events, const char* body) {
  Json items = {{"Form", "Replication"},
                {"Server", "CN=srv1/O=acme"},
                {"InitiatedBy", "CN=srv1/O=acme"},
                {"SourceServer", partner},
                {"StartTime", {{"time", start}}},
                {"EventList", events},
                {"Body", body}};
  if (finish != nullptr) items["FinishTime"] = {{"time", finish}};
  return {{"id", id}, {"modified", start}, {"items", items}};
}

Json eventsDoc(int id, const Json& lines) {
  return {{"id", id}, {"items", {{"Form", "Events"}, {"EventList", lines}}}};
}

// Connections of every shape, from this server unless said otherwise.
Json connections() {
  Json docs = Json::array();
  docs.push_back(connection(8193, "CN=srv1/O=acme", "CN=srv2/O=acme", "08:00 AM", "1234567"));
  docs.push_back(connection(8194, "CN=srv1/O=acme", "CN=srv3/O=acme", "09:00 AM;01:00 PM", "1234567"));
  docs.push_back(connection(8195, "CN=srv1/O=acme", "CN=srv4/O=acme", "07:00 AM - 10:00 PM", "1234567", 240));
  docs.push_back(connection(8196, "CN=srv1/O=acme", "CN=srv5/O=acme", "10:00 PM - 02:00 AM", "17"));
  docs.push_back(connection(8197, "CN=srv2/O=acme", "CN=srv1/O=acme", "06:00 AM", "1234567"));
  docs.push_back(connection(8198, "CN=srv1/O=acme", "CN=srv6/O=acme", "05:00 AM", "1234567", 0, 0));
  // No Source item: skipped, the others still count.
  docs.push_back({{"id", 8199}, {"items", {{"Destination", "CN=srv8/O=acme"}}}});
  docs.push_back(connection(8200, "CN=srv1/O=acme", "CN=srv7/O=acme", "banana", "1234567"));
  return docs;
}

Json logDocuments(const std::string& longest, const std::string& tooLong) {
  Json docs = Json::array();
  docs.push_back(replicationDoc(4097, "srv2/acme", "12/06/2026 08:00:05 AM", "12/06/2026 08:02:10 AM",
                                {"Pulling mail/a.vdb", "Pushed 3 documents"}, "mail/a.vdb: 3 added"));
  docs.push_back(replicationDoc(4098, "srv4/acme", "12/05/2026 11:02:00 AM", "12/05/2026 11:03:40 AM",
                                {"Pushing mail/b.vdb"}, "mail/b.vdb: 1 added"));
  docs.push_back(replicationDoc(4099, "srv9/acme", "12/05/2026 04:28:00 PM", "12/05/2026 04:29:30 PM",
                                {"short", longest, tooLong}, "mail/c.vdb: 2 added"));
  // More than a day before the period: not even a manual run.
  docs.push_back(replicationDoc(4100, "srv9/acme", "12/03/2026 04:28:00 PM", nullptr, {"old"}, "old"));
  docs.push_back(eventsDoc(4101, {"12/06/2026 09:00:01 AM Starting replication with server srv3/acme",
                                  "12/06/2026 09:00:03 AM Starting replication with server SRV3/acme",
                                  "12/05/2026 10:15:00 PM Starting replication with server srv5/acme",
                                  "12/05/2026 11:00:00 PM Database Server shutdown complete",
                                  std::string(90, '-') + "Starting replication with server srv8/acme"}));
  return docs;
}

Json model(const char* now, const Json& logDocs) {
  Json names;
  names["views"]["$Connections"]["documents"] = {8193, 8194, 8195, 8196, 8197, 8198, 8199, 8200};
  names["documents"] = connections();
  Json m;
  m["clock"]["fixed"] = now;
  m["databases"]["log.vdb"] = {{"modified", now}, {"documents", logDocs}};
  m["databases"]["names.vdb"] = names;
  return m;
}

std::map<std::string, std::string> replicationEnv(const Install& install) {
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "ON";
  env["TZ"] = "UTC";
  env["QVD_TRACE"] = "error,core=detail,stats=detail";
  return env;
}

// "<Server_Name>|<Destination_Server>|<Initiated_By>|<Start_Time>|<End_Time>|
//  <DB_Info>|<Events>|<Hit_Miss>|<Duration>"
std::vector<std::string> rowsOf(const Json& answer) {
  std::vector<std::string> rows;
  for (const Json& row : answer["rows"]) {
    std::string line;
    for (size_t i = 0; i < row.size(); ++i) line += (i ? "|" : "") + row[i].get<std::string>();
    rows.push_back(line);
  }
  return rows;
}

using Rows = std::vector<std::string>;

TEST(Replication, HitsMissesAndManualRunsOfEverySchedule) {
  Install install;
  std::string longest(1023, 'x'), tooLong(1024, 'y');
  install.writeModel("server.json", model(kNow, logDocuments(longest, tooLong)).dump());
  Session s = runSession(install, replicationEnv(install),
                         {"request Velora_Replication", "expect all"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(1u, answers.size()) << s.problems();
  EXPECT_EQ(rowsOf(answers[0]),
            (Rows{
                "srv1/acme|srv4/acme|CN=srv1/O=acme|12/05/2026 11:02:00 AM|12/05/2026 11:03:40 AM|"
                "mail/b.vdb: 1 added;|Pushing mail/b.vdb;|1|100",
                "srv1/acme|srv3/acme|srv1/acme|12/05/2026 01:00:00 PM|12/05/2026 01:00:00 PM|||2|0",
                "srv1/acme|srv4/acme|srv1/acme|12/05/2026 03:03:40 PM|12/05/2026 03:03:40 PM|||2|0",
                // A line of 1023 characters is read but does not fit the
                // column with its ';'; one of 1024 is not read.
                "srv1/acme|srv9/acme|CN=srv1/O=acme|12/05/2026 04:28:00 PM|12/05/2026 04:29:30 PM|"
                "mail/c.vdb: 2 added;|short;|3|90",
                "srv1/acme|srv4/acme|srv1/acme|12/05/2026 07:03:40 PM|12/05/2026 07:03:40 PM|||2|0",
                "srv1/acme|srv5/acme|srv1/acme|12/05/2026 10:15:00 PM |12/05/2026 10:15:00 PM |||1|0",
                "srv1/acme|srv4/acme|srv1/acme|12/06/2026 07:00:00 AM|12/06/2026 07:00:00 AM|||2|0",
                "srv1/acme|srv2/acme|CN=srv1/O=acme|12/06/2026 08:00:05 AM|12/06/2026 08:02:10 AM|"
                "mail/a.vdb: 3 added;|Pulling mail/a.vdb;Pushed 3 documents;|1|125",
                "srv1/acme|srv3/acme|srv1/acme|12/06/2026 09:00:01 AM |12/06/2026 09:00:01 AM |||1|0",
            }));
  std::string trace = readFile(install.traceFile());
  (void)trace;
}

TEST(Replication, SecondAnswerContinuesWhereTheFirstEnded) {
  Install install;
  Json docs = logDocuments("a", "b");
  install.writeModel("server.json", model(kNow, docs).dump());
  // Once the first answer is out, the clock moves on to 2 PM and a
  // replication with srv3 at 1 PM is logged.
  std::thread later([&] {
    for (int i = 0; i < 300; ++i) {
      if (readFile(install.traceFile()).find("Data results for Velora_Replication") != std::string::npos) {
        Json more = docs;
        more.push_back(replicationDoc(4200, "srv3/acme", "12/06/2026 01:00:30 PM",
                                      "12/06/2026 01:01:00 PM", {"Pulling x.vdb"}, "x.vdb"));
        install.writeModel("server.json", model("12/06/2026 02:00:00 PM", more).dump());
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  });
  Session s = runSession(install, replicationEnv(install),
                         {"request Velora_Replication", "expect all", "sleep 2",
                          "request Velora_Replication", "expect all"});
  later.join();
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(2u, answers.size()) << s.problems();
  EXPECT_EQ(9u, answers[0]["rows"].size());
  // From just after 12/06 09:00:01 AM to 2 PM: nothing of the first answer
  // again, the repeated range's 11 AM slot missed, the 1 PM slot hit.
  EXPECT_EQ(rowsOf(answers[1]),
            (Rows{"srv1/acme|srv4/acme|srv1/acme|12/06/2026 11:00:00 AM|12/06/2026 11:00:00 AM|||2|0",
                  "srv1/acme|srv3/acme|CN=srv1/O=acme|12/06/2026 01:00:30 PM|12/06/2026 01:01:00 PM|"
                  "x.vdb;|Pulling x.vdb;|1|30"}));
}

TEST(Replication, NoConnectionsAnswersWithoutRows) {
  Install install;
  Json m;
  m["clock"]["fixed"] = kNow;
  m["databases"]["log.vdb"]["documents"] = Json::array();
  m["databases"]["names.vdb"]["views"]["$Connections"] = Json::object();
  install.writeModel("server.json", m.dump());
  auto env = replicationEnv(install);
  env["QVD_TRACE"] = "error";
  Session s = runSession(install, env, {"request Velora_Replication", "expect all"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(1u, answers.size()) << s.problems();
  EXPECT_EQ(0u, answers[0]["rows"].size());
  EXPECT_TRUE(s.traced("could not get replication schedule")) << s.trace;
}

// Replaces the model's server.json whole (a reader never sees half of it).
void replaceModel(const Install& install, const Json& model) {
  install.writeModel("server.json.new", model.dump());
  std::string dir = install.modelDir();
  ASSERT_EQ(0, rename((dir + "/server.json.new").c_str(), (dir + "/server.json").c_str()));
}

// Velora_Replication requests one after another, two seconds apart: the
// model is models[0] at first and models[k] once the k-th answer has been
// built (the collector traces each answer's end at detail level).
Session requestsOverModels(const Install& install, std::map<std::string, std::string> env,
                           const std::vector<Json>& models, int requests) {
  replaceModel(install, models[0]);
  env["QVD_TRACE"] = "error,core/replication=detail";
  std::atomic<bool> done{false};
  std::thread switcher([&] {
    size_t shown = 1;
    while (!done && shown < models.size()) {
      std::string trace = readFile(install.traceFile());
      size_t built = 0;
      for (size_t p = trace.find("Velora_Replication answer of "); p != std::string::npos;
           p = trace.find("Velora_Replication answer of ", p + 1))
        ++built;
      for (; shown <= built && shown < models.size(); ++shown) replaceModel(install, models[shown]);
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  std::vector<std::string> script;
  for (int i = 0; i < requests; ++i)
    script.insert(script.end(), {"request Velora_Replication", "expect all", "sleep 2"});
  Session s = runSession(install, env, script);
  done = true;
  switcher.join();
  return s;
}

// Connections to srv2 and srv3 at 08:00 every day, a log as given.
Json boundaryModel(const char* now, const Json& logDocs) {
  Json names;
  names["views"]["$Connections"]["documents"] = {8193, 8194};
  names["documents"] = {connection(8193, "CN=srv1/O=acme", "CN=srv2/O=acme", "08:00 AM", "1234567"),
                        connection(8194, "CN=srv1/O=acme", "CN=srv3/O=acme", "08:00 AM", "1234567")};
  Json m;
  m["clock"]["fixed"] = now;
  m["databases"]["log.vdb"] = {{"modified", now}, {"documents", logDocs}};
  m["databases"]["names.vdb"] = names;
  return m;
}

// The next answer takes up at the end of the last row reported: a
// replication logged later that started in that very second is reported,
// while the rows of that second reported already are not repeated.
TEST(Replication, ARunLoggedLaterAtTheLastReportedSecondIsNotLost) {
  for (const char* start : {"12/06/2026 08:00:00 AM", "12/06/2026 08:00:01 AM"}) {
    SCOPED_TRACE(start);
    Install install;
    Json run = Json::array({replicationDoc(4097, "srv2/acme", start, "12/06/2026 08:00:20 AM",
                                           {"Pulling a.vdb"}, "a.vdb")});
    Session s = requestsOverModels(install, replicationEnv(install),
                                   {boundaryModel("12/06/2026 08:00:30 AM", Json::array()),
                                    boundaryModel("12/06/2026 08:01:00 AM", run)},
                                   3);
    ASSERT_EQ(30, s.collectorStatus()) << s.problems();
    auto answers = s.answers("Velora_Replication");
    ASSERT_EQ(3u, answers.size()) << s.problems();
    EXPECT_EQ(rowsOf(answers[0]),
              (Rows{"srv1/acme|srv2/acme|srv1/acme|12/06/2026 08:00:00 AM|12/06/2026 08:00:00 AM|||2|0",
                    "srv1/acme|srv3/acme|srv1/acme|12/06/2026 08:00:00 AM|12/06/2026 08:00:00 AM|||2|0"}));
    std::string seconds = std::string(start) == "12/06/2026 08:00:00 AM" ? "20" : "19";
    EXPECT_EQ(rowsOf(answers[1]),
              (Rows{std::string("srv1/acme|srv2/acme|CN=srv1/O=acme|") + start +
                    "|12/06/2026 08:00:20 AM|a.vdb;|Pulling a.vdb;|1|" + seconds}));
    EXPECT_EQ(rowsOf(answers[2]), Rows{});
  }
}

// A log not written since the period began fails the request: no rows,
// and the next request analyses the same period once the log is written.
TEST(Replication, ALogNotWrittenSinceThePeriodBeganLeavesTheStartWhereItWas) {
  Install install;
  Json stale = boundaryModel(kNow, Json::array());
  stale["databases"]["log.vdb"]["modified"] = "12/01/2026 10:00:00 AM";
  Json written = boundaryModel(kNow, Json::array({replicationDoc(4097, "srv2/acme", "12/06/2026 08:00:05 AM",
                                                                 "12/06/2026 08:02:10 AM", {"Pull"}, "a.vdb")}));
  Session s = requestsOverModels(install, replicationEnv(install), {stale, written}, 2);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(2u, answers.size()) << s.problems();
  EXPECT_EQ(rowsOf(answers[0]), Rows{});
  EXPECT_TRUE(s.traced("SearchVaxel:Could not open log.vdb file because the file was not modified "
                       "passed the date specified."));
  EXPECT_EQ(rowsOf(answers[1]),
            (Rows{"srv1/acme|srv3/acme|srv1/acme|12/06/2026 08:00:00 AM|12/06/2026 08:00:00 AM|||2|0",
                  "srv1/acme|srv2/acme|CN=srv1/O=acme|12/06/2026 08:00:05 AM|12/06/2026 08:02:10 AM|"
                  "a.vdb;|Pull;|1|125"}));
}

// Times logged with hundredths: the row's texts show whole seconds, and its
// duration and the windows are judged on those texts.
TEST(Replication, HundredthsOfLoggedTimesDoNotCount) {
  Install install;
  Json names;
  names["views"]["$Connections"]["documents"] = {8193, 8194};
  names["documents"] = {connection(8193, "CN=srv1/O=acme", "CN=srv2/O=acme", "08:00 AM", "1234567"),
                        connection(8194, "CN=srv1/O=acme", "CN=srv3/O=acme", "08:00 AM - 09:00 AM", "1234567")};
  Json m;
  m["clock"]["fixed"] = kNow;
  m["databases"]["names.vdb"] = names;
  m["databases"]["log.vdb"] = {
      {"modified", kNow},
      {"documents", {replicationDoc(4097, "srv2/acme", "12/06/2026 08:00:05.90 AM", "12/06/2026 08:02:10.10 AM",
                                    {"Pull"}, "a.vdb"),
                     // At the end of the range by its text: the range's hit.
                     replicationDoc(4098, "srv3/acme", "12/06/2026 09:00:00.50 AM", "12/06/2026 09:00:30 AM",
                                    {"Pull"}, "b.vdb")}}};
  replaceModel(install, m);
  Session s = runSession(install, replicationEnv(install), {"request Velora_Replication", "expect all"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(1u, answers.size()) << s.problems();
  EXPECT_EQ(rowsOf(answers[0]),
            (Rows{"srv1/acme|srv2/acme|CN=srv1/O=acme|12/06/2026 08:00:05 AM|12/06/2026 08:02:10 AM|"
                  "a.vdb;|Pull;|1|125",
                  "srv1/acme|srv3/acme|CN=srv1/O=acme|12/06/2026 09:00:00 AM|12/06/2026 09:00:30 AM|"
                  "b.vdb;|Pull;|1|30"}));
}

// While one statistics snapshot lasts, only the first request gets rows.
TEST(Replication, ASecondRequestWithinOneSnapshotAnswersWithoutRows) {
  Install install;
  install.writeModel("stats.txt", "Server.Users\t12\n");
  replaceModel(install, model(kNow, logDocuments("a", "b")));
  Session s = runSession(install, replicationEnv(install),
                         {"request Velora_Replication", "expect all", "request Velora_Replication",
                          "expect all"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(2u, answers.size()) << s.problems();
  EXPECT_EQ(9u, answers[0]["rows"].size());
  EXPECT_EQ(0u, answers[1]["rows"].size());
}

// An exclude string that does not fit the 255 characters of the option is
// left out with a trace line, never cut into a shorter string that would
// drop other lines.
TEST(Replication, AnOverlongExcludeOptionLeavesOutTheStringThatDoesNotFit) {
  Install install;
  replaceModel(install, model(kNow, logDocuments("a", "b")));
  auto env = replicationEnv(install);
  env["QVD_LOG_EXCLUDE"] = std::string(250, 'z') + ";Pushing";
  Session s = runSession(install, env, {"request Velora_Replication", "expect all"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(1u, answers.size()) << s.problems();
  auto rows = rowsOf(answers[0]);
  EXPECT_NE(std::find(rows.begin(), rows.end(),
                      "srv1/acme|srv2/acme|CN=srv1/O=acme|12/06/2026 08:00:05 AM|12/06/2026 08:02:10 AM|"
                      "mail/a.vdb: 3 added;|Pulling mail/a.vdb;Pushed 3 documents;|1|125"),
            rows.end())
      << answers[0].dump();
  EXPECT_TRUE(s.traced("QVD_LOG_EXCLUDE is longer than 255 characters: the string |Pushing| does "
                       "not fit with those before it and is left out"));
}

// The rows of one answer are bounded; the next answer goes on where the
// last one stopped, losing and repeating nothing.
TEST(Replication, ALongPeriodIsAnsweredInBoundedPiecesWithoutLossOrRepeat) {
  Install install;
  // 15 connections with a slot every minute, nothing logged: 1439 misses
  // each in the day before the clock, 21585 in all.
  Json names;
  Json docs = Json::array();
  for (int i = 0; i < 15; ++i) {
    std::string dest = "CN=p" + std::to_string(i) + "/O=acme";
    docs.push_back(connection(8193 + i, "CN=srv1/O=acme", dest.c_str(), "12:00 AM - 11:59 PM", "1234567", 1));
    names["views"]["$Connections"]["documents"].push_back(8193 + i);
  }
  names["documents"] = docs;
  Json m;
  m["clock"]["fixed"] = kNow;
  m["databases"]["names.vdb"] = names;
  m["databases"]["log.vdb"] = {{"modified", kNow}, {"documents", Json::array()}};
  replaceModel(install, m);
  auto env = replicationEnv(install);
  env["QVD_TRACE"] = "error";
  Session s = runSession(install, env,
                         {"request Velora_Replication", "expect all 120", "sleep 1",
                          "request Velora_Replication", "expect all 120", "sleep 1",
                          "request Velora_Replication", "expect all 120"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(3u, answers.size()) << s.problems();
  EXPECT_EQ(20000u, answers[0]["rows"].size());
  EXPECT_EQ(1585u, answers[1]["rows"].size());
  EXPECT_EQ(0u, answers[2]["rows"].size());
  std::set<std::string> seen;
  std::string lastOfFirst = answers[0]["rows"].back()[3];
  for (int a = 0; a < 2; ++a)
    for (const Json& row : answers[a]["rows"]) {
      EXPECT_TRUE(seen.insert(row[1].get<std::string>() + " " + row[3].get<std::string>()).second)
          << "repeated: " << row.dump();
      EXPECT_EQ("2", row[7]);
    }
  EXPECT_EQ(21585u, seen.size());
  // The second answer starts in the second where the first one stopped.
  EXPECT_EQ(lastOfFirst, answers[1]["rows"][0][3]);
}

// An answer also stays within its bytes on the agent link: rows whose
// texts are long and full of characters to escape make it stop before its
// row count, and the next answer carries the rest.
TEST(Replication, AnAnswerOfLongRowsStopsAtItsSizeAndTheNextCarriesTheRest) {
  Install install;
  Json names;
  names["views"]["$Connections"]["documents"] = {8193};
  names["documents"] = {connection(8193, "CN=srv1/O=acme", "CN=srv2/O=acme", "08:00 AM", "1234567")};
  std::string heavy(1000, '&');
  Json docs = Json::array();
  const int kRuns = 1500;
  for (int i = 0; i < kRuns; ++i) {
    char start[40];
    snprintf(start, sizeof start, "12/06/2026 %02d:%02d:%02d AM", 1 + i / 360, (i / 6) % 60, (i % 6) * 10);
    docs.push_back(replicationDoc(5000 + i, "srv9/acme", start, start, {heavy}, heavy.c_str()));
  }
  Json m;
  m["clock"]["fixed"] = kNow;
  m["databases"]["names.vdb"] = names;
  m["databases"]["log.vdb"] = {{"modified", kNow}, {"documents", docs}};
  replaceModel(install, m);
  auto env = replicationEnv(install);
  env["QVD_TRACE"] = "error";
  Session s = runSession(install, env,
                         {"request Velora_Replication", "expect all 120", "sleep 1",
                          "request Velora_Replication", "expect all 120"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  auto answers = s.answers("Velora_Replication");
  ASSERT_EQ(2u, answers.size()) << s.problems();
  size_t first = answers[0]["rows"].size(), second = answers[1]["rows"].size();
  // 1500 manual runs and the 08:00 AM miss.
  EXPECT_EQ(size_t(kRuns) + 1, first + second);
  EXPECT_GT(first, 1000u);
  EXPECT_GT(second, 0u);
  EXPECT_EQ(std::string(heavy) + ";", answers[1]["rows"][0][6]);
}

}  // namespace
}  // namespace e2e
