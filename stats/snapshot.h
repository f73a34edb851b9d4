// The statistics snapshot: one copy of every statistic of the monitored
// server, kept as a single zero-terminated text from which the row builders
// cut their rows.
//
// Text form: one statistic a line, the name, a tab, the value and a line end
// (a line feed, possibly after a carriage return).  After queryStats every
// name is in lower case; values keep their case.
//
// Ownership: pStatBuffer is heap memory (calloc) owned by this module; the
// builders modify it in place (they terminate values and cut names) and the
// value slots of the statistics groups point into it until the next
// snapshot.  Whoever drops a snapshot outside queryStats calls freeStats()
// (or frees pStatBuffer with free() and sets the three globals to 0).
//
// Thread-safety: none.  queryStats, freeStats, installStatsText and every
// builder run on the dispatch thread only.
#ifndef QVD_STATS_SNAPSHOT_H_
#define QVD_STATS_SNAPSHOT_H_

#include <stddef.h>
#include <stdint.h>

// The snapshot text, zero-terminated; null when there is none.
extern char* pStatBuffer;
// The length of the searchable text from pStatBuffer: the length the server
// reported, or the converted length when the conversion made the text longer.
// Every search of the builders stops at pStatBuffer + dwStatBufferLen.
extern uint32_t dwStatBufferLen;
// The first "mvstats." of the snapshot (the add-in's statistics), or null.
extern char* pMvStats;
// Module handle passed to the message loader: 0.
extern uint16_t hModule;
// Text of the last server API error met while taking a snapshot.
extern char szErrorString[256];

// Takes a new snapshot of all statistics of `server_name`.  The previous
// snapshot is freed first (only one buffer exists at a time), and slot 0 of
// every group answered from the snapshot is cleared.  The server's memory
// handle is released on every path.
// Returns 0 when a new snapshot is in place; the server API status when
// fetching the statistics failed; 1 when the server returned no data or the
// buffer cannot be allocated.  On any non-zero result pStatBuffer is null.
uint16_t queryStats();

// Frees the current snapshot, if any, and sets pStatBuffer, dwStatBufferLen
// and pMvStats to 0.
void freeStats();

// Replaces the snapshot with a copy of `len` bytes of `text`, lower-casing
// the names exactly as queryStats does, and sets pMvStats.  Slot 0 of the
// snapshot groups is cleared as for a new snapshot.  For tools and tests
// that build snapshots without a server.  Returns 0, or 1 when the buffer
// cannot be allocated (then there is no snapshot).
int installStatsText(const char* text, size_t len);

// A number that changes with every new snapshot (queryStats,
// installStatsText, freeStats).  Builders use it to tell whether what they
// derived from the text still belongs to the current snapshot.
uint64_t statsSnapshotGeneration();

#endif  // QVD_STATS_SNAPSHOT_H_
