// Requests are answered while the availability check waits for a slow
// cluster member: the check runs on a thread of its own, keeps its results
// (status file, trace), stops cleanly at shutdown, and falls back to the
// dispatch thread when its thread cannot start the server runtime.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// A cluster whose member CN=slow/O=acme answers after `delayMs`.
std::string slowCluster(int delayMs, const std::string& extra = "") {
  return R"({"servers": {"CN=slow/O=acme": {"ping": 0, "delayMs": )" + std::to_string(delayMs) +
         R"(}, "CN=down/O=acme": 2566}, "cluster": {"name": "c1", "members": ["CN=slow/O=acme", "CN=down/O=acme"]})" +
         extra + "}";
}

// `n` requests for Velora_Server, one after another: each is one pass of the
// dispatch loop, so 35 of them make the loop due for a check.
std::vector<std::string> requests(int n) {
  std::vector<std::string> script = {"registration"};
  for (int i = 0; i < n; ++i) {
    script.push_back("request Velora_Server");
    script.push_back("expect 1");
  }
  return script;
}

// Positions of every occurrence of `text` in the trace.
std::vector<size_t> all(const Session& s, const std::string& text) {
  std::vector<size_t> at;
  for (size_t p = s.trace.find(text); p != std::string::npos; p = s.trace.find(text, p + 1))
    at.push_back(p);
  return at;
}

TEST(SlowMember, RequestsAreAnsweredWhileItsPingIsUnderway) {
  Install install;
  install.writeModel("server.json", slowCluster(3000));
  // 40 requests make the loop start a check; the next five come while it
  // waits for the slow member.
  std::vector<std::string> script = requests(40);
  script.push_back("sleep 0.5");
  for (int i = 0; i < 5; ++i) script.insert(script.end(), {"request Velora_Server", "expect 1"});
  script.push_back("sleep 4");  // the check in progress completes
  Session s = runSession(install, install.env(), script);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(45u, s.answers("Velora_Server").size());
  EXPECT_TRUE(s.traced("Started availability monitor thread"));

  // Start-up's check, then one from the loop.
  std::vector<size_t> pings = all(s, "Calling API to ping server CN=slow/O=acme.");
  std::vector<size_t> times = all(s, "Server CN=slow/O=acme response time in seconds");
  ASSERT_EQ(2u, pings.size()) << s.trace;
  ASSERT_EQ(2u, times.size());
  // While the loop's ping of the slow member was underway, requests were
  // taken and answered.
  std::vector<size_t> answered = all(s, "Main(CN=srv1/O=acme) received request");
  size_t during = 0;
  for (size_t a : answered)
    if (a > pings[1] && a < times[1]) ++during;
  EXPECT_GE(during, 5u) << s.trace;
  // The check still ends with the status file: one member of two answers.
  EXPECT_EQ(2u, all(s, "Writing server status:0, cluster status:8").size());
  EXPECT_EQ("0\n8\n", readFile(install.statusFile()));
}

TEST(SlowMember, ShutdownEndsTheCheckAfterThePingAtHand) {
  Install install;
  install.writeModel("server.json", slowCluster(3000));
  // The agent ends the conversation while the loop's check waits for the
  // slow member.
  Session s = runSession(install, install.env(), requests(40));
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  std::vector<size_t> pings = all(s, "Calling API to ping server CN=slow/O=acme.");
  ASSERT_EQ(2u, pings.size()) << s.trace;
  // The member after the slow one is not pinged again, and the half-done
  // run writes no status file: the file keeps start-up's complete result.
  EXPECT_EQ(1u, all(s, "Calling API to ping server CN=down/O=acme.").size());
  EXPECT_EQ(1u, all(s, "Writing server status:").size());
  EXPECT_EQ("0\n8\n", readFile(install.statusFile()));
  // The server runtime ends only after the ping returned.
  size_t pingDone = s.trace.rfind("Server CN=slow/O=acme response time in seconds");
  size_t term = s.trace.find("calling VxTermRuntime...");
  ASSERT_NE(std::string::npos, term);
  EXPECT_LT(pingDone, term);
}

TEST(SlowMember, ChecksRunOnTheDispatchThreadWhenTheMonitorCannotStart) {
  Install install;
  install.writeModel("server.json", slowCluster(0, R"(, "initThread": 421)"));
  Session s = runSession(install, install.env(), requests(40));
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("availability monitor: VxInitThread failed with rc: 421"));
  EXPECT_TRUE(s.traced("availability monitor: the dispatch loop runs the availability checks itself"));
  EXPECT_EQ(40u, s.answers("Velora_Server").size());
  // Start-up's check and the loop's.
  EXPECT_EQ(2u, all(s, "Writing server status:0, cluster status:8").size()) << s.trace;
}

// Requests for the replication and group-update tables, each table three
// times, among requests for another table.
Session slowTables(const Install& install, const std::string& model) {
  install.writeModel("server.json", model);
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "on";
  env["QVD_VELORA_GROUP_MONITOR"] = "ON";
  std::vector<std::string> script = {"registration"};
  for (int round = 0; round < 3; ++round) {
    script.push_back("request Velora_Replication Velora_Group_Updates Velora_Server");
    script.push_back("expect all");
  }
  return runSession(install, env, script);
}

// The ids of the answers for `group`, in the order they arrived.
std::vector<std::string> answerIds(const Session& s, const std::string& group) {
  std::vector<std::string> ids;
  for (const Json& a : s.answers(group)) ids.push_back(a["id"].get<std::string>());
  return ids;
}

TEST(SlowTables, AnsweredInOrderByAWorkerOfTheirOwn) {
  Install install;
  Session s = slowTables(install, "{}");
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ((std::vector<std::string>{"1", "4", "7"}), answerIds(s, "Velora_Replication"));
  EXPECT_EQ((std::vector<std::string>{"2", "5", "8"}), answerIds(s, "Velora_Group_Updates"));
  EXPECT_EQ(3u, s.answers("Velora_Server").size());
  // One worker per table, started with its first request.
  EXPECT_EQ(2u, all(s, "Started worker thread").size());
  for (const char* table : {"Velora_Replication", "Velora_Group_Updates"}) {
    EXPECT_EQ(1u, all(s, std::string(" for ") + table + "\n").size()) << table;
    EXPECT_EQ(3u, all(s, std::string(" for ") + table + " handed to its worker").size()) << table;
  }
}

TEST(SlowTables, AnsweredByTheLoopWhenTheirWorkerCannotStart) {
  Install install;
  Session s = slowTables(install, R"({"initThread": 421})");
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("worker of Velora_Replication: VxInitThread failed with rc: 421"));
  EXPECT_TRUE(s.traced("worker of Velora_Replication: the dispatch loop answers Velora_Replication itself"));
  EXPECT_FALSE(s.traced("handed to its worker"));
  EXPECT_EQ((std::vector<std::string>{"1", "4", "7"}), answerIds(s, "Velora_Replication"));
  EXPECT_EQ((std::vector<std::string>{"2", "5", "8"}), answerIds(s, "Velora_Group_Updates"));
  // The worker is tried once per table, not once per request.
  EXPECT_EQ(2u, all(s, "Started worker thread").size());
}

}  // namespace
}  // namespace e2e
