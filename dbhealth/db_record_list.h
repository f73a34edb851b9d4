// DbRecordList: the bounded, owning list of the database check's result
// records, and its iterator.  DbCorruptFailoverList and DbStatisticsInfoList
// are this list over their record types.
//
// Result codes: 0 success; 1 absent argument; 2 out of memory; 101 the list
// holds `limit` records already; 102 snatchFrom: the source holds more
// records than this list's limit.
//
// Ownership: the list owns its records; add stores a copy (the record's
// copy()).  Pointers returned by getAt/next stay valid until the record is
// removed or moved away.
//
// Thread-safety: none.  The published lists are guarded by
// checkDBResultMutex (dbhealth/check_database.h).
#ifndef QVD_DBHEALTH_DB_RECORD_LIST_H_
#define QVD_DBHEALTH_DB_RECORD_LIST_H_

#include <algorithm>
#include <cstdint>
#include <new>

#include "dbhealth/db_corrupt_failover.h"
#include "dbhealth/db_statistics_info.h"

template <typename Record>
class DbRecordList {
 public:
  static constexpr int32_t kSlotStep = 1024;

  // Limit 1024, 1024 slots.
  DbRecordList() : DbRecordList(kSlotStep) {}
  // Limit n (at least 0), min(n, 1024) slots.
  explicit DbRecordList(int32_t n) : m_limit(std::max<int32_t>(n, 0)) {
    int32_t slots = std::min(m_limit, kSlotStep);
    m_records = new (std::nothrow) Record*[slots > 0 ? slots : 1]();
    m_slots = m_records != nullptr ? slots : 0;
  }
  ~DbRecordList() {
    removeAll();
    delete[] m_records;
  }
  DbRecordList(const DbRecordList&) = delete;
  DbRecordList& operator=(const DbRecordList&) = delete;

  // Stores a copy of `record`.  Returns 0, 1 (null), 101 (full) or 2 (no
  // memory; nothing stored).
  int add(const Record* record) {
    if (record == nullptr) return 1;
    if (m_count >= m_limit) return 101;
    if (m_count >= m_slots && !grow(std::min<int64_t>((int64_t)m_slots + kSlotStep, m_limit)))
      return 2;
    Record* copy = record->copy();
    if (copy == nullptr) return 2;
    m_records[m_count++] = copy;
    return 0;
  }

  // The record at i, or null outside 0..count-1.
  Record* getAt(int32_t i) const { return i >= 0 && i < m_count ? m_records[i] : nullptr; }

  // Destroys every record.
  void removeAll() {
    for (int32_t i = 0; i < m_count; ++i) delete m_records[i];
    m_count = 0;
  }

  // Forgets every record without destroying it (another list owns them now).
  void clear() { m_count = 0; }

  // Moves every record of `source` here, in order, replacing this list's
  // records; source ends empty.  Returns 0, 1 (null source), 102 (source
  // holds more than this list's limit; nothing changes) or 2 (no memory:
  // this list is left empty, source unchanged).  Moving a list into itself
  // changes nothing.
  int snatchFrom(DbRecordList* source) {
    if (source == nullptr) return 1;
    if (source == this) return 0;
    if (m_limit < source->m_count) return 102;
    removeAll();
    int64_t wanted = std::min<int64_t>(((int64_t)source->m_count / kSlotStep + 1) * kSlotStep, m_limit);
    if (m_slots < wanted && !replaceSlots((int32_t)wanted)) return 2;
    std::copy(source->m_records, source->m_records + source->m_count, m_records);
    m_count = source->m_count;
    source->clear();
    return 0;
  }

  int32_t getCount() const { return m_count; }
  int32_t getLimit() const { return m_limit; }
  int32_t getSlots() const { return m_slots; }
  bool isEmpty() const { return m_count == 0; }

 private:
  // Enlarges the slot array to n slots, keeping the records.
  bool grow(int64_t n) {
    if (n <= m_slots) return false;
    Record** bigger = new (std::nothrow) Record*[n]();
    if (bigger == nullptr) return false;
    std::copy(m_records, m_records + m_count, bigger);
    delete[] m_records;
    m_records = bigger;
    m_slots = (int32_t)n;
    return true;
  }
  // Replaces the (empty) slot array by one of n slots.
  bool replaceSlots(int32_t n) {
    Record** fresh = new (std::nothrow) Record*[n]();
    if (fresh == nullptr) return false;
    delete[] m_records;
    m_records = fresh;
    m_slots = n;
    return true;
  }

  int32_t m_count = 0;
  int32_t m_limit;
  int32_t m_slots = 0;
  Record** m_records = nullptr;
};

// Walks a DbRecordList from the first record:
//   while (it.hasNext()) use(it.next());
// The list must outlive the iterator and stay unchanged meanwhile.
template <typename Record>
class DbRecordListIterator {
 public:
  explicit DbRecordListIterator(const DbRecordList<Record>* list) : m_list(list) {}
  // True when a record follows the current one.
  bool hasNext() const {
    return m_list != nullptr && !m_list->isEmpty() && m_position < m_list->getCount() - 1;
  }
  // Advances and returns the record; null when hasNext() is false.
  Record* next() {
    if (!hasNext()) return nullptr;
    return m_list->getAt(++m_position);
  }

 private:
  const DbRecordList<Record>* m_list;
  int32_t m_position = -1;
};

using DbCorruptFailoverList = DbRecordList<DbCorruptFailover>;
using DbStatisticsInfoList = DbRecordList<DbStatisticsInfo>;
using DbCorruptFailoverListIterator = DbRecordListIterator<DbCorruptFailover>;
using DbStatisticsInfoListIterator = DbRecordListIterator<DbStatisticsInfo>;

#endif  // QVD_DBHEALTH_DB_RECORD_LIST_H_
