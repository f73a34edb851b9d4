// A per-snapshot index of the statistic keywords of the single-row groups
// and of the task lines, so that building every table of a snapshot costs a
// few passes over the text instead of one search per column.
//
// findKeyword(start, keyword) returns exactly what str_str(start, keyword,
// nullptr) returns for the current text of the snapshot, including the
// changes the builders make in place.  Keywords the index cannot answer
// exactly are searched directly.
//
// The index is built on first use after each new snapshot (it follows
// statsSnapshotGeneration()).  Memory: one offset per keyword occurrence.
//
// Thread-safety: none; dispatch thread only.
#ifndef QVD_STATS_SNAPSHOT_INDEX_H_
#define QVD_STATS_SNAPSHOT_INDEX_H_

#include <vector>

// The first occurrence of `keyword` at or after `start` in the snapshot, or
// null; same contract as str_str without a line prefix.
char* findKeyword(const char* start, const char* keyword);

// Where the columns of a single-row group are searched from: the first
// occurrence of `section` in the snapshot, or a later position when no
// occurrence of any keywords[i] (1 <= i < count) lies in between, now or
// after the builders change the text.  So findKeyword(result, keywords[i])
// is what it would be from the section's first occurrence, while the
// section itself is only searched when its place matters.  Null when
// `section` is absent; a null or empty section gives the snapshot's start.
char* findRowStart(const char* section, const char* const* keywords, int count);

// Every occurrence of `keyword` in the snapshot, in order: what repeated
// str_str calls, each from one byte after the last match, would find in the
// current text.  Remembered for the snapshot when the builders' changes
// cannot create new occurrences of the keyword, and checked against the
// text on every call.  Empty for a null or empty keyword or no snapshot.
std::vector<char*> findAllOccurrences(const char* keyword);

#endif  // QVD_STATS_SNAPSHOT_INDEX_H_
