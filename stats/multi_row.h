// The multi-row statistics builders: one row per server task
// (Velora_Tasks) and one row per mail destination (Velora_Mail_By_Dest and
// Velora_Mail_By_Dest64), cut out of the current snapshot
// (stats/snapshot.h).  Each row is added to the answer of the request with
// cp_SetAttributeValues before the next is built.
//
// Value slots: the group's own slots hold the row being built; after a
// build they hold the last row sent (pointers into the snapshot or into the
// builder's buffers, valid until the next snapshot), and slot 0 is the
// server name when at least one row was sent.
//
// REQUIRES: a snapshot exists (pStatBuffer not null); without one no row is
// sent.  Thread-safety: none; dispatch thread only.
#ifndef QVD_STATS_MULTI_ROW_H_
#define QVD_STATS_MULTI_ROW_H_

// Longest destination name sent; a longer one is cut to this many bytes in
// the Destination_Server column (its statistics are still found).
constexpr int kMaxDestinationName = 255;
// Longest task date text handed to the time conversion; a longer date text
// is cut (and will not convert: the duration is then 0).
constexpr int kMaxTaskDateText = 80;

// One row per "server.task" line: Task_Name (up to the first colon of the
// line), Task_Status (after it, leading blank kept; absent when the line has
// no colon) and Task_Status_Duration, the whole minutes since the date in
// the last [...] of the status (0 when there is none or it does not convert).
// Task lines lose their colon.
void Parse_Velora_Tasks(const char* requestHandle);

// One row per destination of the "mailbydest.<destination>.<statistic>"
// lines, from the slots and keywords of Velora_Mail_By_Dest.  A destination
// without any of the four statistics gets no row.  The text of the
// destination lines stays readable: within one snapshot the first build of
// each of the two mail-by-destination groups finds every destination.
void Parse_Velora_Mail_By_Dest(const char* requestHandle);

// The same rows for Velora_Mail_By_Dest64, from its own slots and keywords.
void Parse_Velora_Mail_By_Dest64(const char* requestHandle);

#endif  // QVD_STATS_MULTI_ROW_H_
