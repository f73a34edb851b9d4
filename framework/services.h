// Basic services of the agent framework (stand-in): environment, locks,
// time and sleeping.
//
// Thread-safety: every function may be called from any thread.
#ifndef QVD_FRAMEWORK_SERVICES_H_
#define QVD_FRAMEWORK_SERVICES_H_

#include <pthread.h>

#include <atomic>
#include <ctime>

// Returns the text of environment variable `name`, or null when it is not
// set.  The pointer is the process environment's own: valid until the
// variable is changed.  `flags` is reserved; pass 0.
const char* EnvGet(const char* name, int flags);

// A framework lock.  Usable from its zero state (a zero-initialised global
// or member needs no set-up); LockDestroy returns it to that state.
struct FwLock {
  std::atomic<void*> impl{nullptr};
};

// Acquires the lock, creating it on first use.  Returns 0.
int LockGet(FwLock* lock);
// Releases a lock held by the calling thread.  Returns 0.
int LockRelease(FwLock* lock);
// Frees the lock's resources; it is back in its zero state.  REQUIRES: no
// thread holds or waits for it.  Returns 0.
int LockDestroy(FwLock* lock);

// Returns the process-wide lock registered under `name`, created on first
// use; it lives until the process ends.
FwLock* LockByName(const char* name);

// Stores the current time of the clock every timed wait of the collector
// uses (CLOCK_MONOTONIC, which a change of the wall clock does not move) in
// *now, for a wait deadline or a duration; texts that show a time use the
// wall clock instead.
void TimeGet(struct timespec* now);

// The time `seconds` from now on the clock of TimeGet.
struct timespec DeadlineIn(unsigned seconds);

// Initialises *cond for deadlines of TimeGet (pthread_condattr_setclock with
// CLOCK_MONOTONIC).  Returns 0 or the pthread error.  REQUIRES: no thread
// uses *cond.
int CondInitMonotonic(pthread_cond_t* cond);

// Sleeps `seconds` seconds (resumes after signals).
void SleepSeconds(unsigned seconds);

#endif  // QVD_FRAMEWORK_SERVICES_H_
