#include "state/server_gate.h"

#include <gtest/gtest.h>

#include <thread>

#include "framework/services.h"

namespace {

// One process, one gate: the cases run in order on a gate that is closed at
// the end.
TEST(ServerGate, ShutdownWaitsForTheThreadsInsideAndAdmitsNoNewOne) {
  ASSERT_TRUE(serverGateOpen());
  ASSERT_TRUE(enterServerGate());
  EXPECT_TRUE(enterServerGate());  // counted once per thread
  EXPECT_EQ(1, threadsInsideServerGate());
  std::thread other([] {
    ASSERT_TRUE(enterServerGate());
    leaveServerGate();
    leaveServerGate();  // harmless once out
  });
  other.join();
  EXPECT_EQ(1, threadsInsideServerGate());

  closeServerGate();
  EXPECT_FALSE(serverGateOpen());
  std::thread late([] { EXPECT_FALSE(enterServerGate()); });
  late.join();
  // This thread is still inside: the wait ends at its deadline.
  EXPECT_FALSE(waitServerGateEmpty(DeadlineIn(0)));
  std::thread waiter([] { EXPECT_TRUE(waitServerGateEmpty(DeadlineIn(30))); });
  leaveServerGate();
  waiter.join();
  EXPECT_EQ(0, threadsInsideServerGate());
}

}  // namespace
