// What the trace facility reports about its own configuration: level words
// in any letter case, ignored words, the levels in force, a trace file that
// cannot be opened, and the listener called after a SIGHUP reload.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <vector>

#include "framework/trace.h"

namespace {

class TraceSettings : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("QVD_TRACE_CONTROL");
    unsetenv("QVD_TRACE_FILE");
  }
  void TearDown() override {
    TraceSetReloadListener(nullptr);
    unsetenv("QVD_TRACE_FILE");
    setenv("QVD_TRACE", "error", 1);
    TraceReload();
  }
  void Levels(const char* text) {
    setenv("QVD_TRACE", text, 1);
    TraceReload();
  }
};

TEST_F(TraceSettings, LevelWordsInAnyLetterCaseAndTheIgnoredOnes) {
  Levels("NONE,Core=Detail,stats=0X81,agentlink=ALL");
  TraceUnit core{"core/startup"}, stats{"stats/rows"}, link{"agentlink/socket"}, other{"util/x"};
  EXPECT_EQ(0u, TraceLevel(&core));  // unit names keep their case: "Core" is not "core"
  EXPECT_EQ(0x81u, TraceLevel(&stats));
  EXPECT_EQ(unsigned(TRACE_ALL), TraceLevel(&link));
  EXPECT_EQ(0u, TraceLevel(&other));
  EXPECT_EQ("none,Core=detail,stats=0x81,agentlink=all (from QVD_TRACE)", TraceLevelsInForce());
  EXPECT_TRUE(TraceConfigProblems().empty());

  EXPECT_EQ((std::vector<std::string>{"detial", "core=", "=error", "stats=0x8z"}),
            TraceUnknownWords("error, detial ,core=,=error,stats=0x8z,Flow"));
  Levels("Error,detial");
  std::vector<std::string> problems = TraceConfigProblems();
  ASSERT_EQ(1u, problems.size());
  EXPECT_NE(std::string::npos,
            problems[0].find("unknown trace level setting \"detial\" in QVD_TRACE"))
      << problems[0];
  EXPECT_EQ("error (from QVD_TRACE)", TraceLevelsInForce());
}

TEST_F(TraceSettings, TraceFileThatCannotBeOpenedIsNamedWithTheReason) {
  setenv("QVD_TRACE_FILE", "/nonexistent-dir-of-the-test/trace.log", 1);
  Levels("error");
  EXPECT_TRUE(TraceConfigProblems().empty()) << "not known before a line is written";
  TraceUnit unit{"core/x"};
  TracePrintf(&unit, TRACE_ALWAYS, 1, "a line for standard error");
  std::vector<std::string> problems = TraceConfigProblems();
  ASSERT_EQ(1u, problems.size());
  EXPECT_EQ(
      "trace file /nonexistent-dir-of-the-test/trace.log cannot be opened (No such file or "
      "directory); trace lines go to standard error",
      problems[0]);
}

std::atomic<int> g_reloads{0};
std::string g_levels_seen;
void CountReload() {
  g_levels_seen = TraceLevelsInForce();
  ++g_reloads;
}

TEST_F(TraceSettings, ListenerRunsAfterEachSighupReload) {
  Levels("error");
  TraceInstallSignalHandler();
  TraceSetReloadListener(CountReload);
  TraceReload();  // a reload the program asked for itself: no call
  TraceUnit unit{"core/x"};
  TraceLevel(&unit);
  EXPECT_EQ(0, g_reloads.load());

  setenv("QVD_TRACE", "flow", 1);
  ASSERT_EQ(0, raise(SIGHUP));
  EXPECT_EQ(unsigned(TRACE_ERROR | TRACE_FLOW), TraceLevel(&unit));  // the reload happens here
  EXPECT_EQ(1, g_reloads.load());
  EXPECT_EQ("flow (from QVD_TRACE)", g_levels_seen);
  TraceLevel(&unit);
  EXPECT_EQ(1, g_reloads.load());
}

}  // namespace
