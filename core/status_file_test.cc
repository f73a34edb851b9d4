// The availability status file as the install's other programs see it: its
// mode survives every rewrite, and no link left in the bin directory sends
// the numbers into another file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/availability.h"
#include "framework/trace_capture.h"
#include "state/globals.h"

namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

mode_t modeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st.st_mode & 07777;
}

class StatusFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvd_status_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    status_ = dir_ + "/qvd_inst1_status.out";
    snprintf(statusFileName, sizeof statusFileName, "%s", status_.c_str());
    old_umask_ = umask(022);
    TraceCaptureStart("error");
  }
  void TearDown() override {
    umask(old_umask_);
    statusFileName[0] = '\0';
    (void)system(("rm -rf " + dir_).c_str());
  }
  std::string dir_, status_;
  mode_t old_umask_ = 0;
};

TEST_F(StatusFileTest, ExistingModeIsKeptUnderAStrictUmask) {
  createStatusFile(0, 8);
  EXPECT_EQ("0\n8\n", readFile(status_));
  EXPECT_EQ(0644u, modeOf(status_)) << "a new file is made as fopen makes it";

  // An agent of another user reads the file: a collector started with
  // umask 077 must not take that away.
  umask(077);
  createStatusFile(1, 2);
  EXPECT_EQ("1\n2\n", readFile(status_));
  EXPECT_EQ(0644u, modeOf(status_));

  // A mode the administrator chose is kept as well.
  ASSERT_EQ(0, chmod(status_.c_str(), 0640));
  createStatusFile(0, 0);
  EXPECT_EQ(0640u, modeOf(status_));
}

TEST_F(StatusFileTest, LinksLeftInTheDirectoryAreNeverWrittenThrough) {
  // Links at the names a temporary file of this process could have, and at
  // the status file's own name.
  std::string victim = dir_ + "/victim";
  std::ofstream(victim) << "precious\n";
  char name[1100];
  snprintf(name, sizeof name, "%s.%ld.tmp", status_.c_str(), static_cast<long>(getpid()));
  ASSERT_EQ(0, symlink(victim.c_str(), name));
  ASSERT_EQ(0, symlink(victim.c_str(), status_.c_str()));

  createStatusFile(0, 8);
  EXPECT_EQ("precious\n", readFile(victim));
  struct stat st;
  ASSERT_EQ(0, lstat(status_.c_str(), &st));
  EXPECT_TRUE(S_ISREG(st.st_mode)) << "the link at the status file's name is replaced";
  EXPECT_EQ("0\n8\n", readFile(status_));

  // A directory that cannot take the new file: traced with the reason.
  std::string missing = dir_ + "/missing/qvd_inst1_status.out";
  snprintf(statusFileName, sizeof statusFileName, "%s", missing.c_str());
  createStatusFile(1, 1);
  std::vector<std::string> lines = TraceCaptureLines("core/availability");
  EXPECT_TRUE(TraceCaptureHas(lines, "Open failed for status file: " + missing));
  EXPECT_TRUE(TraceCaptureHas(lines, "status file: no new file can be created in directory " +
                                         dir_ + "/missing: No such file or directory"));
}

}  // namespace
