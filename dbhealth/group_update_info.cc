#include "dbhealth/group_update_info.h"

#include <new>

#include "dbhealth/fixed_text.h"

const char kGroupAdded[] = "Add";
const char kGroupDeleted[] = "Delete";

GroupUpdateInfo::GroupUpdateInfo() { m_groupName[0] = m_update[0] = '\0'; }

GroupUpdateInfo::GroupUpdateInfo(const char* groupName, const char* update) {
  dbhealth::copyText(m_groupName, groupName);
  dbhealth::copyText(m_update, update);
}

GroupUpdateInfo* GroupUpdateInfo::copy() const { return new (std::nothrow) GroupUpdateInfo(*this); }

int GroupUpdateInfo::toString(char* name, int nameSize, char* update, int updateSize) const {
  if (name == nullptr || update == nullptr) return 1;
  if (nameSize < 1 || updateSize < 1) return 52;
  dbhealth::copyText(name, (size_t)nameSize, m_groupName);
  dbhealth::copyText(update, (size_t)updateSize, m_update);
  return 0;
}

GroupUpdateInfoList::GroupUpdateInfoList()
    : m_records(new (std::nothrow) GroupUpdateInfo*[kCapacity]()) {
  if (m_records == nullptr) m_capacity = 0;
}

GroupUpdateInfoList::~GroupUpdateInfoList() {
  for (int32_t i = 0; i < m_count; ++i) delete m_records[i];
  delete[] m_records;
}

int GroupUpdateInfoList::add(const GroupUpdateInfo* record) {
  if (record == nullptr) return 1;
  if (m_count >= m_capacity) return 101;
  GroupUpdateInfo* copy = record->copy();
  if (copy == nullptr) return 2;
  m_records[m_count++] = copy;
  return 0;
}

GroupUpdateInfo* GroupUpdateInfoList::getAt(int32_t i) const {
  return i >= 0 && i < m_count ? m_records[i] : nullptr;
}

int GroupUpdateInfoList::cat(const GroupUpdateInfoList* other) {
  if (other == nullptr || other == this) return 0;
  for (int32_t i = 0; i < other->m_count; ++i) {
    int rc = add(other->m_records[i]);
    if (rc != 0) return rc;
  }
  return 0;
}

bool GroupUpdateInfoListIterator::hasNext() const {
  return m_list != nullptr && m_list->getCount() > 0 && m_position < m_list->getCount() - 1;
}

GroupUpdateInfo* GroupUpdateInfoListIterator::next() {
  if (!hasNext()) return nullptr;
  return m_list->getAt(++m_position);
}
