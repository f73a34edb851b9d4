// A tail reader of the event log: the last lines of the "Events" item of
// the event documents, oldest first.  The collector itself does not call
// it; it serves tools that want the end of the log.
//
// Thread-safety: uses the global FormTable and `intl`; one request at a time.
#ifndef QVD_REPLICATION_TAILLOG_H_
#define QVD_REPLICATION_TAILLOG_H_

#include "replication/log_request.h"
#include "state/globals.h"

// Puts in front of *out, up to request.tailCount, the last lines that the
// request's include/exclude strings keep, read from the end of the log
// backwards: the "Events" item of the documents of form "Events" (or of
// the form of the first nickname when that form's lines are in "Events").
// The list ends up oldest first.  Returns 0 or a server status; 1 for an
// unknown nickname or no memory.
int taillog(logresult** out, logrequest request, _ServerInfoBlock* serverInfo);

#endif  // QVD_REPLICATION_TAILLOG_H_
