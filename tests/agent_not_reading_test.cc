// An agent that stops reading the collector's answers never holds the
// collector: its status file keeps being rewritten, the server's request to
// end ends it, and when the agent takes nothing for CDP_CPCI_SEND_TIMEOUT
// seconds the collector gives the connection up and ends on its own.  An
// agent that reads slowly still gets every answer whole.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

const char kStats[] =
    "LDAP.Server.Running\tyes\n"
    "Server.Users\t42\n";

// Requests for every table, `rounds` times.
std::vector<std::string> requestRounds(std::vector<std::string> script, int rounds) {
  for (int i = 0; i < rounds; ++i) script.push_back("request all");
  return script;
}

// The agent reads the registration, then sends requests whose answers fill
// every buffer between the two sides many times over, and reads no more.
std::vector<std::string> floodWithoutReading() { return requestRounds({"registration", "reading off"}, 2500); }

// The environment of such a run: the trace at error level (at detail level
// the flood would make it huge) and the given send timeout.
std::map<std::string, std::string> quietEnv(const Install& install, const std::string& sendTimeout) {
  auto env = install.env();
  env["QVD_TRACE"] = "error";
  env["CDP_CPCI_SEND_TIMEOUT"] = sendTimeout;
  return env;
}

// How the session ended, for failure messages (the summary would list
// every unanswered id).
std::string outcome(const Session& s) {
  std::string out = "agentsim status " + std::to_string(s.agentsimStatus) + "\n";
  for (const Json& e : s.events) {
    std::string type = e.value("type", "");
    if (type == "exit" || type == "expect-failed" || type == "violation" || type == "note") out += e.dump() + "\n";
  }
  return out;
}

// Waits until `done()` holds, `limit` has passed or `abandon` is set.
bool waitUntil(const std::function<bool()>& done, std::chrono::seconds limit, const std::atomic<bool>& abandon) {
  Clock::time_point deadline = Clock::now() + limit;
  while (!done()) {
    if (Clock::now() >= deadline || abandon.load()) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return true;
}

// Identity of the status file's current content: each check writes a new
// file and renames it into place.
std::string fileStamp(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return "";
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
         std::to_string(st.st_mtim.tv_nsec);
}

TEST(AgentNotReading, StatusFileKeepsItsCadenceAndTheServerEndsTheCollector) {
  Install install;
  install.writeModel("stats.txt", kStats);
  std::atomic<bool> sessionOver{false};
  bool stalled = false;
  int rewrites = 0;
  std::thread server([&] {
    // The collector says when the agent has taken nothing for 5 seconds.
    stalled = waitUntil([&] { return readFile(install.traceFile()).find("The agent has taken no data for") !=
                                     std::string::npos; },
                        std::chrono::seconds(120), sessionOver);
    // Two availability checks while the agent still reads nothing.
    std::string stamp = fileStamp(install.statusFile());
    waitUntil(
        [&] {
          std::string now = fileStamp(install.statusFile());
          if (now != stamp) ++rewrites;
          stamp = now;
          return rewrites >= 2;
        },
        std::chrono::seconds(100), sessionOver);
    install.writeModel("terminate", "");
  });
  Session s = runSession(install, quietEnv(install, "600"), floodWithoutReading(), "wait", {"--wait-exit", "150"});
  sessionOver = true;
  server.join();
  EXPECT_TRUE(stalled) << outcome(s);
  EXPECT_GE(rewrites, 2);
  EXPECT_EQ(31, s.collectorStatus()) << outcome(s);
  EXPECT_TRUE(s.traced("The collector is ending and the agent did not take the rest of a message: giving the "
                       "connection up"));
  EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=31 for Velora Server: CN=srv1/O=acme..."));
  EXPECT_EQ("0\n2\n", readFile(install.statusFile()));
}

TEST(AgentNotReading, ConnectionIsGivenUpAfterTheSendTimeout) {
  Install install;
  install.writeModel("stats.txt", kStats);
  Session s = runSession(install, quietEnv(install, "3"), floodWithoutReading(), "wait", {"--wait-exit", "90"});
  EXPECT_EQ(30, s.collectorStatus()) << outcome(s);
  EXPECT_TRUE(s.traced("The agent took no data for 3 seconds: giving the connection up"));
  EXPECT_TRUE(s.traced("requests left unanswered: the answers cannot be sent to the agent"));
  EXPECT_TRUE(s.traced("Shutting down qvdclient with rc=30 for Velora Server: CN=srv1/O=acme..."));
}

TEST(AgentReadingSlowly, ReceivesEveryAnswerWhole) {
  Install install;
  install.writeModel("stats.txt", kStats);
  // A short send timeout: an agent that keeps reading is never given up on,
  // however slowly it reads.
  std::vector<std::string> script = requestRounds({"registration", "reading slow 1024 1"}, 1000);
  script.push_back("expect all 300");
  Session s = runSession(install, quietEnv(install, "2"), script, "shutdown", {"--wait-exit", "60"});
  EXPECT_EQ(0, s.agentsimStatus) << outcome(s);
  EXPECT_EQ(30, s.collectorStatus()) << outcome(s);
  EXPECT_EQ(1000u, s.answers("Velora_Server").size());
  EXPECT_FALSE(s.traced("giving the connection up"));
}

}  // namespace
}  // namespace e2e
