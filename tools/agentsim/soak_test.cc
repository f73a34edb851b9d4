// A short soak end to end: soak.sh runs the real qvdclient under agentsim
// --soak against a copy of the example model, with the model changing, the
// relay (when built) fed and killed, the database check and the
// replication table on.  It must end without a protocol violation or a
// failed expectation, with the collector's status 30, the figures printed
// at the start, at each interval and at the end, and every simulator
// handle given back by the time the collector exits.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

size_t Count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(Soak, ShortSoakOfTheCollectorEndsCleanly) {
  std::string bin = Env("QVD_BIN_DIR"), src = Env("QVD_SOURCE_DIR");
  if (bin.empty() || src.empty()) GTEST_SKIP() << "QVD_BIN_DIR and QVD_SOURCE_DIR are set by ctest";
  if (access((bin + "/qvdclient").c_str(), X_OK) != 0 || access((bin + "/libvaxel.so").c_str(), R_OK) != 0)
    GTEST_SKIP() << "qvdclient or the simulator is not built in " << bin;
  std::string cmd = "'" + src + "/tools/agentsim/soak.sh' '" + bin + "' '" + src +
                    "/examples/server' 20 --soak-interval 4 --soak-change 3 --soak-relay-kill 13 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0) << out;
  EXPECT_NE(out.find("soak: elapsed    rss_kB   fds threads handles"), std::string::npos) << out;
  // The start, every 4 seconds and the end.
  EXPECT_GE(Count(out, "\nsoak: "), 6u) << out;
  EXPECT_NE(out.find("# soak: done"), std::string::npos) << out;
  EXPECT_NE(out.find(" 0 protocol violations, 0 failed expectations"), std::string::npos) << out;
  EXPECT_NE(out.find("collector exited with status 30"), std::string::npos) << out;
  EXPECT_NE(out.find("simulator at the collector's exit: exit handles_held=0 "), std::string::npos) << out;
}

}  // namespace
