// Text functions over the statistics snapshot (stats/snapshot.h), shared by
// every row builder.
//
// All searches are bounded by the snapshot window [pStatBuffer,
// pStatBuffer + dwStatBufferLen).  Pointers passed in must point into the
// current snapshot; results point into it as well and stay valid until the
// next snapshot.  Functions that write (getValueKeyword, convertNum) modify
// the snapshot in place: they never write past the end of the value they
// work on.
//
// Thread-safety: none; dispatch thread only, like the snapshot.
#ifndef QVD_STATS_STAT_TEXT_H_
#define QVD_STATS_STAT_TEXT_H_

// Returns the first occurrence of `pattern` at or after `text` inside the
// snapshot window, or null.  A null or empty pattern yields `text` itself.
// No match spans a zero byte.  With a non-null `linePrefix`, the line of
// that first occurrence must begin with `linePrefix`, else the result is
// null (no later occurrence is tried).
char* str_str(const char* text, const char* pattern, const char* linePrefix);

// Returns exactly what str_str(text, pattern, nullptr) returns, but first
// looks at the rest of text's line and at the start of the next line, where
// the next statistic of a kind stands when the server lists them together;
// only then is the rest of the window searched.  For walks that visit the
// occurrences of one keyword one after the other.
char* findNextOccurrence(const char* text, const char* pattern);

// Returns the start of the line that holds `p`: just after the nearest line
// feed or zero byte before `p`, or pStatBuffer.  A zero byte counts as a
// line end because values are terminated in place.
char* beginLine(char* p);

// Returns the value that follows the first occurrence of `keyword` at or
// after `start` (a null keyword: at `start` itself): the text after the
// first tab from there, up to its line end.  The line end (carriage return
// or line feed) is overwritten with a zero byte and the value is normalised
// with convertNum, once per snapshot however often it is read.  Null when
// the keyword is absent or no tab follows it before the next zero byte.
char* getValueKeyword(char* start, const char* keyword);

// Normalises the numeric text *value in place with the thousands and
// decimal separators of intl_format: separators, commas (unless the comma is
// the decimal separator) and tabs are dropped and the decimal separator
// becomes a full stop, so "1.234,5" (decimal comma) or "1,234.5" both become
// "1234.5".  A value that holds any other character (a word, a blank, a
// minus sign) keeps its text, apart from a decimal separator met before that
// character, which already became a full stop.  The normalised text holds at
// most 1023 bytes; a longer number is cut there.  Never makes the value
// longer.  A null pointer or value is left alone.
void convertNum(char** value);

// Returns the position of the n-th full stop from `p`: forwards (p
// included) for n > 0, backwards (p included) for n < 0.  Returns `p` when
// n is 0, p is null, or the window holds fewer than |n| full stops in that
// direction.
char* findPeriod(char* p, int n);

#endif  // QVD_STATS_STAT_TEXT_H_
