// Group updates of the real collector: the first snapshot at start-up,
// additions and deletions reported once across requests while the
// directory changes, and an unreadable directory keeping the snapshot.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

const char kServer[] = "CN=srv1/O=acme";

// server.json with these groups (and hundreds of others around them).
std::string model(const std::vector<std::string>& groups, const std::string& extra = "") {
  std::string json = R"({"directory": {"groups": [)";
  for (int i = 0; i < 300; ++i) json += "\"Team" + std::to_string(i) + "\",";
  for (const std::string& g : groups) json += "\"" + g + "\",";
  json.pop_back();
  return json + "]}" + extra + "}";
}

// Replaces the model whole, as the server changing under the collector.
void replaceModel(const Install& install, const std::string& content) {
  std::string tmp = install.modelDir() + "/.server.json.tmp";
  FILE* f = fopen(tmp.c_str(), "w");
  fputs(content.c_str(), f);
  fclose(f);
  rename(tmp.c_str(), (install.modelDir() + "/server.json").c_str());
}

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// Waits until the collector has answered `n` group requests.
bool waitForAnswers(const Install& install, size_t n) {
  for (int i = 0; i < 400; ++i) {
    if (count(readFile(install.traceFile()), "Velora group updates on server") >= n) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

TEST(GroupUpdatesE2E, AdditionsAndDeletionsAreReportedOnceAcrossRequests) {
  Install install;
  install.writeModel("server.json", model({"A", "B", "C"}));
  auto env = install.env();
  env["QVD_TRACE"] = "error,core=detail,dbhealth=detail";
  env["QVD_VELORA_GROUP_MONITOR"] = "on";
  env["VAXEL_SIM_LOG"] = install.root() + "/sim.log";
  std::vector<std::string> script = {"registration"};
  for (int i = 0; i < 4; ++i) {
    if (i > 0) script.push_back("sleep 3");
    script.push_back("request Velora_Group_Updates");
    script.push_back("expect all");
  }
  Session session;
  std::thread agent([&] { session = runSession(install, env, script); });
  ASSERT_TRUE(waitForAnswers(install, 1));
  replaceModel(install, model({"B", "C", "D"}));
  ASSERT_TRUE(waitForAnswers(install, 2));
  replaceModel(install, model({"B", "C", "D", "E"}, R"(, "faults": {"VxDirLookup": 1234})"));
  ASSERT_TRUE(waitForAnswers(install, 3));
  replaceModel(install, model({"B", "C", "D", "E"}));
  agent.join();

  EXPECT_EQ(30, session.collectorStatus()) << session.problems();
  EXPECT_EQ(0, session.agentsimStatus) << session.problems();
  auto answers = session.answers("Velora_Group_Updates");
  ASSERT_EQ(4u, answers.size()) << session.problems();
  using Row = std::vector<std::string>;
  EXPECT_EQ(Json::array(), answers[0]["rows"]);  // nothing changed since start-up
  EXPECT_EQ(Json::array({Row{kServer, "D", "Add"}, Row{kServer, "A", "Delete"}}), answers[1]["rows"]);
  EXPECT_EQ(Json::array(), answers[2]["rows"]);  // the directory could not be read
  EXPECT_EQ(Json::array({Row{kServer, "E", "Add"}}), answers[3]["rows"]);
  EXPECT_TRUE(session.traced("Fail to lookup directories. Error message is "));
  EXPECT_NE(std::string::npos, readFile(install.root() + "/sim.log").find("exit handles_held=0 "));
}

}  // namespace
}  // namespace e2e
