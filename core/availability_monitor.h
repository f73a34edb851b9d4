// The availability check's own thread.
//
// The dispatch loop keeps the check's cadence: a check is due on every
// (pingInterval + 1)th pass, counting only passes made while no check runs
// (as when the loop ran the check itself and made no passes meanwhile).
// The check then runs on the monitor's thread while the loop goes on
// answering requests, so a slow or unreachable cluster member delays no
// answer.  Everything the check produces is unchanged: its trace lines, the
// status file (written whole at the end of each run) and `responsetime`.
//
// The monitor thread starts the server runtime for itself like every
// collector thread that calls the server: transaction log switched off,
// VxInitThread, switched back (core/thread_runtime.h).  The dispatch loop
// does not wait for that start, which may wait for the installation's lock
// file: the first check waits on the monitor's side until its runtime has
// started, and the loop goes on answering requests.  When the thread cannot
// be created or its runtime start fails, the dispatch loop runs the checks
// itself, as it would without a monitor, the one asked for meanwhile at its
// next pass.
//
// Shutdown: stopAvailabilityMonitor() asks a running check to give up after
// the ping at hand (the status file then keeps the last complete result),
// ends the thread's runtime and joins the thread, waiting at most until a
// deadline; once it returned true no ping is in progress.
//
// Thread-safety: every function here is called from the dispatch thread.
#ifndef QVD_CORE_AVAILABILITY_MONITOR_H_
#define QVD_CORE_AVAILABILITY_MONITOR_H_

#include <ctime>

// Starts the monitor thread without waiting for its runtime.  Returns true
// when the thread runs; false when the checks will run on the caller's
// thread (the cause is traced).
bool startAvailabilityMonitor();

// Counts one dispatch pass and returns true when a check is due now.  Passes
// made while a check runs (or waits for the monitor's start) are not
// counted; a check the monitor could not take is due at once.
bool availabilityCheckDue(int pingInterval);

// Runs the due check: hands it to the monitor thread, or runs it here when
// there is no monitor.  The first call starts the monitor
// (startAvailabilityMonitor); a monitor that could not start is not tried
// again.
void runAvailabilityCheck();

// True while a check handed to the monitor has not finished.
bool availabilityCheckRunning();

// Asks the monitor to stop; returns at once.
void requestAvailabilityMonitorStop();

// Stops the monitor (see above), waiting until `deadline` (on the clock of
// TimeGet, framework/services.h; null: no limit).  Returns true when the
// thread has ended.  Harmless when it never started.
bool stopAvailabilityMonitor(const struct timespec* deadline);

#endif  // QVD_CORE_AVAILABILITY_MONITOR_H_
