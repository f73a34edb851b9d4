// List: the agent link library's ordered list of untyped pointers, with its
// iterator ListIterator.
//
// The list owns its slot array, never the items.  The array grows in steps
// of 10 slots and never shrinks; clear() keeps it.
//
// Allocation failure: add() and insert() return false and the list is
// unchanged; a copy that cannot get its array is an empty list.  Nothing
// aborts.
//
// Thread-safety: none; an instance belongs to one thread at a time.
#ifndef QVD_AGENTLINK_LIST_H_
#define QVD_AGENTLINK_LIST_H_

#include <cstdint>

class List;

// Walks a List from the first item: while (it.hasNext()) use(it.next());
class ListIterator {
 public:
  explicit ListIterator(const List* list) : m_list(list) {}
  // True while items remain.
  bool hasNext() const;
  // The next item, advancing; null past the end.
  const void* next();

 private:
  const List* m_list;  // not owned
  int32_t m_index = 0;
};

class List {
 public:
  // Empty, no array.
  List();
  // Same count and capacity as *other, with a new array holding a copy of
  // all of its slots (the items are shared, not copied).  Null: empty list.
  explicit List(const List* other);
  // Frees the array, not the items.
  virtual ~List();
  List(const List&) = delete;
  List& operator=(const List&) = delete;

  // Appends item, growing by 10 slots when full.  Returns false when the
  // array cannot grow (list unchanged).
  bool add(const void* item);
  // Stores item at index, moving later items up.  index >= count appends;
  // a negative index changes nothing and returns false.  Returns false when
  // the array cannot grow.
  bool insert(int index, const void* item);
  // Takes out the item at index and moves later items down; null when index
  // is outside 0..count-1.
  const void* remove(int index);
  // The lowest index whose item matches, or -1.  With compare, an item
  // matches when compare(stored item, item) == 0; without, when it is the
  // same pointer.
  int find(const void* item, int (*compare)(const void*, const void*)) const;
  int getCount() const { return m_count; }
  int getCapacity() const { return m_capacity; }
  // The item at index; null when index is outside 0..count-1.
  const void* get(int index) const;
  // The last item, or null when empty.
  const void* peek() const;
  // Removes and returns the last item, or null when empty.
  const void* pop();
  // Count 0, every slot null; the array and capacity stay.
  void clear();
  ListIterator iterator() const { return ListIterator(this); }

 private:
  bool growIfFull();

  int32_t m_count = 0;
  int32_t m_capacity = 0;
  const void** m_items = nullptr;
};

#endif  // QVD_AGENTLINK_LIST_H_
