#include "agentlink/hash_map.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Keys(const HashMap& map) {
  std::vector<std::string> keys;
  HashMapIterator it = map.iterator();
  while (it.hasNext()) {
    it.next();
    keys.push_back(it.getKey());
  }
  return keys;
}

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

TEST(AgentLinkHashMap, IteratesInBucketOrderAcrossAResize) {
  // With 32 buckets "a" (hash 177670) lands in bucket 6, "b" in 7; the 25th
  // key doubles the table and every key is still found.
  HashMap map(32);
  std::vector<std::string> keys;
  for (int i = 0; i < 25; i++) keys.push_back("key" + std::to_string(i));
  for (const std::string& k : keys) map.put(k.c_str(), k.c_str());
  EXPECT_EQ(64, map.getCapacity());
  EXPECT_EQ(48, map.getThreshold());
  for (const std::string& k : keys) EXPECT_EQ(k.c_str(), map.get(k.c_str()));
  EXPECT_EQ(25u, Keys(map).size());

  HashMap order(32);
  order.put("b", nullptr);
  order.put("a", nullptr);
  EXPECT_EQ((std::vector<std::string>{"a", "b"}), Keys(order));
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
