// The hit/miss analysis: for every slot that an enabled connection
// schedules in the analysed period, whether a replication with its
// destination took place (hit) or not (miss); every logged replication that
// matched no slot is a manual run.
//
// The raw records are found through an index by partner and start time,
// so each slot costs a logarithmic search plus the records near it rather
// than a walk of all records.  Thread-safety: none; one analysis at a time.
#ifndef QVD_REPLICATION_HIT_MISS_H_
#define QVD_REPLICATION_HIT_MISS_H_

#include <cstddef>

#include "replication/repl_records.h"
#include "replication/repl_stop.h"
#include "state/globals.h"

// A bound on the rows of one analysis.  With maxRows not 0 only the
// maxRows earliest rows (by start; of equal starts those found first) are
// kept, which are exactly the first maxRows rows the unbounded analysis
// would give.  The rows beyond are never kept: a miss beyond is not even
// written, and once the rows are complete the slots of a connection that
// could only add rows beyond them are not walked.  So memory stays bounded
// by maxRows and the time by the rows kept more than by the period.
// `rowsLeftOut` tells whether the analysis had more rows.
struct ReplRowLimit {
  size_t maxRows = 0;
  bool rowsLeftOut = false;
};

// Judges the raw records of *rawList (a list in start order, emptied and
// freed here) against `schedules` for the period from request->startDate
// to 7 days later or now, whichever is earlier.  Hits, misses and manual
// runs are added to *result in start order, within *limit when given.
// Returns 0; 1 when `stop`, asked before each day window of a connection,
// ended the analysis: *result is then null (the rows judged so far are
// freed, with what *result held before).
int ConstructReplResult(replResult** result, const replRequest* request, replResult** rawList,
                        const replschedule* schedules, const _ServerInfoBlock* serverInfo,
                        ReplRowLimit* limit = nullptr, ReplStop* stop = nullptr);

// Sets the window of one day of `schedule`: the first (first = 1) from
// *start, later ones (first = 0) from the previous window; both clipped to
// `limit`.  Returns false when the schedule's times cannot be read.
bool adjustStartEndTDToSchedule(VxTimeDate* start, VxTimeDate* end, const VxTimeDate& limit,
                                const replschedule* schedule, int first,
                                const _ServerInfoBlock* serverInfo);

#endif  // QVD_REPLICATION_HIT_MISS_H_
