// QVD::String: the collector's growable, zero-terminated byte string.
//
// A plain byte string: no character-set awareness, no shared buffers, no
// exceptions.  Growth happens only by explicit amounts: single characters
// grow the buffer 32 characters at a time, an appended text by exactly its
// length (also when it would exactly fill the buffer), copy() by exactly the
// missing amount.  Searches return positions from the start of the text or
// -1, and find nothing unless their start lies inside the text.  The full
// rules, and what an allocation failure does (the string is left as it was,
// an error trace line is written, grow() and reserve() return false), are in
// util/string_core.h.
//
// Accessors: c_str() (never null) and length().
//
// Thread-safety: none; an instance belongs to one thread at a time.
#ifndef QVD_UTIL_QVD_STRING_H_
#define QVD_UTIL_QVD_STRING_H_

#include "util/string_core.h"

namespace QVD {

class String : public qvd_internal::StringCore {
 public:
  // Empty, capacity 31.
  String();
  // Empty, capacity n.
  explicit String(int n);
  // Copy of s (null: empty); capacity = its length.
  String(const char* s);  // NOLINT: implicit like the text it holds
  // The first min(n, length of s) characters of s; capacity = that count.
  String(const char* s, int n);
  // Same text, length and capacity.
  String(const String& other);
  virtual ~String();

  // Grows when this capacity is below the source's, copies the text, then
  // reports the source's length and capacity (a larger buffer keeps its
  // size).  Self-assignment changes nothing.  Returns this string.
  String& operator=(const String& other);

  // The text from `from` to the end; an empty string of capacity 31 when
  // `from` is outside 0..length()-1.
  String substr(int from) const;
  // At most n characters from `from`; outside 0..length()-1 an empty string
  // of capacity 31.
  String substr(int from, int n) const;

  // Replaces every `from` among the first length() characters by `to`.
  void replace(char from, char to);
};

// The shared empty string that failed lookups return by reference.  Never
// change it.  Usable even before static construction has reached it.
extern const String EMPTY_STRING;

}  // namespace QVD

#endif  // QVD_UTIL_QVD_STRING_H_
