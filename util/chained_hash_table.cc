// Chained hash table shared by QVDHashMap and the agent link's HashMap.
#include "util/chained_hash_table.h"

#include <cstdlib>
#include <cstring>
#include <functional>

#include "framework/trace.h"

QVD_TRACE_UNIT("util/hashmap");

namespace qvd_internal {

namespace {

// 16M buckets (128 MB of chain heads): a size asked for beyond this, or a
// table grown past it, stops doubling and lets its chains grow instead of
// asking for gigabytes.
const int32_t kMaxCapacity = 1 << 24;

int32_t ThresholdOf(int32_t capacity) { return static_cast<int32_t>(capacity * 3 / 4); }

HashEntry** NewBuckets(int32_t capacity) {
  void* p = std::calloc(static_cast<size_t>(capacity), sizeof(HashEntry*));
  if (p == nullptr) {
    QVD_ERROR("Out of memory: cannot obtain a hash table of %d buckets", capacity);
  }
  return static_cast<HashEntry**>(p);
}

// The byte counts as signed: 0xE9 adds -23, not 233.
inline uint32_t Byte(const char* p) { return static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p))); }

inline uint32_t HashOf(const char* p) {
  // h * 33 + c taken four bytes a round (h * 33^4 + c0 * 33^3 + ...; exact
  // modulo 2^32), so the multiply chain is a quarter as long.
  uint32_t h = 5381;
  for (;; p += 4) {
    if (p[0] == '\0') return h;
    if (p[1] == '\0') return h * 33u + Byte(p);
    if (p[2] == '\0') return h * 1089u + Byte(p) * 33u + Byte(p + 1);
    if (p[3] == '\0') return h * 35937u + Byte(p) * 1089u + Byte(p + 1) * 33u + Byte(p + 2);
    h = h * 1185921u + Byte(p) * 35937u + Byte(p + 1) * 1089u + Byte(p + 2) * 33u + Byte(p + 3);
  }
}

// Byte-wise equality of two texts; map keys are short, so a loop here beats
// a library call.
inline bool SameKey(const char* a, const char* b) {
  while (*a == *b) {
    if (*a == '\0') return true;
    ++a;
    ++b;
  }
  return false;
}

}  // namespace

uint32_t hash_function(const char* key) { return HashOf(key); }

ChainedHashTable::~ChainedHashTable() {
  freeEntries();
  deleteBuckets(m_buckets);
}

HashEntry* ChainedHashTable::newEntry() {
  HashStorage* s = m_storage;
  if (s != nullptr) {
    if (s->spare != nullptr) {
      HashEntry* e = s->spare;
      s->spare = e->next;
      return e;
    }
    if (s->used < s->entryCount) return &s->entries[s->used++];
  }
  return static_cast<HashEntry*>(std::malloc(sizeof(HashEntry)));
}

void ChainedHashTable::deleteEntry(HashEntry* e) {
  HashStorage* s = m_storage;
  std::less<const HashEntry*> before;
  if (s != nullptr && !before(e, s->entries) && before(e, s->entries + s->entryCount)) {
    e->next = s->spare;
    s->spare = e;
    return;
  }
  std::free(e);
}

void ChainedHashTable::deleteBuckets(HashEntry** buckets) {
  if (buckets != nullptr && (m_storage == nullptr || buckets != m_storage->buckets)) std::free(buckets);
}

void ChainedHashTable::freeEntries() {
  // A count of 0 means every chain is empty: nothing to walk.
  if (m_buckets != nullptr && m_count != 0) {
    for (int32_t i = 0; i < m_capacity; i++) {
      HashEntry* e = m_buckets[i];
      while (e != nullptr) {
        HashEntry* next = e->next;
        deleteEntry(e);
        e = next;
      }
      m_buckets[i] = nullptr;
    }
  }
  if (m_storage != nullptr) {
    // Every lent block is free again; hand them out from the front.
    m_storage->used = 0;
    m_storage->spare = nullptr;
  }
}

void ChainedHashTable::lendStorage(HashStorage* storage, int32_t capacity) {
  freeEntries();
  deleteBuckets(m_buckets);
  m_storage = storage;
  storage->used = 0;
  storage->spare = nullptr;
  m_capacity = capacity;
  m_threshold = ThresholdOf(capacity);
  m_count = 0;
  m_buckets = storage->buckets;
  noteChange();
}

void ChainedHashTable::returnStorage() {
  freeEntries();
  m_count = 0;
  deleteBuckets(m_buckets);
  m_buckets = nullptr;
  m_storage = nullptr;
}

void ChainedHashTable::init(int n) {
  freeEntries();
  deleteBuckets(m_buckets);
  noteChange();
  int32_t capacity = 32;
  while (capacity < n && capacity < kMaxCapacity) capacity *= 2;
  m_capacity = capacity;
  m_threshold = ThresholdOf(capacity);
  m_count = 0;
  m_buckets = NewBuckets(capacity);
}

HashEntry* ChainedHashTable::find(const char* key, uint32_t hash) const {
  if (m_buckets == nullptr || key == nullptr) return nullptr;
  for (HashEntry* e = m_buckets[hash & static_cast<uint32_t>(m_capacity - 1)]; e != nullptr; e = e->next) {
    if (e->hash == hash && SameKey(e->key, key)) return e;
  }
  return nullptr;
}

bool ChainedHashTable::put(const char* key, const void* data) {
  if (key == nullptr) return false;
  return putHashed(key, HashOf(key), data);
}

bool ChainedHashTable::putHashed(const char* key, uint32_t hash, const void* data) {
  noteChange();
  HashEntry* e = find(key, hash);
  if (e != nullptr) {
    e->data = data;
    return true;
  }
  if (m_buckets == nullptr && (m_buckets = NewBuckets(m_capacity)) == nullptr) return false;
  e = newEntry();
  if (e == nullptr) {
    QVD_ERROR("Out of memory: cannot store the hash map key %s", key);
    return false;
  }
  HashEntry** head = &m_buckets[hash & static_cast<uint32_t>(m_capacity - 1)];
  e->next = *head;
  e->hash = hash;
  e->key = key;
  e->data = data;
  *head = e;
  m_count++;
  if (m_count > m_threshold) resize();
  return true;
}

const void* ChainedHashTable::get(const char* key) const {
  // An empty map (every element without attributes gets one) needs no hash.
  if (m_count == 0 || key == nullptr) return nullptr;
  HashEntry* e = find(key, HashOf(key));
  return e != nullptr ? e->data : nullptr;
}

bool ChainedHashTable::contains(const char* key) const {
  if (m_count == 0 || key == nullptr) return false;
  return find(key, HashOf(key)) != nullptr;
}

const void* ChainedHashTable::remove(const char* key, const char** removedKey) {
  if (removedKey != nullptr) *removedKey = nullptr;
  if (key == nullptr || m_buckets == nullptr) return nullptr;
  uint32_t hash = HashOf(key);
  for (HashEntry** link = &m_buckets[hash & static_cast<uint32_t>(m_capacity - 1)]; *link != nullptr;
       link = &(*link)->next) {
    HashEntry* e = *link;
    if (e->hash != hash || !SameKey(e->key, key)) continue;
    *link = e->next;
    const void* data = e->data;
    if (removedKey != nullptr) *removedKey = e->key;
    deleteEntry(e);
    noteChange();
    if (m_count >= 1) m_count--;
    return data;
  }
  return nullptr;
}

void ChainedHashTable::foreach(HashForeachFn fn, void* arg) const {
  if (fn == nullptr || m_buckets == nullptr) return;
  for (int32_t i = 0; i < m_capacity; i++) {
    for (HashEntry* e = m_buckets[i]; e != nullptr;) {
      HashEntry* next = e->next;
      fn(e->key, e->data, arg);
      e = next;
    }
  }
}

void ChainedHashTable::resize() {
  if (m_capacity >= kMaxCapacity) return;
  int32_t capacity = m_capacity * 2;
  HashEntry** buckets = NewBuckets(capacity);
  if (buckets == nullptr) return;
  noteChange();
  uint32_t mask = static_cast<uint32_t>(capacity - 1);
  if (m_buckets != nullptr) {
    for (int32_t i = 0; i < m_capacity; i++) {
      HashEntry* e = m_buckets[i];
      while (e != nullptr) {
        HashEntry* next = e->next;
        HashEntry** head = &buckets[e->hash & mask];
        e->next = *head;
        *head = e;
        e = next;
      }
    }
    deleteBuckets(m_buckets);
  }
  m_buckets = buckets;
  m_capacity = capacity;
  m_threshold = ThresholdOf(capacity);
}

void ChainedHashTable::clear() {
  freeEntries();
  m_count = 0;
  noteChange();
}

bool HashTableCursor::hasNext() const {
  const ChainedHashTable* t = m_map;
  if (t == nullptr || t->m_buckets == nullptr || m_index >= t->m_capacity) return false;
  if (m_entry != nullptr && m_entry->next != nullptr) return true;
  for (int32_t i = m_index + 1; i < t->m_capacity; i++) {
    if (t->m_buckets[i] != nullptr) return true;
  }
  return false;
}

void HashTableCursor::next() {
  const ChainedHashTable* t = m_map;
  if (t == nullptr || t->m_buckets == nullptr) {
    m_entry = nullptr;
    return;
  }
  if (m_index >= t->m_capacity) return;
  if (m_entry != nullptr && m_entry->next != nullptr) {
    m_entry = m_entry->next;
    return;
  }
  for (m_index++; m_index < t->m_capacity; m_index++) {
    if (t->m_buckets[m_index] != nullptr) {
      m_entry = t->m_buckets[m_index];
      return;
    }
  }
  m_entry = nullptr;
}

}  // namespace qvd_internal
