// QVD::StringList: an ordered list of owned QVD::String copies with an upper
// bound on its length, and QVD::StringListIterator to walk it.
//
// Result codes of the list:
//   0    success
//   1    bad argument (null text, index outside the list, bad index set)
//   2    out of memory: the copy or the larger entry array could not be
//        obtained; the list is unchanged
//   101  the list is full (count has reached maxCount)
// Lookups never fail: outside the list they return QVD::EMPTY_STRING.
//
// Ownership: the list owns every entry; references it returns stay valid
// until that entry is removed or the list destroyed.
//
// Thread-safety: none; a list shared between threads is guarded by its
// owner.
#ifndef QVD_UTIL_STRING_LIST_H_
#define QVD_UTIL_STRING_LIST_H_

#include <cstdint>

#include "util/qvd_string.h"

namespace QVD {

class StringList {
 public:
  // Empty, maxCount 1024.
  StringList();
  // Empty, maxCount max; max < 1 gives a list that refuses every add (101).
  explicit StringList(int max);
  ~StringList();
  StringList(const StringList&) = delete;
  StringList& operator=(const StringList&) = delete;

  // Appends a copy of s.  Returns 0, 1 (null s), 101 (full) or 2 (no
  // memory).  The entry array grows by 1024 entries when full.
  int add(const char* s);
  // Deletes the entry at index, moving later entries down.  Returns 0, or 1
  // (no change) when index is outside 0..count-1.
  int remove(int index);
  // Deletes the n entries whose indexes (into the list as it was before the
  // call) are given in strictly ascending order.  Returns 0, or 1 without
  // any change when n is negative or above count, indices is null while n
  // > 0, or an index is negative, not above its predecessor, or count or
  // more.
  int remove(const int* indices, int n);
  // Deletes every entry; the array and maxCount stay.
  void removeAll();
  // The entry at index; QVD::EMPTY_STRING outside 0..count-1.
  const String& getAt(int index) const;
  // True when some entry equals s exactly; false for a null or empty s.
  bool contains(const char* s) const;
  int getCount() const { return m_count; }
  int getMaxCount() const { return m_maxCount; }

  // Appends to list every non-empty part of text between separators, in
  // order (add results are not reported: a full list drops the rest).
  // Nothing happens when text or list is null.
  static void StringToList(const char* text, char separator, StringList* list);

 private:
  int32_t m_count = 0;
  int32_t m_maxCount = 0;
  int32_t m_allocated = 0;
  String** m_items = nullptr;
};

// Walks a StringList from the first entry:
//   while (it.hasNext()) use(it.next());
// The list must outlive the iterator and stay unchanged meanwhile.
class StringListIterator {
 public:
  explicit StringListIterator(const StringList* list) : m_list(list) {}
  ~StringListIterator() { m_list = nullptr; }
  // True when an entry follows the current one.
  bool hasNext() const;
  // Advances and returns the entry; QVD::EMPTY_STRING when hasNext() is
  // false.
  const String& next();

 private:
  const StringList* m_list;
  int32_t m_index = -1;
};

}  // namespace QVD

#endif  // QVD_UTIL_STRING_LIST_H_
