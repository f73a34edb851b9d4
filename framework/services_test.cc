#include "framework/services.h"
#include "framework/trace.h"

#include <gtest/gtest.h>

TEST(FrameworkLock, UsableFromZeroState) {
  static FwLock lock;  // zero state
  EXPECT_EQ(0, LockGet(&lock));
  EXPECT_EQ(0, LockRelease(&lock));
  EXPECT_EQ(0, LockDestroy(&lock));
  EXPECT_EQ(0, LockGet(&lock));
  EXPECT_EQ(0, LockRelease(&lock));
  LockDestroy(&lock);
}
