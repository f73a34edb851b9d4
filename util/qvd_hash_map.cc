// QVDHashMap over the shared chained hash table.
#include "util/qvd_hash_map.h"

#include <cstdlib>

QVDHashMapIterator::QVDHashMapIterator(const QVDHashMap* map) : HashTableCursor(map) {}

QVDHashMap::QVDHashMap() { init(64); }

QVDHashMap::QVDHashMap(int n) { init(n); }

QVDHashMap::~QVDHashMap() {}

void qvdHashMapFreeKeyData(const char* key, const void* data, void*) {
  std::free(const_cast<char*>(key));
  std::free(const_cast<void*>(data));
}
