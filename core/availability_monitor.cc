#include "core/availability_monitor.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "core/availability.h"
#include "core/thread_runtime.h"
#include "framework/trace.h"
#include "state/bounded_thread.h"

QVD_TRACE_UNIT("core/availability_monitor");

namespace {

enum class State {
  kNone,      // no monitor thread: the dispatch thread runs the checks
  kStarting,  // the thread is starting its runtime
  kReady,     // the thread runs the checks it is asked for
};

pthread_mutex_t monitorMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t monitorCond = PTHREAD_COND_INITIALIZER;  // any change below
State state = State::kNone;  // guarded by monitorMutex
bool checkAsked = false;     // guarded by monitorMutex: a check waits to start
bool checkRunning = false;   // guarded by monitorMutex
// Read by the check between pings; set once, at shutdown.
std::atomic<bool> stopRequested{false};

BoundedThread monitorThread;  // dispatch thread only
bool startTried = false;      // dispatch thread only: the monitor was started once
int passesSinceCheck = 0;     // dispatch thread only

void* availabilityMonitor(void*) {
  QVD_ALWAYS("Started availability monitor thread %lx", (unsigned long)pthread_self());
  if (!startThreadRuntime("availability monitor")) {
    // A check asked for meanwhile stays asked: the dispatch loop runs it.
    if (!stopRequested.load())
      QVD_ALWAYS("availability monitor: the dispatch loop runs the availability checks itself");
    pthread_mutex_lock(&monitorMutex);
    state = State::kNone;
    pthread_cond_broadcast(&monitorCond);
    pthread_mutex_unlock(&monitorMutex);
    return nullptr;
  }
  pthread_mutex_lock(&monitorMutex);
  state = State::kReady;
  pthread_cond_broadcast(&monitorCond);
  for (;;) {
    while (!checkAsked && !stopRequested.load()) pthread_cond_wait(&monitorCond, &monitorMutex);
    if (stopRequested.load()) break;
    checkAsked = false;
    checkRunning = true;
    pthread_mutex_unlock(&monitorMutex);
    pingServerClusterUnless(&stopRequested);
    pthread_mutex_lock(&monitorMutex);
    checkRunning = false;
    pthread_cond_broadcast(&monitorCond);
  }
  pthread_mutex_unlock(&monitorMutex);
  endThreadRuntime();
  QVD_DETAIL("availability monitor thread exiting...");
  return nullptr;
}

}  // namespace

bool startAvailabilityMonitor() {
  stopRequested.store(false);
  pthread_mutex_lock(&monitorMutex);
  state = State::kStarting;
  pthread_mutex_unlock(&monitorMutex);
  int rc = monitorThread.start(availabilityMonitor, nullptr);
  if (rc != 0) {
    QVD_ALWAYS("Can't create pthread(availabilityMonitor) errno:(%s); the dispatch loop runs the "
               "availability checks itself",
               strerror(rc));
    pthread_mutex_lock(&monitorMutex);
    state = State::kNone;
    pthread_mutex_unlock(&monitorMutex);
    return false;
  }
  return true;
}

bool availabilityCheckRunning() {
  pthread_mutex_lock(&monitorMutex);
  bool running = checkAsked || checkRunning;
  pthread_mutex_unlock(&monitorMutex);
  return running;
}

bool availabilityCheckDue(int pingInterval) {
  pthread_mutex_lock(&monitorMutex);
  // A check handed to a monitor that then could not start is owed at once.
  bool owed = checkAsked && state == State::kNone;
  if (owed) checkAsked = false;
  bool running = checkAsked || checkRunning;
  pthread_mutex_unlock(&monitorMutex);
  if (owed) {
    passesSinceCheck = 0;
    return true;
  }
  if (running) return false;
  // Counting up to the interval cannot overflow whatever its value.
  if (passesSinceCheck < pingInterval) {
    ++passesSinceCheck;
    return false;
  }
  passesSinceCheck = 0;
  return true;
}

void runAvailabilityCheck() {
  // The monitor starts with the first check the loop asks for: a short
  // conversation, which never reaches one, starts no second runtime and
  // switches the transaction log only once, at start-up.  The loop does not
  // wait for it: the check waits until the monitor's runtime has started.
  if (!startTried) {
    startTried = true;
    startAvailabilityMonitor();
  }
  pthread_mutex_lock(&monitorMutex);
  bool handed = state != State::kNone;
  if (handed) {
    checkAsked = true;
    pthread_cond_broadcast(&monitorCond);
  }
  pthread_mutex_unlock(&monitorMutex);
  if (!handed) pingServerCluster();
}

void requestAvailabilityMonitorStop() {
  pthread_mutex_lock(&monitorMutex);
  stopRequested.store(true);
  pthread_cond_broadcast(&monitorCond);
  pthread_mutex_unlock(&monitorMutex);
}

bool stopAvailabilityMonitor(const struct timespec* deadline) {
  if (!monitorThread.started()) return true;
  requestAvailabilityMonitorStop();
  if (!monitorThread.join(deadline)) {
    QVD_ERROR("availability monitor thread still running");
    return false;
  }
  pthread_mutex_lock(&monitorMutex);
  state = State::kNone;
  checkAsked = checkRunning = false;
  pthread_mutex_unlock(&monitorMutex);
  return true;
}
