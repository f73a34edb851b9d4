// The collector's environment and start: what the caller sets must reach the
// collector exactly as meant.
#include "agentside/collector_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>

namespace agentside {
namespace {

TEST(Environment, CollectorSeesPortThenSettingsInOrderMinusUnsets) {
  setenv("AGENTSIM_TEST_INHERITED", "1", 1);
  std::vector<std::string> env = BuildEnvironment(
      false, 4321, {{"QVD_SERVER", "a"}, {"QVD_SERVER", "b=c"}, {"CP_PORT", "abc"}, {"X", ""}}, {"X"});
  auto has = [&env](const std::string& entry) {
    return std::find(env.begin(), env.end(), entry) != env.end();
  };
  EXPECT_TRUE(has("AGENTSIM_TEST_INHERITED=1"));
  EXPECT_TRUE(has("QVD_SERVER=b=c"));
  EXPECT_FALSE(has("QVD_SERVER=a"));
  EXPECT_TRUE(has("CP_PORT=abc"));
  EXPECT_FALSE(has("CP_PORT=4321"));
  for (const auto& e : env) EXPECT_NE(e.rfind("X=", 0), 0u) << e;

  std::vector<std::string> clean = BuildEnvironment(true, 4321, {{"A", "1"}}, {});
  EXPECT_EQ(clean, (std::vector<std::string>{"CP_PORT=4321", "A=1"}));
}

TEST(Environment, EnvFilesKeepValuesVerbatim) {
  char path[] = "/tmp/agentside_envXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "# comment\n\nQVD_SERVER=CN=srv/O=org\nEMPTY=\nSPACED= two words \r\n";
  std::vector<std::pair<std::string, std::string>> sets;
  std::string error;
  ASSERT_TRUE(ReadEnvFile(path, &sets, &error)) << error;
  EXPECT_EQ(sets, (std::vector<std::pair<std::string, std::string>>{
                      {"QVD_SERVER", "CN=srv/O=org"}, {"EMPTY", ""}, {"SPACED", " two words "}}));
  std::ofstream(path) << "NOEQUALS\n";
  EXPECT_FALSE(ReadEnvFile(path, &sets, &error));
  EXPECT_NE(error.find(":1:"), std::string::npos);
  unlink(path);
}

// A collector started by a thread that blocks SIGTERM (as a program that
// waits for its own signals does) still ends at SIGTERM, and it ends when
// the thread that started it is gone.
TEST(Process, StartsWithDefaultSignalsAndDiesWithItsStarter) {
  CollectorProcess stopped, orphaned;
  std::string error1, error2;
  std::thread starter([&] {
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &term, nullptr);
    StartOptions options;
    options.defaultSignals = true;
    EXPECT_TRUE(stopped.Start({"sleep", "30"}, {"PATH=/usr/bin:/bin"}, "", &error1, options)) << error1;
    options.parentDeathSignal = SIGTERM;
    EXPECT_TRUE(orphaned.Start({"sleep", "30"}, {"PATH=/usr/bin:/bin"}, "", &error2, options)) << error2;
  });
  starter.join();
  stopped.Stop(20);
  EXPECT_EQ(stopped.signal(), std::optional<int>(SIGTERM));
  for (int i = 0; i < 1000 && !orphaned.Poll(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_TRUE(orphaned.ended());
  EXPECT_EQ(orphaned.signal(), std::optional<int>(SIGTERM));
}

}  // namespace
}  // namespace agentside
