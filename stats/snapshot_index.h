// A per-snapshot index of the statistic keywords of the single-row groups,
// so that building every table of a snapshot costs a few passes over the
// text instead of one search per column.
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

// The first occurrence of `keyword` at or after `start` in the snapshot, or
// null; same contract as str_str without a line prefix.
char* findKeyword(const char* start, const char* keyword);

#endif  // QVD_STATS_SNAPSHOT_INDEX_H_
