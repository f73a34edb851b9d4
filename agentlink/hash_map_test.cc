#include "agentlink/hash_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

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

TEST(AgentLinkHashMap, HashOfKeysOfEveryLength) {
  // The hash is worked out several bytes at a time; it must equal the
  // byte-by-byte rule (bytes signed) whatever the length.
  std::string key;
  for (int len = 0; len < 40; ++len) {
    uint32_t h = 5381;
    for (char c : key) h = h * 33u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
    EXPECT_EQ(h, qvd_internal::hash_function(key.c_str())) << len;
    key.push_back(static_cast<char>(len % 3 == 0 ? 0xE9 : 'a' + len));
  }
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
