#include "framework/trace.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// Each test gets a fresh trace file and level setting.
class TraceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/qvd_trace_test.XXXXXX";
    dir_ = mkdtemp(pattern);
    file_ = dir_ + "/trace.log";
    setenv("QVD_TRACE_FILE", file_.c_str(), 1);
    unsetenv("QVD_TRACE_CONTROL");
  }
  void TearDown() override {
    unsetenv("QVD_TRACE_CONTROL");
    setenv("QVD_TRACE", "error", 1);
    unsetenv("QVD_TRACE_FILE");
    TraceReload();
    std::string cmd = "rm -rf " + dir_;
    EXPECT_EQ(0, std::system(cmd.c_str()));
  }
  void Levels(const char* text) {
    setenv("QVD_TRACE", text, 1);
    TraceReload();
  }
  // The lines of the trace file with the prefix up to the unit removed:
  // "unit KIND message".
  std::vector<std::string> Lines() {
    std::ifstream in(file_);
    std::vector<std::string> out;
    std::string line;
    while (std::getline(in, line)) {
      size_t tid = line.find("] ");
      out.push_back(tid == std::string::npos ? line : line.substr(tid + 2));
    }
    return out;
  }
  std::string dir_, file_;
};

TEST_F(TraceTest, PerUnitLevels) {
  Levels("error, stats=detail, agentlink/socket=0x81, core=bogus");
  TraceUnit snapshot{"stats/snapshot"}, statsx{"statsx/rows"}, socket{"agentlink/socket"},
      parser{"agentlink/parser"}, core{"core/main"};
  EXPECT_EQ(unsigned(TRACE_ERROR | TRACE_FLOW | TRACE_DETAIL), TraceLevel(&snapshot));
  EXPECT_EQ(unsigned(TRACE_ERROR), TraceLevel(&statsx));  // a prefix ends at '/'
  EXPECT_EQ(0x81u, TraceLevel(&socket));
  EXPECT_EQ(unsigned(TRACE_ERROR), TraceLevel(&parser));
  EXPECT_EQ(unsigned(TRACE_ERROR), TraceLevel(&core));  // unknown word ignored

  Levels("none,agentlink=all,agentlink/socket=flow");
  EXPECT_EQ(0u, TraceLevel(&snapshot));
  EXPECT_EQ(unsigned(TRACE_ALL), TraceLevel(&parser));
  EXPECT_EQ(unsigned(TRACE_ERROR | TRACE_FLOW), TraceLevel(&socket));  // longest match wins
}

TEST_F(TraceTest, MacrosWriteByLevelAndAlwaysLinesWhenAnyFlagIsSet) {
  Levels("none,core=error,stats=detail");
  int entry = 0, exit = 0, exit_void = 0;
  {
    TraceUnit qvd_trace_unit{"dbhealth/check"};  // level none
    QVD_ALWAYS("silent %d", 1);
    QVD_ERROR("silent %d", 2);
  }
  {
    TraceUnit qvd_trace_unit{"core/main"};
    QVD_ALWAYS("always %s", "written");
    QVD_ERROR("error %d", 7);
    QVD_DETAIL("not at error level");
    QVD_ENTRY();
  }
  {
    TraceUnit qvd_trace_unit{"stats/rows"};
    QVD_DETAIL("detail line\n");  // the trailing line feed is dropped
    QVD_ENTRY(); entry = __LINE__;
    QVD_EXIT(-4); exit = __LINE__;
    QVD_EXIT_VOID(); exit_void = __LINE__;
  }
  std::vector<std::string> expected = {
      "core/main ALWAYS always written",
      "core/main ERROR error 7",
      "stats/rows DETAIL detail line",
      "stats/rows FLOW Entry TestBody line " + std::to_string(entry),
      "stats/rows FLOW Exit TestBody line " + std::to_string(exit) + " rc=-4",
      "stats/rows FLOW Exit TestBody line " + std::to_string(exit_void),
  };
  EXPECT_EQ(expected, Lines());
}

TEST_F(TraceTest, LongLinesAreWrittenWhole) {
  Levels("all");
  TraceUnit unit{"util/long"};
  std::string text(5000, 'x');
  TracePrintf(&unit, TRACE_DETAIL, 1, "%s|end", text.c_str());
  ASSERT_EQ(1u, Lines().size());
  EXPECT_EQ("util/long DETAIL " + text + "|end", Lines()[0]);
}

TEST_F(TraceTest, AppendsToAnExistingFile) {
  std::ofstream(file_) << "earlier run\n";
  Levels("error");
  TraceUnit unit{"core/main"};
  TracePrintf(&unit, TRACE_ERROR, 1, "later run");
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(2u, lines.size());
  EXPECT_EQ("earlier run", lines[0]);
  EXPECT_EQ("core/main ERROR later run", lines[1]);
}

TEST_F(TraceTest, LinesFromManyThreadsNeverInterleave) {
  Levels("all");
  const int kThreads = 8, kLines = 2000;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; t++) {
    threads.emplace_back([t] {
      TraceUnit qvd_trace_unit{"addin/collector"};
      // Lines of different lengths so that a torn write shows.
      std::string body(static_cast<size_t>(10 + t * 37), static_cast<char>('a' + t));
      for (int i = 0; i < kLines; i++) QVD_DETAIL("T%d #%d %s.", t, i, body.c_str());
    });
  }
  for (std::thread& th : threads) th.join();

  std::vector<std::string> lines = Lines();
  ASSERT_EQ(size_t(kThreads * kLines), lines.size());
  std::vector<int> next(kThreads, 0);
  for (const std::string& line : lines) {
    int t = -1, i = -1;
    char body[512];
    ASSERT_EQ(3, std::sscanf(line.c_str(), "addin/collector DETAIL T%d #%d %511[a-z.]", &t, &i, body)) << line;
    ASSERT_TRUE(t >= 0 && t < kThreads) << line;
    EXPECT_EQ(std::string(static_cast<size_t>(10 + t * 37), static_cast<char>('a' + t)) + ".", body);
    EXPECT_EQ(next[t]++, i);  // each thread's lines in its own order
  }
}

TEST_F(TraceTest, SighupRereadsTheControlFile) {
  std::string control = dir_ + "/control";
  setenv("QVD_TRACE_CONTROL", control.c_str(), 1);
  Levels("error");  // no control file yet: QVD_TRACE applies
  TraceInstallSignalHandler();
  TraceUnit unit{"dbhealth/check"};
  EXPECT_EQ(unsigned(TRACE_ERROR), TraceLevel(&unit));

  unsigned before = TraceChangeCounter();
  std::ofstream(control) << "detail,core=none\nignored second line\n";
  EXPECT_EQ(unsigned(TRACE_ERROR), TraceLevel(&unit));  // nothing happens before the signal
  ASSERT_EQ(0, raise(SIGHUP));
  EXPECT_EQ(unsigned(TRACE_ERROR | TRACE_FLOW | TRACE_DETAIL), TraceLevel(&unit));
  EXPECT_NE(before, TraceChangeCounter());

  // The reload also reopens the trace file: a rotated file is followed.
  TracePrintf(&unit, TRACE_DETAIL, 1, "before rotation");
  std::string rotated = dir_ + "/trace.log.1";
  ASSERT_EQ(0, std::rename(file_.c_str(), rotated.c_str()));
  ASSERT_EQ(0, raise(SIGHUP));
  TracePrintf(&unit, TRACE_DETAIL, 1, "after rotation");
  EXPECT_EQ(std::vector<std::string>{"dbhealth/check DETAIL after rotation"}, Lines());
}

// Runs in a fresh process started by the next test; skipped otherwise.
TEST(TraceChild, FirstUseInstallsTheHandlerWhenControlled) {
  const char* control = getenv("QVD_TRACE_CHILD_CONTROL");
  if (control == nullptr) GTEST_SKIP() << "only run as a child process";
  TraceUnit unit{"core/main"};
  ASSERT_EQ(0u, TraceLevel(&unit));  // first trace call: control file says none
  std::ofstream(control) << "all\n";
  raise(SIGHUP);  // kills the process unless the handler is in place
  EXPECT_EQ(unsigned(TRACE_ALL), TraceLevel(&unit));
}

TEST_F(TraceTest, AProcessStartedWithAControlFileFollowsSighup) {
  std::string control = dir_ + "/control";
  std::ofstream(control) << "none\n";
  pid_t pid = fork();
  ASSERT_NE(-1, pid);
  if (pid == 0) {
    setenv("QVD_TRACE_CONTROL", control.c_str(), 1);
    setenv("QVD_TRACE_CHILD_CONTROL", control.c_str(), 1);
    execl("/proc/self/exe", "trace_test", "--gtest_filter=TraceChild.*", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
  EXPECT_EQ(0, WEXITSTATUS(status));
}

TEST_F(TraceTest, DumpFormat) {
  Levels("all");
  TraceUnit unit{"agentlink/socket"};
  const char data[] = "<dataRequest id=\"7\"/>\n\x01\xff";
  TraceDump(&unit, 1, "Sent:", data, sizeof data - 1);
  std::vector<std::string> expected = {
      "agentlink/socket DETAIL Sent:",
      "  00000000  3c 64 61 74 61 52 65 71 75 65 73 74 20 69 64 3d  |<dataRequest id=|",
      "  00000010  22 37 22 2f 3e 0a 01 ff                          |\"7\"/>...|",
  };
  EXPECT_EQ(expected, Lines());
}

}  // namespace
