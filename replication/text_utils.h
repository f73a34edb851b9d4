// Small text utilities of the event log search and the replication
// analysis: case-blind comparison and search, stripping, integer texts and
// the conversion of text item values into host text.
//
// Thread-safety: every function works only on its arguments.
#ifndef QVD_REPLICATION_TEXT_UTILS_H_
#define QVD_REPLICATION_TEXT_UTILS_H_

#include <cstddef>

// Writes the decimal text of n into out ("-" first when negative).
// REQUIRES: out holds 21 bytes.  Returns out.
char* ZELitoa(long n, char* out);

// 0 when a and b are equal ignoring case; otherwise the difference of the
// two characters, as they stand in the texts, at the first position where
// they differ ignoring case.
int strlowcmp(const char* a, const char* b);

// The first occurrence of `needle` in `text` ignoring case, or null.  An
// empty needle is never found.
const char* lowstrstr(const char* text, const char* needle);

// Removes from the end of `text` every character that is in `set`, until
// one is not.  Returns text.
char* zelstrip(char* text, const char* set);
// Removes from the start of `text` every character that is in `set`.
// Returns text.
char* zellstrip(char* text, const char* set);

// 1 when the whole text is a decimal integer without range error (the
// empty text counts, value 0), storing it in *value when value is given;
// else 0.
int ValidIntAsString(const char* text, long* value);

// Copies a text item value (data type first, `valueLength` bytes with it)
// into host text in `out` (outSize bytes, terminated): NUL bytes become line
// feeds, at most outSize - 1 bytes are taken, and the text is converted
// from the server's character set.  Returns the number of bytes taken from
// the value (0 and an empty out when no work buffer can be had).
size_t get_text_field(const void* value, size_t valueLength, char* out, size_t outSize);

// Converts `length` bytes of server text into host text in `out` (at most
// outSize bytes, not terminated) and returns the length.  Text of 7-bit
// characters only reads the same in both character sets and is copied
// without a call to the server; other text goes through NLS_VxTranslate.
unsigned long toHostText(char* in, size_t length, char* out, size_t outSize);

// Copies n bytes when n is positive.  Returns destination.
char* mycopy(char* destination, const char* source, long n);

// Turns every NUL byte among the first `length` bytes into a line feed.
void convert_text_field(char* data, size_t length);

// Copies `source` into a field of `size` bytes, cut to fit and terminated.
// Returns true when the whole text fitted.
bool copyField(char* field, size_t size, const char* source);

#endif  // QVD_REPLICATION_TEXT_UTILS_H_
