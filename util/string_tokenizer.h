// StringTokenizer: cuts a text into tokens at any of a set of delimiter
// characters.
//
// Every delimiter ends a token, so adjacent delimiters and a leading
// delimiter yield empty tokens; a trailing delimiter yields none.  "a,,b"
// with "," gives "a", "", "b"; ",a" gives "", "a"; "a," gives "a".
//
// Ownership: the tokenizer copies the text but not the delimiter set, which
// must outlive it.  The token returned by next() is the tokenizer's own and
// stays valid until the next call or the tokenizer's destruction.
//
// Allocation failure: the token or the remaining text cannot become longer
// than what the tokenizer already holds, so tokenizing needs no memory
// beyond the construction; a construction that cannot copy its text
// tokenizes an empty text.
//
// Thread-safety: none; an instance belongs to one thread at a time.
#ifndef QVD_UTIL_STRING_TOKENIZER_H_
#define QVD_UTIL_STRING_TOKENIZER_H_

#include "util/qvd_string.h"

class StringTokenizer {
 public:
  // text: copied (null: empty).  delimiters: not copied (null: none).
  StringTokenizer(const char* text, const char* delimiters);
  virtual ~StringTokenizer();
  StringTokenizer(const StringTokenizer&) = delete;
  StringTokenizer& operator=(const StringTokenizer&) = delete;

  // The next token, or null when the text is used up.
  const char* next();

 private:
  QVD::String m_token;
  QVD::String m_rest;
  const char* m_delimiters;
};

#endif  // QVD_UTIL_STRING_TOKENIZER_H_
