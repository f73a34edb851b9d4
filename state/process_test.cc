// Launching companion programs and the millisecond sleep.
#include "state/process.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "framework/trace.h"
#include "framework/trace_capture.h"
#include "state/globals.h"

namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvd_process_XXXXXX";
    root_ = mkdtemp(tmpl);
    ASSERT_EQ(0, system(("mkdir -p " + root_ + "/linux/vd/bin").c_str()));
    home_ = root_;
    arch_ = "linux";
    halcyon_home = &home_[0];
    binArch = &arch_[0];
  }
  void TearDown() override { (void)system(("rm -rf " + root_).c_str()); }

  void WriteScript(const std::string& name, const std::string& body) {
    std::string path = root_ + "/linux/vd/bin/" + name;
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
  }

  std::string root_, home_, arch_;
};

TEST_F(ProcessTest, StartsProgramFromInstallBinWithItsNameAsArgument) {
  // The program also learns the collector's pid, in place of any value
  // the collector itself inherited.
  setenv("QVD_COLLECTOR_PID", "1", 1);
  setenv("QVD_PROCESS_TEST_MARK", "kept", 1);
  WriteScript("tellname", "echo \"$0 $#\" > " + root_ + "/out.txt\n"
                          "echo \"$QVD_COLLECTOR_PID $QVD_PROCESS_TEST_MARK\" >> " + root_ + "/out.txt\n");
  long pid = 0;
  ASSERT_TRUE(startProcess("tellname", &pid, nullptr));
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(static_cast<pid_t>(pid), &status, 0));
  EXPECT_EQ(0, WEXITSTATUS(status));
  std::ifstream in(root_ + "/out.txt");
  std::string line;
  std::getline(in, line);
  EXPECT_EQ(root_ + "/linux/vd/bin/tellname 0", line);
  std::getline(in, line);
  EXPECT_EQ(std::to_string(getpid()) + " kept", line);
  unsetenv("QVD_COLLECTOR_PID");
  unsetenv("QVD_PROCESS_TEST_MARK");
}

TEST_F(ProcessTest, MissingProgramStillReportsALaunch) {
  long pid = 0;
  ASSERT_TRUE(startProcess("no_such_program", &pid, nullptr));
  ASSERT_GT(pid, 0);
  int status = 0;
  ASSERT_EQ(pid, waitpid(static_cast<pid_t>(pid), &status, 0));
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(127, WEXITSTATUS(status));
}

TEST_F(ProcessTest, PathThatDoesNotFitIsRefusedNotCut) {
  // A home so long that the path is cut inside the program's name: the cut
  // path names an existing program that must not run.
  std::string program = "prog_with_a_long_name";
  std::string dirs = "/linux/vd/bin/";
  std::string longHome = root_ + "/" + std::string(291 - root_.size() - 1 - dirs.size() - 4, 'h');
  ASSERT_EQ(0, system(("mkdir -p " + longHome + dirs).c_str()));
  std::string cut = longHome + dirs + program.substr(0, 4);
  ASSERT_EQ(291u, cut.size());
  std::ofstream(cut) << "#!/bin/sh\ntouch " << root_ << "/ran\n";
  chmod(cut.c_str(), 0755);
  halcyon_home = &longHome[0];

  TraceCaptureStart("error");
  long pid = 0;
  EXPECT_FALSE(startProcess(program.c_str(), &pid, nullptr));
  EXPECT_EQ(-1, pid);
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("core/process"),
                              "Error: path of program prog_with_a_long_name is longer than 291 bytes, not started"));
  usleep(200000);
  EXPECT_NE(0, access((root_ + "/ran").c_str(), F_OK)) << "the cut path was run";
  while (waitpid(-1, nullptr, WNOHANG) > 0) {
  }

  // A path of exactly 291 bytes still fits.
  ASSERT_TRUE(startProcess("prog", &pid, nullptr));
  ASSERT_GT(pid, 0);
  waitpid(static_cast<pid_t>(pid), nullptr, 0);
  EXPECT_EQ(0, access((root_ + "/ran").c_str(), F_OK));
}

TEST_F(ProcessTest, CollectsFinishedChildrenWithoutWaitingForRunningOnes) {
  WriteScript("quick", "exit 0\n");
  WriteScript("slow", "sleep 5\n");
  long slow = 0, quick1 = 0, quick2 = 0;
  ASSERT_TRUE(startProcess("slow", &slow, nullptr));
  ASSERT_TRUE(startProcess("quick", &quick1, nullptr));
  ASSERT_TRUE(startProcess("quick", &quick2, nullptr));
  usleep(300000);  // let the quick ones end
  auto before = std::chrono::steady_clock::now();
  long next = 0;
  ASSERT_TRUE(startProcess("quick", &next, nullptr));
  auto took = std::chrono::steady_clock::now() - before;
  EXPECT_LT(took, std::chrono::seconds(3)) << "the launch waited for a running child";
  // The two finished children were reaped by the launch.
  EXPECT_EQ(-1, waitpid(static_cast<pid_t>(quick1), nullptr, WNOHANG));
  EXPECT_EQ(-1, waitpid(static_cast<pid_t>(quick2), nullptr, WNOHANG));
  // The slow one is still ours to collect.
  EXPECT_EQ(0, waitpid(static_cast<pid_t>(slow), nullptr, WNOHANG));
  kill(static_cast<pid_t>(slow), SIGKILL);
  waitpid(static_cast<pid_t>(slow), nullptr, 0);
  waitpid(static_cast<pid_t>(next), nullptr, 0);
}

TEST(MilliSleep, SleepsAndReportsInterruption) {
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(0, qvd_msleep(0));
  EXPECT_EQ(0, qvd_msleep(30));
  EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(30));

  // A signal ends the sleep early and is reported as -1.
  struct sigaction sa = {};
  sa.sa_handler = [](int) {};
  sigaction(SIGUSR1, &sa, nullptr);
  pthread_t self = pthread_self();
  std::thread poke([self] {
    usleep(50000);
    pthread_kill(self, SIGUSR1);
  });
  EXPECT_EQ(-1, qvd_msleep(5000));
  poke.join();
}

}  // namespace
