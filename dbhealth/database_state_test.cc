// The texts of the database and view states as the agent sees them.
#include "dbhealth/database_state.h"

#include <gtest/gtest.h>

namespace {

TEST(DatabaseState, EveryStateHasItsTextAndOthersAreUnknown) {
  const char* expected[] = {"Good",
                            "Not a database",
                            "Invalid VDB version",
                            "Locked",
                            "Operation not authorized",
                            "Access not authorized",
                            "Corrupt but fixed",
                            "Cluster failover",
                            "Cluster failover",
                            "Local access protected",
                            "Corrupt"};
  for (int state = 0; state <= 10; ++state) EXPECT_STREQ(expected[state], getDbStateTxt(state)) << state;
  EXPECT_STREQ("Unknown", getDbStateTxt(11));
  EXPECT_STREQ("Unknown", getDbStateTxt(-1));

  EXPECT_STREQ("Good", getDbViewStateTxt(0));
  EXPECT_STREQ("View not found", getDbViewStateTxt(1));
  EXPECT_STREQ("Collection of the view not created", getDbViewStateTxt(2));
  EXPECT_STREQ("View corrupt", getDbViewStateTxt(3));
  EXPECT_STREQ("Unknown", getDbViewStateTxt(4));
  EXPECT_STREQ("Unknown", getDbViewStateTxt(-1));
}

}  // namespace
