// Whole files for the agent's side: every byte, /proc files of unknown size,
// nothing for a file that cannot be read, and never a descriptor that a
// collector started meanwhile would inherit.
#include "agentside/file_text.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "agentside/collector_process.h"
#include "sim/descriptor_probe.h"

namespace agentside {
namespace {

class FileText : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/agentside_fileXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
  }
  void TearDown() override { ASSERT_EQ(0, std::system(("rm -rf '" + dir_ + "'").c_str())); }
  std::string dir_;
};

TEST_F(FileText, ReadsEveryByteOrLeavesTheTextAlone) {
  // Larger than one read, with zero bytes and no line feed at the end.
  std::string big;
  for (int i = 0; i < 200000; ++i) big += static_cast<char>(i % 251);
  std::ofstream(dir_ + "/big", std::ios::binary) << big;
  std::string text = "before";
  ASSERT_TRUE(ReadFileText(dir_ + "/big", &text));
  EXPECT_EQ(big, text);

  ASSERT_TRUE(ReadFileText("/proc/self/stat", &text));
  EXPECT_EQ(0u, text.find(std::to_string(getpid()) + " ("));

  text = "before";
  EXPECT_FALSE(ReadFileText(dir_ + "/missing", &text));
  EXPECT_FALSE(ReadFileText(dir_, &text));  // a folder opens but cannot be read
  EXPECT_EQ("before", text);
}

// The exporter reads env files and /proc files on one thread while another
// may be starting the collector.
TEST_F(FileText, ReadsThroughCloseOnExecDescriptors) {
  std::string text;
  auto read = [&] { EXPECT_TRUE(ReadFileText(dir_ + "/fifo", &text)); };
  EXPECT_TRUE(ReadsCloseOnExec(dir_ + "/fifo", read, "some text"));
  EXPECT_EQ("some text", text);

  std::vector<std::pair<std::string, std::string>> sets;
  auto readEnv = [&] {
    std::string error;
    EXPECT_TRUE(ReadEnvFile(dir_ + "/env", &sets, &error)) << error;
  };
  EXPECT_TRUE(ReadsCloseOnExec(dir_ + "/env", readEnv, "A=1;2\n"));
  EXPECT_EQ(sets, (std::vector<std::pair<std::string, std::string>>{{"A", "1;2"}}));
}

}  // namespace
}  // namespace agentside
