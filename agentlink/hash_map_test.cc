#include "agentlink/hash_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

namespace {

// The table rules are shared with QVDHashMap and tested there; these check
// the agent link's map is built on them.

TEST(AgentLinkHashMap, SizesAndLookups) {
  EXPECT_EQ(64, HashMap().getCapacity());
  HashMap small(10);
  EXPECT_EQ(32, small.getCapacity());
  EXPECT_EQ(24, small.getThreshold());

  int one = 1, two = 2;
  small.put("k", &one);
  small.put("k", &two);
  EXPECT_EQ(1, small.getCount());
  EXPECT_EQ(&two, small.get("k"));
  EXPECT_TRUE(small.contains("k"));
  const char* removed = "unset";
  EXPECT_EQ(nullptr, small.remove("absent", &removed));
  EXPECT_EQ(nullptr, removed);
}

TEST(AgentLinkHashMap, FreeKeyDataReleasesOwnedCopies) {
  // The client API keeps owned key copies; ASan reports a leak if they stay.
  HashMap map;
  map.put(strdup("id-1"), strdup("v1"));
  map.put(strdup("id-2"), nullptr);
  map.foreach(hashMapFreeKeyData, nullptr);
  map.clear();
  EXPECT_EQ(0, map.getCount());
  EXPECT_FALSE(map.iterator().hasNext());
}

}  // namespace
