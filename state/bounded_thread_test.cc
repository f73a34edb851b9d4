#include "state/bounded_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "framework/services.h"

namespace {

std::atomic<bool> release{false};

void* waitForRelease(void*) {
  while (!release) std::this_thread::yield();
  return nullptr;
}

TEST(BoundedThread, AJoinGivesUpAtItsDeadlineAndSucceedsOnceTheThreadEnded) {
  static BoundedThread thread;
  EXPECT_TRUE(thread.join(nullptr));  // none started: nothing to wait for
  release = false;
  ASSERT_EQ(0, thread.start(waitForRelease, nullptr));
  EXPECT_TRUE(thread.started());
  struct timespec passed = DeadlineIn(0);
  EXPECT_FALSE(thread.join(&passed));
  EXPECT_TRUE(thread.started());  // still running, still to be joined
  release = true;
  struct timespec later = DeadlineIn(30);
  EXPECT_TRUE(thread.join(&later));
  EXPECT_FALSE(thread.started());
  // The object starts the next thread.
  ASSERT_EQ(0, thread.start(waitForRelease, nullptr));
  EXPECT_TRUE(thread.join(nullptr));
}

}  // namespace
