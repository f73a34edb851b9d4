// HashMap: the agent link library's map from zero-terminated text keys to
// opaque data pointers, with its iterator HashMapIterator.
//
// It follows exactly the rules of the collector's QVDHashMap (see
// util/chained_hash_table.h): the string hash with bytes taken as signed,
// power-of-two bucket counts of at least 32, load factor 0.75, insertion at
// the chain head, doubling with re-linking by the stored hash, iteration by
// ascending bucket and chain order.  The map owns only its entry blocks;
// keys and data stay the caller's.
//
// Allocation failure: put() returns false and the map is unchanged; a
// resize that cannot allocate keeps the old table.  Nothing aborts.
//
// Thread-safety: none; the owner guards a shared map (the client API guards
// its request map with outstandingReqHashLock).
#ifndef QVD_AGENTLINK_HASH_MAP_H_
#define QVD_AGENTLINK_HASH_MAP_H_

#include "util/chained_hash_table.h"

class HashMap;

// Walks a HashMap: while (it.hasNext()) { it.next(); use(it.getKey(),
// it.getData()); }.  Invalid once the map changes.
class HashMapIterator : public qvd_internal::HashTableCursor {
 public:
  explicit HashMapIterator(const HashMap* map);
  virtual ~HashMapIterator() {}
};

class HashMap : public qvd_internal::ChainedHashTable {
 public:
  // 64 buckets.
  HashMap();
  // 32 buckets, doubled while below n.
  explicit HashMap(int n);
  // Frees every entry and the bucket array; keys and data untouched.
  virtual ~HashMap();

  // An iterator positioned before the first entry.
  HashMapIterator iterator() const { return HashMapIterator(this); }

 protected:
  // For a derived map that supplies its own storage with lendStorage():
  // no bucket array yet, nothing allocated.
  struct Unallocated {};
  explicit HashMap(Unallocated) {}
};

// foreach() callback that frees key and data (each when not null); `arg` is
// ignored.  For maps whose keys and data are heap blocks the caller owns.
void hashMapFreeKeyData(const char* key, const void* data, void* arg);

#endif  // QVD_AGENTLINK_HASH_MAP_H_
