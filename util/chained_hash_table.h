// Shared implementation of the collector's QVDHashMap and the agent link's
// HashMap: a chained hash table from zero-terminated text keys to opaque
// data pointers.  Not meant to be used on its own.
//
// Rules both maps promise:
//   - the bucket count is a power of two, at least 32 and at most 2^24 (a
//     larger size asked for is capped; a full table of 2^24 buckets stops
//     doubling); the threshold is the integer part of 0.75 x the bucket
//     count;
//   - a key's bucket is hash_function(key) AND (capacity - 1); a new key goes
//     to the head of its chain; when the count exceeds the threshold the
//     table doubles, moving each old chain, in bucket order and from its
//     head, to the heads of the new chains by the stored hash;
//   - iteration visits buckets in ascending index, each chain from its head.
//     Callers may see this order (it fixes the order of what they send) but
//     must not build on any particular order of keys;
//   - the map stores pointers only: keys and data belong to the caller, who
//     keeps them alive while they are in the map and frees them himself.
//
// Allocation failure: nothing is thrown and nothing aborts; the operation
// that needed memory leaves the map as it was and writes an error trace
// line.  put() returns false when the new key could not be stored; a resize
// that cannot get its new bucket array keeps the old one (the map keeps
// working, with longer chains) and is tried again on the next insertion; a
// map whose bucket array could not be obtained at construction holds nothing
// and tries again on the first put.
//
// Thread-safety: none inside; a shared map is guarded by its owner.  Any
// change to a map invalidates its iterators.
#ifndef QVD_UTIL_CHAINED_HASH_TABLE_H_
#define QVD_UTIL_CHAINED_HASH_TABLE_H_

#include <cstdint>

namespace qvd_internal {

// The string hash of both maps: h = 5381, then h = h * 33 + c for every byte
// c of the key taken as a signed 8-bit value, modulo 2^32.
uint32_t hash_function(const char* key);

// One key, one entry block (from the heap, or lent: see HashStorage).
struct HashEntry {
  HashEntry* next;
  uint32_t hash;
  const char* key;    // not owned: the pointer given to the first put
  const void* data;   // not owned
};

// Memory a derived table lends to its base so that a table used over and over
// (the agent link parser's attribute map) costs no heap allocation: a
// zero-filled bucket array the table starts with, and entry blocks handed out
// before any heap block.  The table never frees lent memory; everything it
// allocated itself it frees as usual.  The lender keeps the storage alive and
// unchanged while it is lent.
struct HashStorage {
  HashEntry** buckets = nullptr;  // the starting bucket array
  HashEntry* entries = nullptr;   // lent entry blocks
  int32_t entryCount = 0;         // how many
  int32_t used = 0;               // blocks handed out from the front
  HashEntry* spare = nullptr;     // lent blocks given back, reused first
  uint32_t changes = 0;           // bumped by every change through the table
};

// Callback of foreach().
typedef void (*HashForeachFn)(const char* key, const void* data, void* arg);

class ChainedHashTable {
 public:
  // Sets up an empty table: capacity 32, doubled while below n.  Any entries
  // held before are freed (not their keys or data).
  void init(int n);

  // Stores data under key.  A present key keeps its first key pointer and
  // gets the new data.  Returns true when stored, false when the entry could
  // not be allocated or key is null (map unchanged).
  bool put(const char* key, const void* data);
  // The key's data, or null when absent.
  const void* get(const char* key) const;
  // Unlinks the key's entry and returns its data (null when absent).  When
  // removedKey is not null it receives the stored key pointer, or null.
  const void* remove(const char* key, const char** removedKey);
  bool contains(const char* key) const;
  // Calls fn(key, data, arg) for every entry in iteration order.  fn may
  // free the key and data but must not change the map.
  void foreach(HashForeachFn fn, void* arg) const;
  // Doubles the capacity; keys are not hashed again.
  void resize();
  // Frees every entry; capacity and threshold stay.
  void clear();

  int getCount() const { return m_count; }
  int getCapacity() const { return m_capacity; }
  int getThreshold() const { return m_threshold; }

 protected:
  ChainedHashTable() = default;
  ~ChainedHashTable();
  ChainedHashTable(const ChainedHashTable&) = delete;
  ChainedHashTable& operator=(const ChainedHashTable&) = delete;

  // Starts an empty table of `capacity` buckets (a power of two, at least
  // 32) on lent storage; entries held before are freed.  The table may later
  // move to heap buckets (resize, init) but keeps using the lent entries.
  void lendStorage(HashStorage* storage, int32_t capacity);
  // Empties the table and stops using the lent storage (for the lender's
  // destructor).
  void returnStorage();
  // put() for a key whose hash_function value is already known.
  bool putHashed(const char* key, uint32_t hash, const void* data);

  int32_t m_count = 0;
  int32_t m_capacity = 0;
  int32_t m_threshold = 0;
  HashEntry** m_buckets = nullptr;
  HashStorage* m_storage = nullptr;  // lent memory, or null

 private:
  friend class HashTableCursor;
  HashEntry* find(const char* key, uint32_t hash) const;
  void freeEntries();
  HashEntry* newEntry();
  void deleteEntry(HashEntry* e);
  void deleteBuckets(HashEntry** buckets);
  void noteChange() {
    if (m_storage != nullptr) m_storage->changes++;
  }
};

// Iteration state shared by both maps' iterators.  Use: test hasNext(),
// call next(), then read getKey() and getData().
class HashTableCursor {
 public:
  // True when a next() would land on an entry.
  bool hasNext() const;
  // Moves to the next entry; past the last one the cursor ends.
  void next();
  // Key and data of the current entry; null before the first next() and
  // after the end.
  const char* getKey() const { return m_entry != nullptr ? m_entry->key : nullptr; }
  const void* getData() const { return m_entry != nullptr ? m_entry->data : nullptr; }

 protected:
  explicit HashTableCursor(const ChainedHashTable* table) : m_map(table) {}

  const ChainedHashTable* m_map;
  int32_t m_index = -1;
  HashEntry* m_entry = nullptr;
};

}  // namespace qvd_internal

#endif  // QVD_UTIL_CHAINED_HASH_TABLE_H_
