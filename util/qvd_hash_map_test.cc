#include "util/qvd_hash_map.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Keys(const QVDHashMap& map) {
  std::vector<std::string> keys;
  QVDHashMapIterator it = map.iterator();
  while (it.hasNext()) {
    it.next();
    keys.push_back(it.getKey());
  }
  return keys;
}

// Bucket order of keys as the map must keep it, computed independently.
std::vector<std::string> ExpectedOrder(const std::vector<std::string>& inserted, uint32_t capacity) {
  std::vector<std::vector<std::string>> buckets(capacity);
  for (const std::string& k : inserted) {
    uint32_t h = 5381;
    for (unsigned char c : k) h = h * 33 + static_cast<uint32_t>(c >= 0x80 ? int(c) - 256 : int(c));
    auto& chain = buckets[h & (capacity - 1)];
    chain.insert(chain.begin(), k);
  }
  std::vector<std::string> order;
  for (auto& chain : buckets) order.insert(order.end(), chain.begin(), chain.end());
  return order;
}

TEST(QvdHashMap, CapacityAndThreshold) {
  QVDHashMap def;
  EXPECT_EQ(64, def.getCapacity());
  EXPECT_EQ(48, def.getThreshold());
  QVDHashMap ten(10);
  EXPECT_EQ(32, ten.getCapacity());
  EXPECT_EQ(24, ten.getThreshold());
  QVDHashMap hundred(100);
  EXPECT_EQ(128, hundred.getCapacity());
  EXPECT_EQ(96, hundred.getThreshold());
  EXPECT_EQ(32, QVDHashMap(-1).getCapacity());
  // An absurd size is capped instead of doubling past the integer range.
  EXPECT_EQ(1 << 24, QVDHashMap(INT_MAX).getCapacity());
}

TEST(QvdHashMap, HashCountsHighBytesAsNegative) {
  EXPECT_EQ(5381u, qvd_internal::hash_function(""));
  EXPECT_EQ(177670u, qvd_internal::hash_function("a"));
  EXPECT_EQ(5381u * 33u - 23u, qvd_internal::hash_function("\xe9"));
  EXPECT_EQ((5381u * 33u + 97u) * 33u - 128u, qvd_internal::hash_function("a\x80"));

  // With 512 buckets a signed and an unsigned byte land 256 buckets apart,
  // which the iteration order shows.
  std::vector<std::string> keys = {"\xe9", "a", "\xff\xfe", "z\xc3\xa9", "b"};
  QVDHashMap map(512);
  for (const std::string& k : keys) map.put(k.c_str(), nullptr);
  EXPECT_EQ(ExpectedOrder(keys, 512), Keys(map));
}

TEST(QvdHashMap, PutGetRemove) {
  QVDHashMap map;
  char first[] = "key", second[] = "key";
  int one = 1, two = 2;
  EXPECT_TRUE(map.put(first, &one));
  EXPECT_TRUE(map.put(second, &two));
  EXPECT_EQ(1, map.getCount());
  EXPECT_EQ(&two, map.get("key"));
  EXPECT_FALSE(map.contains("KEY"));  // case-sensitive
  EXPECT_EQ(nullptr, map.get("absent"));

  const char* removed = "unset";
  EXPECT_EQ(nullptr, map.remove("absent", &removed));
  EXPECT_EQ(nullptr, removed);
  EXPECT_EQ(&two, map.remove("key", &removed));
  EXPECT_EQ(first, removed);  // the pointer of the first put
  EXPECT_EQ(0, map.getCount());
  EXPECT_FALSE(map.contains("key"));
  EXPECT_EQ(nullptr, map.remove("key", nullptr));
  EXPECT_EQ(0, map.getCount());

  EXPECT_FALSE(map.put(nullptr, &one));
  EXPECT_EQ(nullptr, map.get(nullptr));
}

TEST(QvdHashMap, RemoveFromTheMiddleOfAChain) {
  // Three keys that share bucket 5; the chain holds them newest first.
  QVDHashMap map(32);
  std::vector<std::string> same;
  for (int i = 0; same.size() < 3; i++) {
    std::string k = "k" + std::to_string(i);
    if ((qvd_internal::hash_function(k.c_str()) & 31) == 5) same.push_back(k);
  }
  for (const std::string& k : same) map.put(k.c_str(), k.c_str());
  EXPECT_EQ(same[1].c_str(), map.remove(same[1].c_str(), nullptr));
  EXPECT_EQ((std::vector<std::string>{same[2], same[0]}), Keys(map));
}

TEST(QvdHashMap, ResizeKeepsEveryKeyAndTheRelinkOrder) {
  std::vector<std::string> keys;
  for (int i = 0; i < 49; i++) keys.push_back("server" + std::to_string(i * 7));
  QVDHashMap map;
  for (int i = 0; i < 48; i++) map.put(keys[i].c_str(), keys[i].c_str());
  EXPECT_EQ(64, map.getCapacity());
  map.put(keys[48].c_str(), keys[48].c_str());
  EXPECT_EQ(128, map.getCapacity());
  EXPECT_EQ(96, map.getThreshold());
  EXPECT_EQ(49, map.getCount());
  for (const std::string& k : keys) EXPECT_EQ(k.c_str(), map.get(k.c_str())) << k;

  // The 49th key joins its chain before the resize it triggers; the resize
  // then moves each old chain, from its head, to the heads of new chains.
  auto bucket = [](const std::string& k, uint32_t cap) { return qvd_internal::hash_function(k.c_str()) & (cap - 1); };
  std::vector<std::vector<std::string>> old_buckets(64), new_buckets(128);
  for (const std::string& k : keys) old_buckets[bucket(k, 64)].insert(old_buckets[bucket(k, 64)].begin(), k);
  for (const auto& chain : old_buckets) {
    for (const std::string& k : chain) new_buckets[bucket(k, 128)].insert(new_buckets[bucket(k, 128)].begin(), k);
  }
  std::vector<std::string> relinked;
  for (const auto& chain : new_buckets) relinked.insert(relinked.end(), chain.begin(), chain.end());
  EXPECT_EQ(relinked, Keys(map));
}

TEST(QvdHashMap, IteratorAndForeach) {
  QVDHashMap empty;
  QVDHashMapIterator none = empty.iterator();
  EXPECT_FALSE(none.hasNext());
  none.next();  // harmless past the end
  EXPECT_FALSE(none.hasNext());

  QVDHashMap map(32);
  map.put("b", nullptr);  // bucket 7
  map.put("a", nullptr);  // bucket 6
  map.put("A", nullptr);  // bucket 6 as well (177638)
  std::vector<std::string> seen;
  map.foreach([](const char* key, const void*, void* arg) {
    static_cast<std::vector<std::string>*>(arg)->push_back(key);
  }, &seen);
  EXPECT_EQ(Keys(map), seen);
  EXPECT_EQ(ExpectedOrder({"b", "a", "A"}, 32), seen);

  QVDHashMapIterator it = map.iterator();
  for (int i = 0; i < 3; i++) {
    ASSERT_TRUE(it.hasNext());
    it.next();
  }
  EXPECT_FALSE(it.hasNext());
  it.next();
  EXPECT_EQ(nullptr, it.getKey());
}

TEST(QvdHashMap, ClearKeepsCapacityAndFreeKeyDataReleasesOwnedCopies) {
  QVDHashMap map(32);
  for (int i = 0; i < 30; i++) {
    std::string k = "id" + std::to_string(i);
    map.put(strdup(k.c_str()), i % 2 ? strdup("value") : nullptr);
  }
  EXPECT_EQ(64, map.getCapacity());
  map.foreach(qvdHashMapFreeKeyData, nullptr);
  map.clear();
  EXPECT_EQ(0, map.getCount());
  EXPECT_EQ(64, map.getCapacity());
  EXPECT_EQ(48, map.getThreshold());
  EXPECT_FALSE(map.iterator().hasNext());
  EXPECT_TRUE(map.put("again", nullptr));
  EXPECT_TRUE(map.contains("again"));
}

}  // namespace
