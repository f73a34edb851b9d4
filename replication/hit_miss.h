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

#include "core/globals.h"
#include "replication/repl_records.h"

// Judges the raw records of *rawList (a list in start order, emptied and
// freed here) against `schedules` for the period from request->startDate
// to 7 days later or now, whichever is earlier.  Hits, misses and manual
// runs are added to *result in start order.  Returns 0.
int ConstructReplResult(replResult** result, const replRequest* request, replResult** rawList,
                        const replschedule* schedules, const _ServerInfoBlock* serverInfo);

// Sets the window of one day of `schedule`: the first (first = 1) from
// *start, later ones (first = 0) from the previous window; both clipped to
// `limit`.  Returns false when the schedule's times cannot be read.
bool adjustStartEndTDToSchedule(VxTimeDate* start, VxTimeDate* end, const VxTimeDate& limit,
                                const replschedule* schedule, int first,
                                const _ServerInfoBlock* serverInfo);

#endif  // QVD_REPLICATION_HIT_MISS_H_
