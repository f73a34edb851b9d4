// Shared byte-string rules of QVD::String and PWX::String.
#include "util/string_core.h"

#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("util/string");

namespace qvd_internal {

namespace {

// Length of a caller's text, 0 for null.
int64_t TextLength(const char* s) { return s != nullptr ? static_cast<int64_t>(std::strlen(s)) : 0; }

// Length of at most n characters of s, stopping at its terminating zero.
int64_t BoundedLength(const char* s, int n) {
  if (s == nullptr || n <= 0) return 0;
  return static_cast<int64_t>(strnlen(s, static_cast<size_t>(n)));
}

}  // namespace

StringCore::~StringCore() {
  std::free(m_buffer);
  // A static string read after its destruction (exit order) looks empty.
  m_buffer = nullptr;
  m_length = 0;
  m_capacity = 0;
}

bool StringCore::setCapacity(int64_t newCapacity) {
  if (newCapacity < 0 || newCapacity > INT_MAX - 1) {
    QVD_ERROR("Out of memory: a string of %lld characters is beyond the size limit",
              static_cast<long long>(newCapacity));
    return false;
  }
  bool fresh = m_buffer == nullptr;
  void* p = std::realloc(m_buffer, static_cast<size_t>(newCapacity) + 1);
  if (p == nullptr) {
    QVD_ERROR("Out of memory: cannot obtain %lld bytes for a string",
              static_cast<long long>(newCapacity) + 1);
    return false;
  }
  m_buffer = static_cast<char*>(p);
  if (fresh) m_buffer[m_length] = '\0';
  m_capacity = static_cast<int32_t>(newCapacity);
  return true;
}

bool StringCore::ensureBuffer() { return m_buffer != nullptr || setCapacity(m_capacity); }

void StringCore::init(int n) {
  std::free(m_buffer);
  m_buffer = nullptr;
  m_length = 0;
  m_capacity = 0;
  if (!setCapacity(n < 0 ? 0 : n)) m_capacity = 0;
  if (m_buffer != nullptr) m_buffer[0] = '\0';
}

void StringCore::constructFrom(const char* s) {
  int64_t n = TextLength(s);
  if (n > INT_MAX - 1) n = INT_MAX;  // refused by setCapacity below
  init(0);
  if (n > 0 && setCapacity(n)) {
    std::memcpy(m_buffer, s, static_cast<size_t>(n) + 1);
    m_length = static_cast<int32_t>(n);
  }
}

void StringCore::constructFrom(const char* s, int n) {
  int64_t count = BoundedLength(s, n);
  init(0);
  if (count > 0 && setCapacity(count)) {
    std::memcpy(m_buffer, s, static_cast<size_t>(count));
    m_buffer[count] = '\0';
    m_length = static_cast<int32_t>(count);
  }
}

void StringCore::constructCopy(const StringCore& other) {
  init(other.m_capacity);
  if (m_buffer == nullptr) return;
  std::memcpy(m_buffer, other.c_str(), static_cast<size_t>(other.m_length) + 1);
  m_length = other.m_length;
}

void StringCore::assignFrom(const StringCore& other) {
  if (this == &other) return;
  if (m_capacity < other.m_capacity) {
    if (!grow(other.m_capacity - m_capacity)) return;
  }
  if (!ensureBuffer()) return;
  std::memcpy(m_buffer, other.c_str(), static_cast<size_t>(other.m_length) + 1);
  m_length = other.m_length;
  m_capacity = other.m_capacity;
}

void StringCore::replaceBytes(const char* s, int64_t n) {
  if (n > m_capacity) {
    // s cannot point into this buffer: it is longer than the buffer.
    if (!grow(static_cast<int>(n > INT_MAX ? INT_MAX : n - m_capacity))) return;
  }
  if (!ensureBuffer()) return;
  if (n > 0) std::memmove(m_buffer, s, static_cast<size_t>(n));
  m_length = static_cast<int32_t>(n);
  m_buffer[m_length] = '\0';
}

void StringCore::copy(const char* s) { replaceBytes(s, TextLength(s)); }

void StringCore::copy(const char* s, int n) { replaceBytes(s, BoundedLength(s, n)); }

void StringCore::appendBytes(const char* s, int64_t n) {
  if (s == nullptr) return;
  if (static_cast<int64_t>(m_length) + n >= m_capacity) {
    // A text taken from this very buffer moves with it on reallocation.
    bool inside = m_buffer != nullptr && s >= m_buffer && s <= m_buffer + m_length;
    ptrdiff_t offset = inside ? s - m_buffer : 0;
    if (n > INT_MAX || !grow(static_cast<int>(n))) {
      if (n > INT_MAX) QVD_ERROR("Out of memory: cannot append %lld characters to a string",
                                 static_cast<long long>(n));
      return;
    }
    if (inside) s = m_buffer + offset;
  }
  if (!ensureBuffer()) return;
  std::memmove(m_buffer + m_length, s, static_cast<size_t>(n));
  m_length += static_cast<int32_t>(n);
  m_buffer[m_length] = '\0';
}

void StringCore::append(char c) {
  if (m_length == m_capacity && !grow(32)) return;
  if (!ensureBuffer()) return;
  m_buffer[m_length++] = c;
  m_buffer[m_length] = '\0';
}

void StringCore::append(const char* s) { appendBytes(s, TextLength(s)); }

void StringCore::append(const char* s, int n) { appendBytes(s, BoundedLength(s, n)); }

bool StringCore::grow(int n) {
  if (n < 0) return true;
  return setCapacity(static_cast<int64_t>(m_capacity) + n);
}

bool StringCore::reserve(int n) {
  if (m_capacity >= n) return true;
  return setCapacity(n);
}

int StringCore::indexOf(char c, int from) const {
  if (from < 0 || from >= m_length) return -1;
  for (int i = from; i < m_length && m_buffer[i] != '\0'; i++) {
    if (m_buffer[i] == c) return i;
  }
  return -1;
}

int StringCore::indexOf(const char* s, int from) const {
  if (s == nullptr || from < 0 || from >= m_length) return -1;
  const char* hit = std::strstr(m_buffer + from, s);
  return hit != nullptr ? static_cast<int>(hit - m_buffer) : -1;
}

int StringCore::findFirstOf(const char* set, int from) const {
  if (from < 0 || from >= m_length) return -1;
  size_t span = std::strcspn(m_buffer + from, set != nullptr ? set : "");
  return m_buffer[from + span] != '\0' ? from + static_cast<int>(span) : -1;
}

int StringCore::findFirstNotOf(const char* set, int from) const {
  if (from < 0 || from >= m_length) return -1;
  size_t span = std::strspn(m_buffer + from, set != nullptr ? set : "");
  return m_buffer[from + span] != '\0' ? from + static_cast<int>(span) : -1;
}

void StringCore::toUpper() {
  for (int i = 0; i < m_length; i++) {
    unsigned char c = static_cast<unsigned char>(m_buffer[i]);
    if (std::islower(c)) m_buffer[i] = static_cast<char>(std::toupper(c));
  }
}

bool StringCore::substrStart(int from, const char** start) const {
  if (from < 0 || from >= m_length) return false;
  *start = m_buffer + from;
  return true;
}

}  // namespace qvd_internal
