// List: the agent link's pointer list.
#include "agentlink/list.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("agentlink/list");

namespace {
const int32_t kGrowthStep = 10;
}  // namespace

bool ListIterator::hasNext() const { return m_list != nullptr && m_index < m_list->getCount(); }

const void* ListIterator::next() {
  if (!hasNext()) return nullptr;
  return m_list->get(m_index++);
}

List::List() {}

List::List(const List* other) {
  if (other == nullptr || other->m_capacity == 0) return;
  size_t bytes = static_cast<size_t>(other->m_capacity) * sizeof(const void*);
  m_items = static_cast<const void**>(std::malloc(bytes));
  if (m_items == nullptr) {
    QVD_ERROR("Out of memory: cannot copy a list of %d slots", other->m_capacity);
    return;
  }
  std::memcpy(m_items, other->m_items, bytes);
  m_count = other->m_count;
  m_capacity = other->m_capacity;
}

List::~List() { std::free(m_items); }

bool List::growIfFull() {
  if (m_count < m_capacity) return true;
  if (m_capacity > INT_MAX - kGrowthStep) return false;
  int32_t capacity = m_capacity + kGrowthStep;
  void* p = std::realloc(m_items, static_cast<size_t>(capacity) * sizeof(const void*));
  if (p == nullptr) {
    QVD_ERROR("Out of memory: cannot grow a list to %d slots", capacity);
    return false;
  }
  m_items = static_cast<const void**>(p);
  // New slots start null, like the slots clear() leaves.
  for (int32_t i = m_capacity; i < capacity; i++) m_items[i] = nullptr;
  m_capacity = capacity;
  return true;
}

bool List::add(const void* item) {
  if (!growIfFull()) return false;
  m_items[m_count++] = item;
  return true;
}

bool List::insert(int index, const void* item) {
  if (index < 0) return false;
  if (index >= m_count) return add(item);
  if (!growIfFull()) return false;
  std::memmove(&m_items[index + 1], &m_items[index],
               static_cast<size_t>(m_count - index) * sizeof(const void*));
  m_items[index] = item;
  m_count++;
  return true;
}

const void* List::remove(int index) {
  if (index < 0 || index >= m_count) return nullptr;
  const void* item = m_items[index];
  std::memmove(&m_items[index], &m_items[index + 1],
               static_cast<size_t>(m_count - index - 1) * sizeof(const void*));
  m_count--;
  m_items[m_count] = nullptr;
  return item;
}

int List::find(const void* item, int (*compare)(const void*, const void*)) const {
  for (int32_t i = 0; i < m_count; i++) {
    if (compare != nullptr ? compare(m_items[i], item) == 0 : m_items[i] == item) return i;
  }
  return -1;
}

const void* List::get(int index) const {
  if (index < 0 || index >= m_count) return nullptr;
  return m_items[index];
}

const void* List::peek() const { return m_count > 0 ? m_items[m_count - 1] : nullptr; }

const void* List::pop() {
  if (m_count == 0) return nullptr;
  const void* item = m_items[--m_count];
  m_items[m_count] = nullptr;
  return item;
}

void List::clear() {
  for (int32_t i = 0; i < m_capacity; i++) m_items[i] = nullptr;
  m_count = 0;
}
