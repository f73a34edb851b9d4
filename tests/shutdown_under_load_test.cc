// The collector ends cleanly while requests keep arriving: when the server
// asks its programs to end (status 31) and when the agent ends the
// conversation (status 30), over and over, with no crash and no server
// handle left behind.
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

const char kStats[] =
    "LDAP.Server.Running\tyes\n"
    "Server.Users\t42\n";

// Requests for every table, `rounds` times, as fast as the collector takes
// them and without waiting for answers: the intake thread never runs out of
// requests to file.
std::vector<std::string> steadyFlow(int rounds) {
  std::vector<std::string> script = {"registration"};
  for (int i = 0; i < rounds; ++i) script.push_back("request all");
  return script;
}

// The simulator's last line: the process exited holding no server handle.
std::string simulatorExit(const Install& install) {
  std::string log = readFile(install.root() + "/sim.log");
  size_t exitLine = log.rfind("exit handles_held=");
  if (exitLine == std::string::npos) return "(no exit line)";
  size_t end = log.find_first_of(" \n", exitLine + 5);
  return log.substr(exitLine, end == std::string::npos ? std::string::npos : end - exitLine);
}

// The collector's exit as agentsim saw it (status or signal), for failure
// messages.
std::string exitEvent(const Session& s) {
  auto exits = s.ofType("exit");
  return exits.empty() ? "(no exit)" : exits.back().dump();
}

Session runWithSimLog(const Install& install, const std::vector<std::string>& script, const std::string& end) {
  auto env = install.env();
  env["VAXEL_SIM_LOG"] = install.root() + "/sim.log";
  return runSession(install, env, script, end);
}

TEST(ShutdownUnderLoad, ServerTerminateRequestAlwaysEndsWith31) {
  std::mt19937 random(20261207);
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    Install install;
    install.writeModel("stats.txt", kStats);
    int delayMs = std::uniform_int_distribution<int>(0, 150)(random);
    std::thread terminate([&] {
      // Once requests flow, the server asks its programs to end.
      for (int i = 0; i < 300; ++i) {
        if (readFile(install.traceFile()).find("saving request in hash table") != std::string::npos) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
      install.writeModel("terminate", "");
    });
    Session s = runWithSimLog(install, steadyFlow(500), "wait");
    terminate.join();
    EXPECT_EQ(31, s.collectorStatus()) << exitEvent(s);
    EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=31 for Velora Server: CN=srv1/O=acme..."));
    EXPECT_TRUE(s.ofType("violation").empty()) << exitEvent(s);
    EXPECT_EQ("exit handles_held=0", simulatorExit(install));
  }
}

TEST(ShutdownUnderLoad, AgentEndingTheConversationAlwaysEndsWith30) {
  for (const char* end : {"shutdown", "close"}) {
    for (int round = 0; round < 4; ++round) {
      SCOPED_TRACE(std::string(end) + " round " + std::to_string(round));
      Install install;
      install.writeModel("stats.txt", kStats);
      Session s = runWithSimLog(install, steadyFlow(10 + 20 * round), end);
      ASSERT_EQ(30, s.collectorStatus()) << exitEvent(s);
      EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=30 for Velora Server: CN=srv1/O=acme..."));
      EXPECT_TRUE(s.ofType("violation").empty()) << exitEvent(s);
      EXPECT_EQ("exit handles_held=0", simulatorExit(install));
    }
  }
}

}  // namespace
}  // namespace e2e
