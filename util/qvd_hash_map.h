// QVDHashMap: the collector's map from zero-terminated text keys to opaque
// data pointers, with its iterator QVDHashMapIterator.
//
// A chained hash table: 64 buckets by default (a power of two, at least
// 32), load factor 0.75, new keys at the head of their chain, doubling when
// the count exceeds the threshold.  Iteration runs over the buckets in
// ascending index, each chain from its head; the order of keys is an
// artefact of hashing and insertion history.  Details, and what an
// allocation failure does (put() returns false, the map stays as it was),
// are in util/chained_hash_table.h.
//
// Ownership: the map owns its bucket array and entry blocks only.  Keys and
// data belong to the caller, who keeps them alive while they are in the map
// and releases them himself (for instance foreach(qvdHashMapFreeKeyData)
// before clear() or destruction).  A key keeps the pointer of its first
// put().
//
// Thread-safety: none; a shared map is guarded by its owner.  Any change to
// a map invalidates its iterators.
#ifndef QVD_UTIL_QVD_HASH_MAP_H_
#define QVD_UTIL_QVD_HASH_MAP_H_

#include "util/chained_hash_table.h"

class QVDHashMap;

// Walks a QVDHashMap: while (it.hasNext()) { it.next(); use(it.getKey(),
// it.getData()); }.
class QVDHashMapIterator : public qvd_internal::HashTableCursor {
 public:
  explicit QVDHashMapIterator(const QVDHashMap* map);
  virtual ~QVDHashMapIterator() {}
};

class QVDHashMap : public qvd_internal::ChainedHashTable {
 public:
  // 64 buckets.
  QVDHashMap();
  // 32 buckets, doubled while below n.
  explicit QVDHashMap(int n);
  // Frees every entry and the bucket array; keys and data untouched.
  virtual ~QVDHashMap();

  // An iterator positioned before the first entry.
  QVDHashMapIterator iterator() const { return QVDHashMapIterator(this); }
};

// foreach() callback that frees key and data (each when not null); `arg` is
// ignored.
void qvdHashMapFreeKeyData(const char* key, const void* data, void* arg);

#endif  // QVD_UTIL_QVD_HASH_MAP_H_
