// Requests and answers as the agent sees them: every table answered from a
// statistics snapshot, the 30-second snapshot reuse, a failing statistics
// source, requests that get no answer, and the ways the collector ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <regex>
#include <set>
#include <sstream>
#include <thread>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// Column keywords of the overridable statistics tables, as the collector
// lists them in its keyword template at start-up: group -> index -> name
// (the keyword without its tab).
using Keywords = std::map<std::string, std::map<int, std::string>>;

Keywords templateKeywords(const Install& install) {
  Keywords out;
  std::istringstream text(readFile(install.binDir() + "/qvdtbl_" + install.instance() + ".out"));
  std::regex line(R"(^#(\w+)\[(\w+)\]\[(\d+)\]="(.*)\"$)");
  for (std::string l; std::getline(text, l);) {
    std::smatch m;
    if (!std::regex_match(l, m, line)) continue;
    std::string keyword = m[4];
    if (keyword.size() >= 2 && keyword.compare(keyword.size() - 2, 2, "\\t") == 0)
      keyword.resize(keyword.size() - 2);
    out[m[1]][std::stoi(m[3])] = keyword;
  }
  return out;
}

// Multi-row lines: two tasks and two mail destinations.
const char kMultiRowLines[] =
    "Server.Task\tRouter: Idle\n"
    "Server.Task\tReplicator: Waiting\n"
    "MailByDest.mail1.TotalRouted\t5\n"
    "MailByDest.mail1.Delivered\t4\n"
    "MailByDest.mail10.TotalRouted\t7\n"
    "MailByDest.mail10.TotalKBTransferred\t12\n"
    "MVStats.Server.Up\t1\n";

// A statistics text in which every statistic of the single-row tables has
// its own name as its value, so that each column shows which statistic it
// was cut from.
std::string statisticsText(const Keywords& keywords) {
  std::string text;
  std::set<std::string> written;
  for (const auto& [group, columns] : keywords) {
    if (group.rfind("Velora_Mail_By_Dest", 0) == 0) continue;
    for (const auto& [index, name] : columns) {
      // Column 0's keyword marks where the table's statistics begin.
      if (name.empty() || !written.insert(name).second) continue;
      text += name + "\t" + name + "\r\n";
    }
  }
  return text + kMultiRowLines;
}

Session withSimLog(const Install& install, const std::vector<std::string>& script,
                   const std::string& end = "shutdown",
                   const std::vector<std::string>& extra = {}) {
  auto env = install.env();
  env["VAXEL_SIM_LOG"] = install.root() + "/sim.log";
  return runSession(install, env, script, end, extra);
}

// The simulator's last word at exit: no handle may still be held.
void expectNoHandleHeld(const Install& install) {
  std::string log = readFile(install.root() + "/sim.log");
  size_t exitLine = log.rfind("exit handles_held=");
  ASSERT_NE(std::string::npos, exitLine) << "no exit line in the simulator log";
  EXPECT_EQ(0u, log.find("exit handles_held=0 ", exitLine) - exitLine) << log.substr(exitLine);
}

TEST(Tables, EveryTableAnsweredFromOneSnapshot) {
  Install install;
  ASSERT_EQ(30, runSession(install, install.env(), {"registration"}).collectorStatus());
  Keywords keywords = templateKeywords(install);
  ASSERT_EQ(28u, keywords.size());
  install.writeModel("stats.txt", statisticsText(keywords));

  Session s = withSimLog(install, {"request all", "expect all", "request all", "expect all"});
  ASSERT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());

  for (const auto& [group, columns] : keywords) {
    if (group.rfind("Velora_Mail_By_Dest", 0) == 0) continue;
    auto answers = s.answers(group);
    ASSERT_EQ(2u, answers.size()) << group;
    // The first request of the snapshot gets the row ...
    ASSERT_EQ(1u, answers[0]["rows"].size()) << group;
    const Json& row = answers[0]["rows"][0];
    ASSERT_EQ(columns.size(), row.size()) << group;
    EXPECT_EQ("CN=srv1/O=acme", row[0]) << group;
    for (const auto& [index, name] : columns) {
      if (index == 0) continue;
      std::string value = row[index];
      if (group == "Velora_Server64" && index == 15) {
        EXPECT_EQ("0", value) << "response time";  // the simulator answers at once
        continue;
      }
      EXPECT_EQ(name, value) << group << " column " << index;
    }
    // ... and a second request within the snapshot's 30 seconds none.
    EXPECT_EQ(0u, answers[1]["rows"].size()) << group;
  }

  auto tasks = s.answers("Velora_Tasks");
  ASSERT_EQ(2u, tasks.size());
  ASSERT_EQ(2u, tasks[0]["rows"].size());
  std::set<std::string> taskNames;
  for (const Json& row : tasks[0]["rows"]) {
    EXPECT_EQ("CN=srv1/O=acme", row[0]);
    taskNames.insert(row[1].get<std::string>());
  }
  EXPECT_EQ((std::set<std::string>{"Router", "Replicator"}), taskNames);
  EXPECT_EQ(0u, tasks[1]["rows"].size());

  // Both mail-by-destination tables list both destinations.
  for (const char* group : {"Velora_Mail_By_Dest", "Velora_Mail_By_Dest64"}) {
    auto answers = s.answers(group);
    ASSERT_EQ(2u, answers.size()) << group;
    std::set<std::string> destinations;
    for (const Json& row : answers[0]["rows"]) destinations.insert(row[1].get<std::string>());
    EXPECT_EQ((std::set<std::string>{"mail1", "mail10"}), destinations) << group;
    EXPECT_EQ(0u, answers[1]["rows"].size()) << group;
  }

  // The add-in tables are answered (their rows come from the add-in part).
  for (const char* group : {"MV_View_Performance_Statistics", "MV_Replication_Statistics",
                            "MV_Replication_Delay_Statistics", "MV_Mail_Size_Statistics",
                            "MV_Mail_Domain_Statistics", "MV_Mail_Incoming_Statistics",
                            "MV_Mail_Outgoing_Statistics"})
    EXPECT_EQ(2u, s.answers(group).size()) << group;

  // One snapshot served every request.
  std::string log = readFile(install.root() + "/sim.log");
  size_t calls = 0;
  for (size_t p = 0; (p = log.find("\nVxGetServerStats ", p)) != std::string::npos; ++p) ++calls;
  EXPECT_EQ(1u, calls);
  expectNoHandleHeld(install);
}

// Statistics for the single-row tables that the snapshot tests ask for.
const char kLdapStats[] =
    "LDAP.Server.Running\tyes\n"
    "LDAP.Sessions.Inbound.Active\t3\n"
    "Server.Users\t42\n";

TEST(Snapshot, TakenAgainAfterThirtySeconds) {
  Install install;
  const std::string tcpip = "Net.TCPIP.Sessions.Peak\t9\n";
  install.writeModel("stats.txt", std::string(kLdapStats) + tcpip +
                                      "Net.TCPIP.BytesReceived\t1024000\n"
                                      "Net.TCPIP.BytesSent\t2048000\n");
  std::thread traffic([&] {
    // Once the first snapshot has been served, the counters move on.
    for (int i = 0; i < 300; ++i) {
      if (readFile(install.traceFile()).find("handle=Velora_NET_TCPIP64") != std::string::npos) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    install.writeModel("stats.txt", std::string(kLdapStats) + tcpip +
                                        "Net.TCPIP.BytesReceived\t2048000\n"
                                        "Net.TCPIP.BytesSent\t2560000\n");
  });
  Session s = runSession(install, install.env(),
                         {"request Velora_LDAP Velora_NET_TCPIP64", "expect all", "sleep 31",
                          "request Velora_LDAP Velora_NET_TCPIP64", "expect all"});
  traffic.join();
  ASSERT_EQ(0, s.agentsimStatus) << s.problems();
  auto answers = s.answers("Velora_LDAP");
  ASSERT_EQ(2u, answers.size());
  EXPECT_EQ(1u, answers[0]["rows"].size());
  ASSERT_EQ(1u, answers[1]["rows"].size());
  EXPECT_EQ("yes", answers[1]["rows"][0][1]);
  EXPECT_TRUE(s.traced("statistics buffer cache expired at 3"));

  // The kilobytes moved between the two snapshots.
  auto net = s.answers("Velora_NET_TCPIP64");
  ASSERT_EQ(2u, net.size());
  ASSERT_EQ(1u, net[0]["rows"].size());
  EXPECT_EQ("", net[0]["rows"][0][6]);  // no previous snapshot yet
  ASSERT_EQ(1u, net[1]["rows"].size());
  EXPECT_EQ("2048000", net[1]["rows"][0][4]);
  EXPECT_EQ("1000", net[1]["rows"][0][6]);
  EXPECT_EQ("500", net[1]["rows"][0][7]);
}

TEST(Snapshot, FailingSourceIsRetriedByTheNextRequest) {
  Install install;
  install.writeModel("stats.txt", kLdapStats);
  // The first two snapshots fail.
  install.writeModel("server.json", R"({"faults": {"VxGetServerStats": {"status": 549, "count": 2}}})");
  Session s = withSimLog(install, {"request Velora_Server", "expect 1", "request Velora_LDAP",
                                   "expect 1", "request Velora_LDAP", "expect 1"});
  ASSERT_EQ(0, s.agentsimStatus) << s.problems();

  // Without statistics the server table still names the server.
  auto server = s.answers("Velora_Server");
  ASSERT_EQ(1u, server.size());
  ASSERT_EQ(1u, server[0]["rows"].size());
  const Json& row = server[0]["rows"][0];
  EXPECT_EQ("CN=srv1/O=acme", row[0]);
  for (size_t i = 1; i < row.size(); ++i) EXPECT_EQ("", row[i]) << "column " << i;

  auto ldap = s.answers("Velora_LDAP");
  ASSERT_EQ(2u, ldap.size());
  EXPECT_EQ(0u, ldap[0]["rows"].size());  // second failure
  ASSERT_EQ(1u, ldap[1]["rows"].size());  // retried at once
  EXPECT_EQ("yes", ldap[1]["rows"][0][1]);
  EXPECT_TRUE(s.traced("Skipping processing of request, no statistical data found..."));
  expectNoHandleHeld(install);
}

TEST(Requests, SomeGetNoAnswerAndNoneEndsTheConversation) {
  Install install;
  install.writeModel("stats.txt", kLdapStats);
  Session s = withSimLog(install, {
                                      // Event rows only: filed, never answered.
                                      "request MV_Server id=900",
                                      // Notices that need nothing, also for a
                                      // group that was never registered.
                                      "start Velora_Server rsid=7",
                                      "stop Velora_Server rsid=7",
                                      "stop Bogus_Group rsid=8",
                                      "task \"restart\" id=901",
                                      "request Velora_Server id=902",
                                      "expect all",
                                      "expect-none 1.5",
                                  });
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());
  EXPECT_TRUE(s.answer("900").is_null());
  EXPECT_FALSE(s.answer("902").is_null());
  // The collector runs no tasks, and says so instead of leaving the agent
  // waiting.
  auto tasks = s.ofType("task");
  ASSERT_EQ(1u, tasks.size());
  EXPECT_EQ("901", tasks[0]["id"]);
  EXPECT_EQ(-1, tasks[0]["rc"]);
  EXPECT_TRUE(s.traced("waitForRequest received shutdown notification..."));
  expectNoHandleHeld(install);
}

TEST(Requests, BurstsOfRequestsAreAllAnswered) {
  Install install;
  install.writeModel("stats.txt", kLdapStats);
  std::vector<std::string> script;
  for (int round = 0; round < 5; ++round) script.push_back("request all");
  script.push_back("expect all");
  Session s = runSession(install, install.env(), script);
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(5u * 36u, s.ofType("data").size());
  EXPECT_EQ(30, s.collectorStatus());
}

TEST(Shutdown, AgentNoticeOrClosedConnectionEndWith30) {
  Install install;
  Session s = withSimLog(install, {"request Velora_Server", "expect all"}, "shutdown");
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());
  EXPECT_TRUE(s.traced("waitForRequest received shutdown notification..."));
  EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=30 for Velora Server: CN=srv1/O=acme..."));
  expectNoHandleHeld(install);

  s = withSimLog(install, {"request Velora_Server", "expect all"}, "close");
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());
  EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=30 for Velora Server: CN=srv1/O=acme..."));
  expectNoHandleHeld(install);
}

TEST(Shutdown, ServerTerminateRequestEndsWith31) {
  Install install;
  std::thread terminate([&] {
    // Once the collector serves requests, the server asks its programs to end.
    for (int i = 0; i < 300; ++i) {
      if (readFile(install.traceFile()).find("Started wait for request thread") != std::string::npos)
        break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    install.writeModel("terminate", "");
  });
  Session s = withSimLog(install, {"registration"}, "wait");
  terminate.join();
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(31, s.collectorStatus());
  EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=31 for Velora Server: CN=srv1/O=acme..."));
  expectNoHandleHeld(install);
}

}  // namespace
}  // namespace e2e
