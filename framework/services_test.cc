#include "framework/services.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cerrno>
#include <ctime>
#include <thread>
#include <vector>

namespace {

TEST(FrameworkEnv, GetReturnsTheVariableOrNull) {
  setenv("QVD_SERVICES_TEST", "12abc", 1);
  ASSERT_NE(nullptr, EnvGet("QVD_SERVICES_TEST", 0));
  EXPECT_STREQ("12abc", EnvGet("QVD_SERVICES_TEST", 0));
  unsetenv("QVD_SERVICES_TEST");
  EXPECT_EQ(nullptr, EnvGet("QVD_SERVICES_TEST", 0));
  EXPECT_EQ(nullptr, EnvGet(nullptr, 0));
}

TEST(FrameworkLock, UsableFromZeroState) {
  static FwLock lock;  // zero state
  EXPECT_EQ(0, LockGet(&lock));
  EXPECT_EQ(0, LockRelease(&lock));
  EXPECT_EQ(0, LockDestroy(&lock));
  EXPECT_EQ(0, LockGet(&lock));  // back in its zero state: usable again
  EXPECT_EQ(0, LockRelease(&lock));
  EXPECT_EQ(0, LockDestroy(&lock));
  EXPECT_EQ(0, LockDestroy(&lock));  // destroying an unused lock is harmless
}

TEST(FrameworkLock, ExcludesOtherThreadsFromFirstUse) {
  // Every thread races to create the lock on its first LockGet.
  static FwLock lock;
  long counter = 0;  // guarded by lock; TSan reports a race if it is not
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; t++) {
    threads.emplace_back([&counter] {
      for (int i = 0; i < 10000; i++) {
        LockGet(&lock);
        counter++;
        LockRelease(&lock);
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(40000, counter);
  LockDestroy(&lock);
}

TEST(FrameworkLock, ByNameGivesOneLockPerName) {
  FwLock* a = LockByName("outstandingReqHashLock");
  EXPECT_EQ(a, LockByName("outstandingReqHashLock"));
  EXPECT_NE(a, LockByName("checkDBResultMutex"));
  EXPECT_EQ(0, LockGet(a));
  EXPECT_EQ(0, LockRelease(a));
}

TEST(FrameworkTime, DeadlinesFollowTheClockThatNeverJumps) {
  struct timespec before, now, after;
  clock_gettime(CLOCK_MONOTONIC, &before);
  TimeGet(&now);
  clock_gettime(CLOCK_MONOTONIC, &after);
  EXPECT_GE(now.tv_sec, before.tv_sec);
  EXPECT_LE(now.tv_sec, after.tv_sec);
  EXPECT_LT(now.tv_nsec, 1000000000L);
  EXPECT_GE(DeadlineIn(5).tv_sec, now.tv_sec + 5);
  // A condition set up for these deadlines times out at one that has passed.
  pthread_cond_t cond;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  ASSERT_EQ(0, CondInitMonotonic(&cond));
  pthread_mutex_lock(&mutex);
  EXPECT_EQ(ETIMEDOUT, pthread_cond_timedwait(&cond, &mutex, &now));
  pthread_mutex_unlock(&mutex);
  pthread_cond_destroy(&cond);
  SleepSeconds(0);  // returns at once
}

}  // namespace
