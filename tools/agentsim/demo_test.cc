// The demo end to end: demo.sh runs the real qvdclient under agentsim
// against the example model and must end with the collector's status 30,
// every statistics table answered and the status file shown.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

std::string Env(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

TEST(Demo, RunsTheCollectorAgainstTheExampleModelAndEndsWithStatus30) {
  std::string bin = Env("QVD_BIN_DIR"), src = Env("QVD_SOURCE_DIR");
  if (bin.empty() || src.empty()) GTEST_SKIP() << "QVD_BIN_DIR and QVD_SOURCE_DIR are set by ctest";
  if (access((bin + "/qvdclient").c_str(), X_OK) != 0 || access((bin + "/libvaxel.so").c_str(), R_OK) != 0)
    GTEST_SKIP() << "qvdclient or the simulator is not built in " << bin;
  std::string cmd = "'" + src + "/tools/agentsim/demo.sh' '" + bin + "' '" + src + "/examples/server' 2>&1";
  FILE* p = popen(cmd.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int st = pclose(p);
  ASSERT_TRUE(WIFEXITED(st));
  EXPECT_EQ(WEXITSTATUS(st), 0) << out;
  EXPECT_NE(out.find("registration: protocol version 4, 40 groups"), std::string::npos) << out;
  EXPECT_NE(out.find("Velora_Tasks id="), std::string::npos) << out;
  EXPECT_NE(out.find("Task_Status_Duration"), std::string::npos) << out;  // column names from the catalogue
  EXPECT_NE(out.find("_status.out:"), std::string::npos) << out;
  // The database check's first results and a renamed directory group.
  EXPECT_TRUE(std::regex_search(out, std::regex("Velora_Corrupt_Failover_DB id=[0-9]+ \\(3 rows"))) << out;
  EXPECT_NE(out.find("| mail/moved.vdb | DEFAULT   | Cluster failover | Success"), std::string::npos) << out;
  EXPECT_TRUE(std::regex_search(out, std::regex("Velora_DB_Whitespace id=[0-9]+ \\(4 rows"))) << out;
  EXPECT_NE(out.find("DB_Size              : 2800000000"), std::string::npos) << out;
  EXPECT_NE(out.find("| Auditors   | Add"), std::string::npos) << out;
  EXPECT_NE(out.find("0 protocol violations, 0 failed expectations"), std::string::npos) << out;
  EXPECT_NE(out.find("collector exited with status 30"), std::string::npos) << out;
  EXPECT_NE(out.find("Velora_Replication id=1 ("), std::string::npos) << out;
  EXPECT_NE(out.find("Hit_Miss           : 1"), std::string::npos) << out;
}

}  // namespace
