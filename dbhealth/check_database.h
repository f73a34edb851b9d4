// The database check thread (checkDatabase) and the two result lists it
// publishes for the Velora_Corrupt_Failover_DB and Velora_DB_Whitespace
// tables.
//
// Once per interval (qvd_check_db_interval seconds) the thread expands the
// include paths into the server's databases, checks every database that is
// not excluded for corruption or failover (up to 15 attempts), checks the
// views configured for a good one, reads every database's space figures,
// and then replaces both published lists in one step.  It paces itself:
// one second after every database, view and failed attempt.
//
// Locks: checkDBResultMutex guards both published lists; every reader
// holds it while it reads them.  The thread holds it only for the swap.
// The collector's outstandingReqHashLock, when held, is taken before it.
// checkDBMutex and checkDBCond carry the stop request to the thread's
// pauses.
//
// Shutdown: the thread ends at the next pause (at most about a second)
// once qvdShutdown is set, the server asks its programs to end, or
// stopDatabaseCheckThread is called; a cycle cut short publishes nothing.
// Its server runtime lives inside the server gate (state/server_gate.h):
// once the gate is closed, a thread still waiting for the installation's
// lock file ends without starting one.  Pauses and durations follow the
// clock that never jumps (TimeGet).
#ifndef QVD_DBHEALTH_CHECK_DATABASE_H_
#define QVD_DBHEALTH_CHECK_DATABASE_H_

#include <pthread.h>

#include <ctime>

#include "dbhealth/db_record_list.h"
#include "dbhealth/db_views_config_map.h"
#include "dbhealth/velora_config_parser.h"

// Limit of every database list of the check.
extern const int maxDbCount;

// The published results; guarded by checkDBResultMutex.
extern DbCorruptFailoverList dbCorruptFailoverList;
extern DbStatisticsInfoList dbStatisticsInfoList;
extern pthread_mutex_t checkDBResultMutex;
extern pthread_mutex_t checkDBMutex;
extern pthread_cond_t checkDBCond;

// The pace of the check.  The collector uses the defaults; tests pass
// pauseSeconds 0, or their own wait and clock.
struct DbCheckPace {
  unsigned pauseSeconds = 1;  // after every database, view and failed attempt
  int attempts = 15;          // checks before a database counts as bad
  // Waits `seconds`.  Null: the thread's own wait, which a stop request
  // cuts short.  Called with 1 for each second of the wait between cycles.
  void (*wait)(unsigned seconds) = nullptr;
  // The check's clock in seconds, for the interval between cycles.  Null:
  // the thread's own clock.
  long (*clock)() = nullptr;
};

// Results of runDatabaseCheckCycle.
enum DbCheckCycleResult {
  DB_CHECK_PUBLISHED = 0,      // both lists replaced
  DB_CHECK_STOPPED = 1,        // shutdown met during the cycle; nothing published
  DB_CHECK_NOT_PUBLISHED = 2,  // the result mutex could not be locked
};

// One check cycle on the calling thread (which has initialised the server
// runtime): checks the databases `parser` names, the views `views` names,
// and publishes the results.  Returns a DbCheckCycleResult.
int runDatabaseCheckCycle(const char* server, VeloraConfigParser* parser,
                          const DbViewsConfigMap* views, const DbCheckPace& pace);

// Runs check cycles until the check must end: each cycle starts
// `interval` seconds after the one before (the wait in steps of one
// second, ended early by a shutdown), or one second after a cycle that took
// longer.  Returns when the check must end: true when that was seen
// between cycles, false when a cycle was cut short (traced).  The caller
// ends the thread's runtime.
bool runDatabaseChecks(const char* server, VeloraConfigParser* parser,
                       const DbViewsConfigMap* views, int interval, const DbCheckPace& pace);

// True when the check must end: qvdShutdown, a stop request, or the server
// asking its programs to end.
bool databaseCheckShouldStop();

// The thread function; the argument is ignored.  Reads server_name,
// checkDbIncludePath, checkDbExcludePath, qvd_check_db_interval and
// dbViewsConfigMap, which start-up has settled.
void* checkDatabase(void* arg);

// Initialises checkDBMutex, checkDBResultMutex and checkDBCond and starts
// the thread.  Returns 0 or the pthread_create error.
int startDatabaseCheckThread();

// Asks the thread to end and wakes it from its pause; returns at once.
void requestDatabaseCheckStop();

// Asks the thread to end, wakes it from its pause and waits until it has
// ended (and released the server runtime of its thread) or `deadline` (on
// the clock of TimeGet; null: no limit) has passed.  Returns true when no
// thread runs any more; nothing happens when none was started.
bool stopDatabaseCheckThread(const struct timespec* deadline = nullptr);

#endif  // QVD_DBHEALTH_CHECK_DATABASE_H_
