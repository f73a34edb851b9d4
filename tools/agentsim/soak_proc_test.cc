// What the soak reads from /proc: descriptors and threads of a process,
// and the running children of a given name (the relay it kills).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "tools/agentsim/soak.h"

namespace agentsim {
namespace {

bool Has(const std::vector<pid_t>& v, pid_t p) { return std::find(v.begin(), v.end(), p) != v.end(); }

TEST(SoakProcTest, CountsDescriptorsAndThreadsOfAProcess) {
  long fds = OpenDescriptors(getpid());
  ASSERT_GT(fds, 0);
  int fd = open("/dev/null", O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(OpenDescriptors(getpid()), fds + 1);
  close(fd);
  // A first thread may bring helper threads of the runtime (a sanitizer's)
  // with it; the second is counted alone.
  bool stop = false;
  auto idle = [&stop] {
    while (!__atomic_load_n(&stop, __ATOMIC_SEQ_CST)) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  std::thread first(idle);
  long threads = Threads(getpid());
  ASSERT_GE(threads, 2);
  std::thread second(idle);
  EXPECT_EQ(Threads(getpid()), threads + 1);
  __atomic_store_n(&stop, true, __ATOMIC_SEQ_CST);
  first.join();
  second.join();
  EXPECT_EQ(OpenDescriptors(999999999), -1);
  EXPECT_EQ(Threads(999999999), -1);
}

TEST(SoakProcTest, FindsRunningChildrenByNameButNotEndedOnes) {
  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    execlp("sleep", "sleep", "30", static_cast<char*>(nullptr));
    _exit(127);
  }
  // Until exec has happened the child still has this program's name.
  bool seen = false;
  for (int i = 0; i < 200 && !seen; ++i) {
    seen = Has(ChildrenNamed(getpid(), "sleep"), child);
    if (!seen) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(seen);
  EXPECT_FALSE(Has(ChildrenNamed(getpid(), "qvdmvevent"), child));
  ASSERT_EQ(kill(child, SIGKILL), 0);
  // Killed but not reaped: no longer a running child.
  bool gone = false;
  for (int i = 0; i < 200 && !gone; ++i) {
    gone = !Has(ChildrenNamed(getpid(), "sleep"), child);
    if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(gone);
  int st;
  EXPECT_EQ(waitpid(child, &st, 0), child);
}

}  // namespace
}  // namespace agentsim
