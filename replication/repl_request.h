// The one entry into the replication analysis: reads this server's
// replication connections, searches the event log for the replications
// that ran, and judges every scheduled slot a hit or a miss and every other
// replication a manual run.
//
// Thread-safety: runs on the caller's thread; one analysis at a time (the
// event log search uses process-wide tables).
#ifndef QVD_REPLICATION_REPL_REQUEST_H_
#define QVD_REPLICATION_REPL_REQUEST_H_

#include "replication/hit_miss.h"
#include "replication/repl_records.h"
#include "replication/repl_stop.h"
#include "state/globals.h"

// Analyses the period that starts at the request's start date.  Returns 0
// and sets *result to the first member of the final list (null when empty;
// the caller frees it with free_replResult); non-zero on failure (traced),
// *result then null.  With `limit` only the earliest rows are kept
// (ReplRowLimit, replication/hit_miss.h).  With `stop` the analysis ends
// early when asked to (replication/repl_stop.h): it returns 1 with no
// result, and stop->stopped is set.
int get_replication_request(replResult** result, replRequest request,
                            const _ServerInfoBlock* serverInfo, ReplRowLimit* limit = nullptr,
                            ReplStop* stop = nullptr);

// Adds the request's include strings ('+') and then its exclude strings
// ('-') to `stack`.  Returns 0 or the first non-zero result of AddStack.
int AddReplIncExcToStack(const replRequest* request, Stack* stack);

#endif  // QVD_REPLICATION_REPL_REQUEST_H_
