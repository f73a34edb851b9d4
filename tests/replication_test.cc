// The Velora_Replication table of the real collector against modelled log
// and directory databases: hits, misses and manual runs of every schedule
// shape, rows of bad input, and a second request that continues where the
// first one ended.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
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

}  // namespace
}  // namespace e2e
