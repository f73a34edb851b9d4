// PWX::String: the agent link library's growable byte string.
//
// It follows the rules of the collector's QVD::String (see
// util/string_core.h for growth, search bounds, null arguments and what an
// allocation failure does) with three differences:
//   - reserve(n) adds growthPercent percent of n as headroom, so a response
//     buffer with growthPercent 100 doubles past the size it was asked for;
//   - appendItoa() appends a decimal number;
//   - there is no replace(char, char).
//
// growthPercent is set directly by the string's owner; it is 0 after every
// construction, only reserve() reads it, and assignment does not copy it.
//
// Thread-safety: none; an instance belongs to one thread at a time.
#ifndef QVD_AGENTLINK_PWX_STRING_H_
#define QVD_AGENTLINK_PWX_STRING_H_

#include <cstdint>

#include "util/string_core.h"

namespace PWX {

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
  // Same text, length and capacity; growthPercent 0.
  String(const String& other);
  virtual ~String();

  // Takes the source's text, length and capacity (see StringCore); keeps
  // this string's growthPercent.  Returns this string.
  String& operator=(const String& other);

  // When the capacity is below n it becomes n + (n * growthPercent + 50) / 100
  // (integer division).  Returns false when the memory cannot be obtained
  // (string unchanged), true otherwise.
  bool reserve(int n);

  // Appends the signed decimal text of value, as append(const char*).
  void appendItoa(int value);

  // The text from `from` to the end; an empty string of capacity 31 when
  // `from` is outside 0..length()-1.
  String substr(int from) const;
  // At most n characters from `from`; outside 0..length()-1 an empty string
  // of capacity 31.
  String substr(int from, int n) const;

  int32_t growthPercent = 0;
};

}  // namespace PWX

#endif  // QVD_AGENTLINK_PWX_STRING_H_
