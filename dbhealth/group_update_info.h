// GroupUpdateInfo: one change of the server's directory groups, a row of
// the Velora_Group_Updates table; GroupUpdateInfoList, the bounded owning
// list of the changes one request reports, and its iterator.
//
// List result codes: 0 success; 1 absent record; 2 out of memory; 101 the
// list holds 512 records.
//
// Thread-safety: none; the dispatch thread alone uses them.
#ifndef QVD_DBHEALTH_GROUP_UPDATE_INFO_H_
#define QVD_DBHEALTH_GROUP_UPDATE_INFO_H_

#include <cstdint>

// The update texts.
extern const char kGroupAdded[];    // "Add"
extern const char kGroupDeleted[];  // "Delete"

class GroupUpdateInfo {
 public:
  // Both texts empty.
  GroupUpdateInfo();
  // Copies both texts (null: empty), cut to 256 and 100 characters.
  GroupUpdateInfo(const char* groupName, const char* update);

  // A new record with both texts; the caller owns it.  Null when memory
  // runs out.
  GroupUpdateInfo* copy() const;

  // Copies the group name into name (at most nameSize bytes) and the update
  // into update (at most updateSize bytes), each terminated.  0; 1 when a
  // buffer is null; 52 when a size is below 1.
  int toString(char* name, int nameSize, char* update, int updateSize) const;

  const char* getGroupName() const { return m_groupName; }
  const char* getUpdate() const { return m_update; }

 private:
  char m_groupName[257];
  char m_update[101];
};

class GroupUpdateInfoList {
 public:
  static constexpr int32_t kCapacity = 512;

  GroupUpdateInfoList();
  ~GroupUpdateInfoList();
  GroupUpdateInfoList(const GroupUpdateInfoList&) = delete;
  GroupUpdateInfoList& operator=(const GroupUpdateInfoList&) = delete;

  // Stores a copy.  0, 1, 2 or 101.
  int add(const GroupUpdateInfo* record);
  // The record at i, or null outside 0..count-1.
  GroupUpdateInfo* getAt(int32_t i) const;
  // Appends copies of other's records in order.  0 (also for the list
  // itself), 101 as soon as the list is full, 2 when memory runs out.
  int cat(const GroupUpdateInfoList* other);

  int32_t getCount() const { return m_count; }
  int32_t getCapacity() const { return m_capacity; }

 private:
  GroupUpdateInfo** m_records;
  int32_t m_count = 0;
  int32_t m_capacity = kCapacity;
};

// Walks a GroupUpdateInfoList from the first record:
//   while (it.hasNext()) use(it.next());
class GroupUpdateInfoListIterator {
 public:
  explicit GroupUpdateInfoListIterator(const GroupUpdateInfoList* list) : m_list(list) {}
  bool hasNext() const;
  // Advances and returns the record; null when hasNext() is false.
  GroupUpdateInfo* next();

 private:
  const GroupUpdateInfoList* m_list;
  int32_t m_position = -1;
};

#endif  // QVD_DBHEALTH_GROUP_UPDATE_INFO_H_
