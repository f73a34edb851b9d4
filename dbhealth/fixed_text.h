// Copying texts into the fixed-size, terminated text fields of the
// database check's records.
#ifndef QVD_DBHEALTH_FIXED_TEXT_H_
#define QVD_DBHEALTH_FIXED_TEXT_H_

#include <cstddef>
#include <cstring>

namespace dbhealth {

// Size of every name and path field: 255 characters and the terminator.
constexpr size_t kTextFieldSize = 256;

// Copies `text` (null: empty) into `field` of `size` bytes, cut to size - 1
// bytes and always terminated.  Returns false when the text was cut.
inline bool copyText(char* field, size_t size, const char* text) {
  if (size == 0) return false;
  if (text == nullptr) text = "";
  size_t n = strnlen(text, size);
  bool fits = n < size;
  if (!fits) n = size - 1;
  memcpy(field, text, n);
  field[n] = '\0';
  return fits;
}

template <size_t N>
inline bool copyText(char (&field)[N], const char* text) {
  return copyText(field, N, text);
}

// True when `text` fits a field of `size` bytes with its terminator.
inline bool fitsField(const char* text, size_t size = kTextFieldSize) {
  return text != nullptr && strnlen(text, size) < size;
}

}  // namespace dbhealth

#endif  // QVD_DBHEALTH_FIXED_TEXT_H_
