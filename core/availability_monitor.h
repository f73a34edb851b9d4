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
// VxInitThread, switched back.  When the thread cannot be created or that
// start fails, the dispatch loop runs the checks itself, as it would without
// a monitor.
//
// Shutdown: stopAvailabilityMonitor() asks a running check to give up after
// the ping at hand (the status file then keeps the last complete result),
// ends the thread's runtime and joins the thread; it returns once no ping is
// in progress, so the server runtime can be terminated safely.
//
// Thread-safety: every function here is called from the dispatch thread.
#ifndef QVD_CORE_AVAILABILITY_MONITOR_H_
#define QVD_CORE_AVAILABILITY_MONITOR_H_

// Starts the monitor thread and waits until its runtime start succeeded or
// failed.  Returns true when the thread is ready to run checks; false when
// the checks will run on the caller's thread (the cause is traced).
bool startAvailabilityMonitor();

// Counts one dispatch pass and returns true when a check is due now.  Passes
// made while a check runs are not counted.
bool availabilityCheckDue(int pingInterval);

// Runs the due check: hands it to the monitor thread, or runs it here when
// there is no monitor.  The first call starts the monitor
// (startAvailabilityMonitor); a monitor that could not start is not tried
// again.
void runAvailabilityCheck();

// True while a check handed to the monitor has not finished.
bool availabilityCheckRunning();

// Stops the monitor (see above).  Harmless when it never started.
void stopAvailabilityMonitor();

#endif  // QVD_CORE_AVAILABILITY_MONITOR_H_
