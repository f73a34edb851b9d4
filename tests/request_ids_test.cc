// Request ids as the agent sees them: an id reused while its request is
// outstanding, ids reused as soon as they are answered or released, and
// ids, groups and subnodes that must go back out escaped.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

const char kStats[] =
    "LDAP.Server.Running\tyes\n"
    "Server.Users\t42\n";

std::string dataRequest(const std::string& id, const std::string& group) {
  return "<dataRequest id=\"" + id + "\"><attrGroup name=\"" + group + "\"/></dataRequest>";
}

// `text` as one quoted word of a script line.
std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Every data answer with id `id`.
std::vector<Json> answersWithId(const Session& s, const std::string& id) {
  std::vector<Json> out;
  for (const Json& e : s.ofType("data"))
    if (e["id"] == id) out.push_back(e);
  return out;
}

TEST(Ids, ReusedWhileOutstandingIsSkippedAndEveryAnswerNamesItsOwnGroup) {
  Install install;
  install.writeModel("stats.txt", kStats);
  // Read in one go: the second request for id 7 (another group) and the
  // task request reusing id 8 arrive while the first ones are outstanding.
  Session s = runSession(install, install.env(),
                         {"burst " + quoted(dataRequest("7", "Velora_LDAP")) + " " +
                              quoted(dataRequest("7", "Velora_Agent")) + " " + quoted(dataRequest("8", "Velora_Server")) +
                              " " + quoted("<taskRequest id=\"8\"><task command=\"x\"/></taskRequest>"),
                          "expect 2", "expect-none 1.5"});
  EXPECT_EQ(30, s.collectorStatus());
  EXPECT_TRUE(s.ofType("violation").empty()) << s.problems();
  std::vector<Json> seven = answersWithId(s, "7");
  ASSERT_EQ(1u, seven.size()) << s.problems();
  EXPECT_EQ("Velora_LDAP", seven[0]["group"]);
  ASSERT_EQ(1u, seven[0]["rows"].size());
  EXPECT_EQ(17u, seven[0]["rows"][0].size());
  EXPECT_EQ("yes", seven[0]["rows"][0][1]);
  std::vector<Json> eight = answersWithId(s, "8");
  ASSERT_EQ(1u, eight.size());
  EXPECT_EQ("Velora_Server", eight[0]["group"]);
  EXPECT_TRUE(s.ofType("task").empty());
  EXPECT_TRUE(s.traced("Request id 7 is already outstanding, request skipped"));
  EXPECT_TRUE(s.traced("Request id 8 is already outstanding, request skipped"));
}

TEST(Ids, ReusedAsSoonAsAnsweredOrReleasedIsTakenAsANewRequest) {
  Install install;
  install.writeModel("stats.txt", kStats);
  std::vector<std::string> script;
  // An MV_Server request gets no answer but is released: its id is free
  // again once a later request has been answered.
  script.push_back("request MV_Server id=900");
  script.push_back("request Velora_Server id=901");
  script.push_back("expect 1");
  script.push_back("request Velora_LDAP id=900");
  script.push_back("expect 1");
  // The agent reuses one id the moment it has the answer, again and again.
  for (int i = 0; i < 100; ++i) {
    script.push_back(i % 2 ? "request Velora_LDAP id=5" : "request Velora_Server id=5");
    script.push_back("expect 1");
  }
  Session s = runSession(install, install.env(), script);
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());
  std::vector<Json> reused = answersWithId(s, "900");
  ASSERT_EQ(1u, reused.size());
  EXPECT_EQ("Velora_LDAP", reused[0]["group"]);
  EXPECT_EQ(100u, answersWithId(s, "5").size());
  EXPECT_FALSE(s.traced("already outstanding")) << s.trace;
}

TEST(Ids, EchoedIdsStayOneWellFormedLine) {
  Install install;
  install.writeModel("stats.txt", kStats);
  Session s = runSession(install, install.env(),
                         {"raw <dataRequest id=\"x&#10;y\"><attrGroup name=\"Velora_LDAP\"/></dataRequest>",
                          "request Velora_Server id=a\"b<c>&'d", "task restart id=t<&>\"'", "expect all"});
  EXPECT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());
  std::vector<Json> lf = answersWithId(s, "x\ny");
  ASSERT_EQ(1u, lf.size());
  EXPECT_EQ("Velora_LDAP", lf[0]["group"]);
  std::string raw = lf[0]["raw"];
  EXPECT_EQ(0u, raw.find("<dataResponse id=\"x&#10;y\"><attrGroup name=\"Velora_LDAP\">")) << raw;
  std::vector<Json> quoted = answersWithId(s, "a\"b<c>&'d");
  ASSERT_EQ(1u, quoted.size());
  EXPECT_EQ("Velora_Server", quoted[0]["group"]);
  auto tasks = s.ofType("task");
  ASSERT_EQ(1u, tasks.size());
  EXPECT_EQ("t<&>\"'", tasks[0]["id"]);
}

}  // namespace
}  // namespace e2e
