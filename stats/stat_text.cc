// Text functions over the statistics snapshot.
#include "stats/stat_text.h"

#include <string.h>

#include <vector>

#include "framework/trace.h"
#include "state/globals.h"
#include "stats/snapshot.h"

QVD_TRACE_UNIT("stats/text");

namespace {

// Longest normalised number; the copy holds one more byte for its zero.
constexpr size_t kMaxNumberLength = 1023;

const char* windowEnd() { return pStatBuffer + dwStatBufferLen; }

bool inWindow(const char* p) { return pStatBuffer != nullptr && p >= pStatBuffer && p < windowEnd(); }

// Several groups read the same statistic (a group and its "64" twin, both
// mail-by-destination groups, the add-in tables).  Normalising is not
// idempotent: with a decimal comma and a thousands full stop, "3,5" becomes
// "3.5" and a second pass would make it "35".  So each value of a snapshot
// is normalised once; this remembers which, for the current snapshot only:
// one bit per byte of the window, set at the start of each normalised value.
struct NormalisedValues {
  uint64_t generation = 0;
  std::vector<uint64_t> bits;
};
NormalisedValues g_normalised;

bool firstNormalisation(const char* value) {
  if (g_normalised.generation != statsSnapshotGeneration()) {
    g_normalised.generation = statsSnapshotGeneration();
    g_normalised.bits.assign(dwStatBufferLen / 64 + 1, 0);
  }
  size_t offset = static_cast<size_t>(value - pStatBuffer);
  if (offset / 64 >= g_normalised.bits.size()) return true;  // outside the window
  uint64_t bit = uint64_t{1} << (offset % 64);
  uint64_t& word = g_normalised.bits[offset / 64];
  if (word & bit) return false;
  word |= bit;
  return true;
}

}  // namespace

char* str_str(const char* text, const char* pattern, const char* linePrefix) {
  if (pattern == nullptr || *pattern == '\0') return const_cast<char*>(text);
  if (text == nullptr || !inWindow(text)) return nullptr;
  size_t patternLength = strlen(pattern);
  // A candidate is tried only while the byte after it still lies inside the
  // window; for longer patterns memmem's own bound is the stricter one.  The
  // pattern holds no zero byte, so no match can span one.
  const char* last = windowEnd() - (patternLength == 1 ? 1 : 0);
  if (last <= text) return nullptr;
  const char* match = static_cast<const char*>(memmem(text, last - text, pattern, patternLength));
  if (match == nullptr) return nullptr;
  if (linePrefix != nullptr) {
    const char* line = beginLine(const_cast<char*>(match));
    if (strncmp(line, linePrefix, strlen(linePrefix)) != 0) return nullptr;
  }
  return const_cast<char*>(match);
}

char* findNextOccurrence(const char* text, const char* pattern) {
  // One-byte patterns have their own window bound, and a pattern with a line
  // feed could span the line end: both take the plain search.
  if (pattern == nullptr || pattern[0] == '\0' || pattern[1] == '\0' || text == nullptr ||
      !inWindow(text) || strchr(pattern, '\n') != nullptr) {
    return str_str(text, pattern, nullptr);
  }
  const size_t length = strlen(pattern);
  const char* end = windowEnd();
  // A match that starts before the line feed also ends before it: the
  // pattern holds none.  (A zero byte that replaced a line end lets this
  // range run on over the next line, which is still searched in order.)
  const char* lineFeed = static_cast<const char*>(memchr(text, '\n', static_cast<size_t>(end - text)));
  const char* lineEnd = lineFeed != nullptr ? lineFeed : end;
  for (const char* p = text; p < lineEnd; ++p) {
    p = static_cast<const char*>(memchr(p, pattern[0], static_cast<size_t>(lineEnd - p)));
    if (p == nullptr) break;
    if (static_cast<size_t>(end - p) >= length && memcmp(p, pattern, length) == 0) {
      return const_cast<char*>(p);
    }
  }
  // No match can start on a line feed or a zero byte either.
  const char* next = lineEnd;
  while (next < end && (*next == '\n' || *next == '\0')) ++next;
  if (next >= end) return nullptr;
  if (static_cast<size_t>(end - next) >= length && memcmp(next, pattern, length) == 0) {
    return const_cast<char*>(next);
  }
  return str_str(next, pattern, nullptr);
}

char* beginLine(char* p) {
  if (p == nullptr || pStatBuffer == nullptr) return p;
  while (p > pStatBuffer && p[-1] != '\n' && p[-1] != '\0') --p;
  return p;
}

char* getValueKeyword(char* start, const char* keyword) {
  char* p = start;
  if (keyword != nullptr) {
    p = str_str(start, keyword, nullptr);
    if (p == nullptr) return nullptr;
  }
  if (p == nullptr || !inWindow(p)) return nullptr;
  // The snapshot is zero-terminated past its window, so both walks stop.
  // The first tab before the next zero byte.
  char* tab = strchr(p, '\t');
  if (tab == nullptr) return nullptr;
  char* value = tab + 1;
  // The value ends at its own line end: a carriage return or a line feed,
  // whichever comes first.  (Looking for a carriage return first, across
  // lines, would let a value of a line-feed-only line swallow the lines that
  // follow it up to some later carriage return.)
  char* end = value + strcspn(value, "\r\n");
  *end = '\0';
  if (firstNormalisation(value)) convertNum(&value);
  return value;
}

void convertNum(char** value) {
  if (value == nullptr || *value == nullptr) return;
  const char thousands = intl_format.ThousandString[0];
  const char decimal = intl_format.DecimalString[0];
  char copy[kMaxNumberLength + 1];
  size_t length = 0;
  bool changed = false;
  for (char* p = *value; *p != '\0'; ++p) {
    char c = *p;
    if (c == '\t') {
      changed = true;
      continue;
    }
    if (c == ',' && decimal != ',') {
      changed = true;
      continue;
    }
    if (c == thousands) {
      changed = true;
      continue;
    }
    if (c == decimal && decimal != '.') {
      *p = '.';
      c = '.';
      changed = true;
    }
    if (c != '.' && (c < '0' || c > '9')) return;  // not a number: left as it now is
    if (length == kMaxNumberLength) break;
    copy[length++] = c;
  }
  if (!changed) return;
  copy[length] = '\0';
  // Only bytes are dropped, so the copy never outgrows the value.
  memcpy(*value, copy, length + 1);
}

char* findPeriod(char* p, int n) {
  if (p == nullptr || n == 0 || !inWindow(p)) return p;
  int wanted = n > 0 ? n : -n;
  if (n > 0) {
    for (char* q = p; q < windowEnd(); ++q) {
      if (*q == '.' && --wanted == 0) return q;
    }
  } else {
    for (char* q = p;; --q) {
      if (*q == '.' && --wanted == 0) return q;
      if (q == pStatBuffer) break;
    }
  }
  return p;
}
