// QVD::StringList and its iterator.
#include "util/string_list.h"

#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "framework/trace.h"

QVD_TRACE_UNIT("util/stringlist");

namespace QVD {

namespace {
const int32_t kArrayStep = 1024;
}  // namespace

StringList::StringList() : StringList(kArrayStep) {}

StringList::StringList(int max) {
  if (max < 1) return;
  m_maxCount = max;
  int32_t slots = max < kArrayStep ? max : kArrayStep;
  m_items = static_cast<String**>(std::malloc(static_cast<size_t>(slots) * sizeof(String*)));
  if (m_items == nullptr) {
    QVD_ERROR("Out of memory: cannot obtain a string list of %d entries", slots);
    return;  // add() tries again
  }
  m_allocated = slots;
}

StringList::~StringList() {
  removeAll();
  std::free(m_items);
}

int StringList::add(const char* s) {
  if (s == nullptr) return 1;
  if (m_count >= m_maxCount) return 101;
  if (m_count >= m_allocated) {
    if (m_allocated > INT_MAX - kArrayStep) return 2;
    int32_t slots = m_allocated + kArrayStep;
    void* p = std::realloc(m_items, static_cast<size_t>(slots) * sizeof(String*));
    if (p == nullptr) {
      QVD_ERROR("Out of memory: cannot grow a string list to %d entries", slots);
      return 2;
    }
    m_items = static_cast<String**>(p);
    m_allocated = slots;
  }
  String* copy = new (std::nothrow) String(s);
  if (copy == nullptr || static_cast<size_t>(copy->length()) != std::strlen(s)) {
    // The string already traced its own failure.
    delete copy;
    return 2;
  }
  m_items[m_count++] = copy;
  return 0;
}

int StringList::remove(int index) {
  if (index < 0 || index >= m_count) return 1;
  delete m_items[index];
  std::memmove(&m_items[index], &m_items[index + 1],
               static_cast<size_t>(m_count - index - 1) * sizeof(String*));
  m_count--;
  return 0;
}

int StringList::remove(const int* indices, int n) {
  if (n < 0 || n > m_count || (n > 0 && indices == nullptr)) return 1;
  // Validate everything first: a bad set changes nothing.
  for (int i = 0; i < n; i++) {
    if (indices[i] < 0 || indices[i] >= m_count) return 1;
    if (i > 0 && indices[i] <= indices[i - 1]) return 1;
  }
  // One pass: keep every entry not named, in order.
  int32_t kept = 0;
  int next = 0;
  for (int32_t i = 0; i < m_count; i++) {
    if (next < n && indices[next] == i) {
      delete m_items[i];
      next++;
    } else {
      m_items[kept++] = m_items[i];
    }
  }
  m_count = kept;
  return 0;
}

void StringList::removeAll() {
  for (int32_t i = 0; i < m_count; i++) delete m_items[i];
  m_count = 0;
}

const String& StringList::getAt(int index) const {
  if (index < 0 || index >= m_count) return EMPTY_STRING;
  return *m_items[index];
}

bool StringList::contains(const char* s) const {
  if (s == nullptr || *s == '\0') return false;
  for (int32_t i = 0; i < m_count; i++) {
    if (std::strcmp(m_items[i]->c_str(), s) == 0) return true;
  }
  return false;
}

void StringList::StringToList(const char* text, char separator, StringList* list) {
  if (text == nullptr || list == nullptr) return;
  const char* start = text;
  for (;;) {
    // A zero separator never matches: the whole text is one part.
    const char* sep = separator != '\0' ? std::strchr(start, separator) : nullptr;
    size_t len = sep != nullptr ? static_cast<size_t>(sep - start) : std::strlen(start);
    if (len > 0) {
      String part(start, static_cast<int>(len > INT_MAX ? INT_MAX : len));
      list->add(part.c_str());
    }
    if (sep == nullptr) return;
    start = sep + 1;
  }
}

bool StringListIterator::hasNext() const {
  return m_list != nullptr && m_list->getCount() > 0 && m_index < m_list->getCount() - 1;
}

const String& StringListIterator::next() {
  if (!hasNext()) return EMPTY_STRING;
  return m_list->getAt(++m_index);
}

}  // namespace QVD
