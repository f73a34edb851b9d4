// The add-in threads' pauses, retries and event errors, with a pace that
// counts the pauses instead of sleeping and a stand-in agent: MVConfigure's
// retry wait, and collectMVEvents' starts of the relay (a missing relay
// program, a failed connection to the relay, an ended relay connection, a
// listening socket that cannot be opened).
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "addin/agent_stub_testutil.h"
#include "addin/loopback_testutil.h"
#include "addin/event_collector.h"
#include "addin/mv_configure.h"
#include "addin/server_socket.h"
#include "dbhealth/translog_checker.h"
#include "framework/trace_capture.h"
#include "gtest/gtest.h"
#include "sim/sim_test_support.h"
#include "state/globals.h"

namespace {

// Counts the pauses instead of sleeping.  Runs `onPause` with the number of
// the pause (from 1) before it returns; says stop once `limit` pauses were
// taken.
class CountingPace : public AddInPace {
 public:
  bool sleep(unsigned seconds) override {
    pauses.push_back(seconds);
    if (onPause) onPause(pauses.size());
    return !stopping();
  }
  bool stopping() override { return pauses.size() >= limit; }
  std::vector<unsigned> pauses;
  size_t limit = 1000;
  std::function<void(size_t)> onPause;
};

std::vector<unsigned> Tens(size_t n) { return std::vector<unsigned>(n, 10); }

std::vector<unsigned> Join(std::initializer_list<std::vector<unsigned>> parts) {
  std::vector<unsigned> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

const std::vector<unsigned> kConnectPauses = {2, 4, 8, 16};

// How many of `lines` hold `text`.
int Count(const std::vector<std::string>& lines, const std::string& text) {
  int n = 0;
  for (const std::string& l : lines) n += l.find(text) != std::string::npos;
  return n;
}

// A throw-away installation (the relay's bin directory, the ini file the
// transaction-log guard edits) and the collector's globals pointing at it.
class AddInChannel : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = model_.dir() + "/install";
    bin_ = root_ + "/home/linux64/vd/bin";
    ASSERT_EQ(0, system(("mkdir -p '" + bin_ + "' '" + root_ + "/ini' '" + root_ + "/home/config'").c_str()));
    std::ofstream(bin_ + "/qvdstart.sh") << "";
    std::ofstream(root_ + "/ini/vaxel.ini") << "[Vaxel]\nTRANSLOG_STATUS=0\n";
    VeloraTransLogChecker::setupEnv((root_ + "/ini").c_str(), (root_ + "/home").c_str(), "linux64");
    home_ = root_ + "/home";
    arch_ = "linux64";
    port_ = std::to_string(ClosedPort());
    halcyon_home = &home_[0];
    binArch = &arch_[0];
    mvPort = &port_[0];
    nicHostname = host_;
    server_name = server_;
    server_name_abbr = abbr_;
    mveventpid = 0;
    TraceCaptureStart("error,addin=detail");
  }
  void TearDown() override {
    // Every relay a test started ends by itself; collect them all.
    for (int i = 0; i < 1000 && waitpid(-1, nullptr, WNOHANG) != -1; ++i) usleep(10 * 1000);
    if (mveventpid > 0 && kill(static_cast<pid_t>(mveventpid), SIGKILL) == 0) {
      ADD_FAILURE() << "the relay " << mveventpid << " did not end";
      waitpid(static_cast<pid_t>(mveventpid), nullptr, 0);
    }
    halcyon_home = binArch = mvPort = nicHostname = server_name = server_name_abbr = nullptr;
  }
  // Installs the relay program as a shell script with `body`.
  void InstallRelay(const std::string& body) {
    std::string path = bin_ + "/qvdmvevent";
    std::string temp = path + ".new";
    std::ofstream(temp) << "#!/bin/sh\n" << body;
    chmod(temp.c_str(), 0755);
    rename(temp.c_str(), path.c_str());
  }
  std::vector<std::string> Lines() { return TraceCaptureLines("addin/"); }

  TempModel model_;
  std::string root_, bin_, home_, arch_, port_;
  char host_[16] = "127.0.0.1";
  char server_[32] = "CN=srv1/O=acme";
  char abbr_[16] = "srv1/acme";
};

TEST_F(AddInChannel, MVConfigureRetriesEveryFiveMinutesUntilTheDatabaseIsThere) {
  model_.Write("server.json", R"({"databases": {}})");
  AgentStub agent;
  CountingPace pace;
  // The parameter database appears during the second wait.
  pace.onPause = [&](size_t n) {
    if (n == 45) model_.Write("server.json", R"({"databases": {"mirvane/mvparam.vdb": {}}})");
  };
  runMVConfigure(pace);
  EXPECT_EQ(Tens(60), pace.pauses);  // two waits of 30 pauses of 10 seconds
  EXPECT_EQ((std::vector<int>{1001, 1001}), agent.eventErrors());
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(1, Count(lines, "failed on attempt 1 to configure MV..."));
  EXPECT_EQ(1, Count(lines, "failed on attempt 2 to configure MV..."));
  EXPECT_EQ(0, Count(lines, "failed on attempt 3"));
  EXPECT_EQ(1, Count(lines, "exiting..."));
  EXPECT_EQ(1, mvConfigured.load());
}

TEST_F(AddInChannel, MVConfigureEndsWhenAStopComesDuringTheWait) {
  model_.Write("server.json", R"({"databases": {}})");
  AgentStub agent;
  CountingPace pace;
  pace.limit = 7;
  runMVConfigure(pace);
  EXPECT_EQ(Tens(7), pace.pauses);
  EXPECT_EQ((std::vector<int>{1001}), agent.eventErrors());
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(1, Count(lines, "shutting down..."));
  EXPECT_EQ(0, Count(lines, "failed on attempt 2"));
}

TEST_F(AddInChannel, AMissingRelayIsReportedOnceAndStartedWhenItIsInstalled) {
  AgentStub agent;
  CountingPace pace;
  // The relay program is installed during the third pause; nothing listens
  // at the add-in port, so the line client's attempts fail.
  pace.onPause = [&](size_t n) {
    if (n == 3) InstallRelay("exit 0\n");
  };
  pace.limit = 9;
  runEventCollector(pace);
  // Three failed starts, 10 seconds apart; the start; the line client's
  // four attempts; the start after the failed connection.
  EXPECT_EQ(Join({Tens(3), Tens(1), kConnectPauses, Tens(1)}), pace.pauses);
  EXPECT_EQ((std::vector<int>{1000}), agent.eventErrors());
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(3, Count(lines, "startProcess1 failed for qvdmvevent"));
  EXPECT_EQ(1, Count(lines, "Started1 qvdmvevent with pid:"));
  EXPECT_EQ(1, Count(lines, "Client connection to qvdmvevent failed, retrying..."));
  EXPECT_EQ(1, Count(lines, "Started2 qvdmvevent with pid:"));
  EXPECT_EQ(1, Count(lines, "shutting down..."));
}

TEST_F(AddInChannel, FailedStartsAfterAFailedAndAnEndedConnectionAreRetriedAndReported) {
  std::string relay = std::string(getenv("QVD_BIN_DIR")) + "/qvdmvevent";
  std::string feed = root_ + "/feed", log = root_ + "/relay.log";
  std::ofstream(feed) << "srv2/acme\t2\tqueue above 500\n!exit\n";
  setenv("QVD_MVHOSTNAME", host_, 1);
  setenv("QVD_MVPORT", mvPort, 1);
  setenv("QVD_MVEVENT_FILE", feed.c_str(), 1);
  setenv("QVD_MVEVENT_LOG", log.c_str(), 1);
  AgentStub agent;
  CountingPace pace;
  // Each relay program removes itself, so that the next start fails until
  // the test installs one again.  The first ends at once.
  InstallRelay("rm -f \"$0\"\n");
  std::string program = bin_ + "/qvdmvevent";
  pace.onPause = [&](size_t n) {
    // The first relay has removed itself before the collector goes on.
    if (n == 1) {
      for (int i = 0; i < 1000 && access(program.c_str(), F_OK) == 0; ++i) usleep(10 * 1000);
    }
    // The second start failed: the next one runs the relay stand-in, which
    // forwards the feed's event and ends its connection.
    if (n == 6) InstallRelay("rm -f \"$0\"\nexec '" + relay + "'\n");
    // Give the started relay the time to listen before the line client
    // tries it (it ignores the empty connection that finds out).
    if (n == 7) {
      for (int i = 0; i < 1000 && !Listening(atoi(mvPort)); ++i) usleep(10 * 1000);
    }
    // The third start failed.
    if (n == 8) InstallRelay("rm -f \"$0\"\n");
  };
  pace.limit = 9;
  runEventCollector(pace);
  unsetenv("QVD_MVHOSTNAME");
  unsetenv("QVD_MVPORT");
  unsetenv("QVD_MVEVENT_FILE");
  unsetenv("QVD_MVEVENT_LOG");
  EXPECT_EQ(Join({Tens(1), kConnectPauses, Tens(1), Tens(1), Tens(1), Tens(1)}), pace.pauses)
      << ReadWholeFile(log);
  // One event error for each outage.
  EXPECT_EQ((std::vector<int>{1000, 1000}), agent.eventErrors());
  std::vector<std::string> lines = Lines();
  std::vector<std::string> rows = agent.eventRows();
  ASSERT_EQ(1u, rows.size()) << ReadWholeFile(log) << ::testing::PrintToString(lines);
  EXPECT_NE(std::string::npos, rows[0].find("|2|queue above 500")) << rows[0];
  EXPECT_EQ(1, Count(lines, "startProcess2 failed for qvdmvevent"));
  EXPECT_EQ(1, Count(lines, "Started2 qvdmvevent with pid:"));
  EXPECT_EQ(1, Count(lines, "restarting qvdmvevent for the 2 time"));
  EXPECT_EQ(1, Count(lines, "startProcess3 failed for qvdmvevent"));
  EXPECT_EQ(1, Count(lines, "Started3 qvdmvevent with pid:"));
}

TEST_F(AddInChannel, AListeningSocketThatCannotBeOpenedIsReportedOnceAndRetried) {
  InstallRelay("exit 0\n");
  AgentStub agent;
  CountingPace pace;
  struct rlimit saved;
  ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &saved));
  // The undefined-behaviour sanitizer needs a descriptor the first time it
  // checks a dynamic type: let it meet ServerSocket before the limit.
  {
    ServerSocket warm;
    warm.open(0, nullptr);
  }
  // During the first two pauses no descriptor can be made: the limit is the
  // lowest free descriptor.
  pace.onPause = [&](size_t n) {
    if (n == 1) {
      int lowest = open("/dev/null", O_RDONLY);
      close(lowest);
      struct rlimit none = saved;
      none.rlim_cur = static_cast<rlim_t>(lowest);
      setrlimit(RLIMIT_NOFILE, &none);
    }
    if (n == 3) setrlimit(RLIMIT_NOFILE, &saved);
  };
  pace.limit = 4;
  runEventCollector(pace);
  setrlimit(RLIMIT_NOFILE, &saved);
  // The start, two failed opens, then the line client's first attempt.
  EXPECT_EQ((std::vector<unsigned>{10, 10, 10, 2}), pace.pauses);
  EXPECT_EQ((std::vector<int>{1000}), agent.eventErrors());
  std::vector<std::string> lines = Lines();
  EXPECT_EQ(2, Count(lines, "Server socket could not be opened"));
  EXPECT_EQ(0, Count(lines, "Server socket: 0 opened"));
  EXPECT_EQ(1, Count(lines, "Server socket: "));
}

}  // namespace
