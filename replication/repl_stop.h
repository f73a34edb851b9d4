// Ending a replication analysis early.
//
// An analysis reads every connection document and every event log document
// of its period, and judges every slot of every connection: on a large log
// or a slow server that takes long.  A caller that may have to end first
// (the collector's shutdown, which waits for every thread to leave the
// server before it ends the server runtime) hands the analysis a ReplStop.
// The analysis asks it before each connection document, before each event
// log document, every few hundred start events and before each day window
// of a connection, so it ends within one such step of the request.  A
// stopped analysis has no result at all, never a part of one: the rows of
// a period read in part would judge scheduled replications not yet read as
// missed.
//
// Thread-safety: `requested` runs on the analysis's thread; it may read
// what other threads set (an atomic flag).
#ifndef QVD_REPLICATION_REPL_STOP_H_
#define QVD_REPLICATION_REPL_STOP_H_

struct ReplStop {
  // True once the analysis is to end; null: never.
  bool (*requested)(void* context) = nullptr;
  void* context = nullptr;
  // Set by the analysis when it ended because of the request.
  bool stopped = false;
};

// Asks `stop` (null: no stop) and remembers a yes in stop->stopped, which
// later calls return without asking again.  True when the analysis is to
// end.
bool replStopRequested(ReplStop* stop);

// replStopRequested for the callbacks that take a void pointer (the event
// log search's stop check); `stop` is a ReplStop or null.
bool replStopRequestedBy(void* stop);

#endif  // QVD_REPLICATION_REPL_STOP_H_
