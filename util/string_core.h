// Shared implementation of the collector's and the agent link's byte
// strings (QVD::String and PWX::String).  Both classes derive from
// StringCore and so follow one set of rules; only what differs lives in the
// derived classes.  Not meant to be used on its own.
//
// The text is a plain byte string kept zero-terminated at length(); the
// buffer holds capacity() + 1 bytes (assignment may leave it larger than
// capacity() says, see assignFrom).
//
// Growth: single characters grow the buffer 32 characters at a time; an
// appended text grows it by exactly its length, and an append that would
// exactly fill the buffer grows it too; copy() grows by exactly the missing
// amount.  Capacity never shrinks.
//
// Allocation failure: nothing is thrown and nothing aborts.  The operation
// that needed memory leaves the string exactly as it was (a construction
// that cannot get its buffer leaves an empty string of capacity 0) and an
// error trace line is written.  grow() and reserve() return false in that
// case; callers of the other operations can compare length() or capacity()
// before and after.  A size that does not fit in a signed 32-bit capacity
// counts as an allocation failure.
//
// Null `const char*` arguments are accepted everywhere and mean an empty
// text (construction, copy) or nothing to append.  A text argument may point
// into the string's own buffer (for instance s.append(s.c_str())).
//
// Thread-safety: none; an instance belongs to one thread at a time.
#ifndef QVD_UTIL_STRING_CORE_H_
#define QVD_UTIL_STRING_CORE_H_

#include <cstdint>

namespace qvd_internal {

class StringCore {
 public:
  // The zero-terminated text; never null.  Valid until the next change.
  const char* c_str() const { return m_buffer != nullptr ? m_buffer : ""; }
  // Number of characters before the terminating zero byte.
  int length() const { return m_length; }
  // Characters the buffer can hold, not counting the terminating zero.
  int capacity() const { return m_capacity; }

  // Frees any buffer and starts over empty with capacity n (0 when n < 0).
  void init(int n);

  // Replaces the text by s (null: empty).  Grows by the missing amount.
  void copy(const char* s);
  // Replaces the text by the first min(n, length of s) characters of s.
  void copy(const char* s, int n);

  // Appends c; a full buffer first grows by 32.
  void append(char c);
  // Appends s (null: no change); grows by strlen(s) when length + strlen(s)
  // >= capacity.
  void append(const char* s);
  // Appends the first n characters of s (fewer when s ends sooner; none for
  // null s or n <= 0), growing by that count under the same test.
  void append(const char* s, int n);

  // Capacity += n and the buffer keeps its content.  n < 0 changes nothing.
  // Returns false when the memory cannot be obtained (string unchanged).
  bool grow(int n);
  // Capacity becomes n when it is below n.  Returns false when the memory
  // cannot be obtained (string unchanged), true otherwise.
  bool reserve(int n);

  // Searches return a position counted from the start of the text, or -1.
  // Each returns -1 unless 0 <= from < length(); the search runs over the
  // zero-terminated text from `from`.
  int indexOf(char c) const { return indexOf(c, 0); }
  int indexOf(const char* s) const { return indexOf(s, 0); }
  int indexOf(char c, int from) const;
  int indexOf(const char* s, int from) const;
  int findFirstOf(const char* set, int from) const;
  int findFirstNotOf(const char* set, int from) const;

  // Upper-cases every lower-case letter (per the process's character
  // classification) among the first length() characters.
  void toUpper();

 protected:
  StringCore() = default;
  ~StringCore();
  StringCore(const StringCore&) = delete;
  StringCore& operator=(const StringCore&) = delete;

  // Constructor bodies shared by both classes.
  void constructFrom(const char* s);
  void constructFrom(const char* s, int n);
  void constructCopy(const StringCore& other);

  // Assignment: grows when this capacity is below the source's, copies the
  // text, then takes over the source's length and capacity values.
  // Self-assignment changes nothing.
  void assignFrom(const StringCore& other);

  // Reallocates the buffer to newCapacity + 1 bytes, keeping the text.
  // Returns false (nothing changed) on failure or a size out of range.
  bool setCapacity(int64_t newCapacity);

  // Bounds of the substr operations: true and *start set when `from` lies
  // inside the text.
  bool substrStart(int from, const char** start) const;

  char* m_buffer = nullptr;
  int32_t m_length = 0;
  int32_t m_capacity = 0;

 private:
  // Makes sure a buffer exists so that a terminating zero can be written.
  bool ensureBuffer();
  void appendBytes(const char* s, int64_t n);
  void replaceBytes(const char* s, int64_t n);
};

}  // namespace qvd_internal

#endif  // QVD_UTIL_STRING_CORE_H_
