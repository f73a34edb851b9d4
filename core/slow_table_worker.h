// Slow tables answered beside the dispatch loop.
//
// Some answers take long to build: the replication analysis reads the
// server's event log, the group monitor looks up the directory.  The
// dispatch loop hands each request of such a table to a worker of that
// table, which builds the rows, sends the answer and releases the request,
// while the loop goes on answering every other table.  So no request waits
// behind the slow work of another table.
//
// Each slow table has one worker thread with a first-in-first-out queue:
// the requests of one table are answered one after another in the order the
// loop dispatched them, so the table's own state (for instance where the
// next replication analysis starts) is touched by one thread only and moves
// on exactly as it would on the dispatch thread.
//
// Freshness follows the statistics snapshot as on the dispatch thread: a
// table answered "once per snapshot" gets rows for the first request that
// its builder answers with rows after a new snapshot was taken, and no rows
// for later requests of the same snapshot.  The loop passes the number of
// the snapshot each request was dispatched under; the worker, which answers
// the table's requests in order, keeps the number its rows were last built
// for.  A builder run by a worker never writes the table's value array (the
// loop owns it); it keeps its row in buffers of its own.
//
// A worker starts with its table's first request: the dispatch loop starts
// its thread and hands it the request at once, without waiting; the thread
// then starts its server runtime (core/thread_runtime.h), which may wait for
// the installation's lock file, while the loop goes on answering the other
// tables (the table's own requests wait in the worker's queue).  On Linux
// the thread runs at a lower scheduling priority (nice +10) than the
// dispatch loop, so that a long build does not take the processor from the
// other tables' answers on a busy machine.  When the thread or its runtime
// cannot be started, the table has no worker and the dispatch loop answers
// its requests itself, as it would without workers: the requests the worker
// took go back to the loop through the give-back function.
//
// A request whose answer cannot be sent for lack of memory has its id
// released in the agent link (cp_DropRequest), as on the dispatch thread, so
// that a later request with the same id is taken.
//
// Shutdown: stopSlowTableWorkers() lets the answer at hand finish, or end
// early: a builder that can run long (the replication analysis) asks
// slowTableWorkersStopping() between its steps and abandons the answer, so
// that the worker leaves the server well within the shutdown's wait and the
// server runtime can end.  An abandoned answer is not sent; its request is
// released unanswered, like the requests still queued (and those left in
// the request table at shutdown).  Then each worker's runtime ends and its
// thread is joined, waiting at most until a deadline: a worker still
// waiting for the lock file ends by itself once it gets it, without
// starting its runtime (the server gate is closed by then).
//
// Thread-safety: slowTableWorkerReady, handToSlowTableWorker,
// requestSlowTableWorkersStop and stopSlowTableWorkers are called from the
// dispatch thread; slowTableWorkersStopping from any thread; the give-back
// function is called from a worker's thread with no lock of this module
// held.
#ifndef QVD_CORE_SLOW_TABLE_WORKER_H_
#define QVD_CORE_SLOW_TABLE_WORKER_H_

#include <ctime>

#include "agentlink/cp_client.h"

// What a builder did for one request.
enum class SlowBuild {
  kNoRows,     // the answer has no rows; the worker sends it
  kRows,       // at least one row added; the worker sends the answer
  kAbandoned,  // ended early because the workers are stopping: the worker
               // sends nothing and releases the request
};

// Adds the rows of data request `id` with cp_SetAttributeValues; the worker
// sends the answer afterwards (unless the build was abandoned).
using SlowTableBuilder = SlowBuild (*)(const char* id);

// Files a request given back by a worker again for the dispatch loop (or
// releases it when it cannot); called on the worker's thread.
using SlowTableGiveBack = void (*)(CpRequest* request);

// Sets the give-back function; set once, before the first request.
void setSlowTableGiveBack(SlowTableGiveBack giveBack);

// True when `group` (a text that lives for the whole run) has a worker,
// starting or ready; its thread is started, without waiting for it, at the
// group's first call.  False when it has none: the group's requests are
// then the caller's to answer.
bool slowTableWorkerReady(const char* group);

// Hands data request `request` of `group` to the group's worker.  With
// `everyRequest` every request gets rows from build(id); otherwise only
// while the table has no rows for `snapshot` yet (the number of the
// statistics snapshot the loop dispatched the request under).  Returns true
// when the worker took the request: from then on it answers and releases
// it (or gives it back).  Returns false, the request still the caller's,
// when the group has no worker (any more) or the workers are stopping.
bool handToSlowTableWorker(const char* group, SlowTableBuilder build, bool everyRequest,
                           long snapshot, CpRequest* request);

// True once the workers were asked to stop.
bool slowTableWorkersStopping();

// Asks every worker to stop; returns at once.
void requestSlowTableWorkersStop();

// Stops every worker (see above), waiting for each until `deadline` (on the
// clock of TimeGet, framework/services.h; null: no limit).  Returns true
// when no worker runs any more.  Harmless when none started.
bool stopSlowTableWorkers(const struct timespec* deadline);

#endif  // QVD_CORE_SLOW_TABLE_WORKER_H_
