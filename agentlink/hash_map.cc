// HashMap: the agent link's map over the shared chained hash table.
#include "agentlink/hash_map.h"

#include <cstdlib>

HashMapIterator::HashMapIterator(const HashMap* map) : HashTableCursor(map) {}

HashMap::HashMap() { init(64); }

HashMap::HashMap(int n) { init(n); }

HashMap::~HashMap() {}

void hashMapFreeKeyData(const char* key, const void* data, void*) {
  std::free(const_cast<char*>(key));
  std::free(const_cast<void*>(data));
}
