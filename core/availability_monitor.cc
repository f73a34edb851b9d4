#include "core/availability_monitor.h"

#include <pthread.h>

#include <atomic>
#include <cstring>

#include "core/availability.h"
#include "core/thread_runtime.h"
#include "framework/trace.h"

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

pthread_t monitorThread;
bool threadStarted = false;  // dispatch thread only
bool startTried = false;     // dispatch thread only: the monitor was started once
int passesSinceCheck = 0;    // dispatch thread only

void setState(State s) {
  pthread_mutex_lock(&monitorMutex);
  state = s;
  pthread_cond_broadcast(&monitorCond);
  pthread_mutex_unlock(&monitorMutex);
}

void* availabilityMonitor(void*) {
  QVD_ALWAYS("Started availability monitor thread %lx", (unsigned long)pthread_self());
  if (!startThreadRuntime("availability monitor")) {
    QVD_ALWAYS("availability monitor: the dispatch loop runs the availability checks itself");
    setState(State::kNone);
    return nullptr;
  }
  setState(State::kReady);
  pthread_mutex_lock(&monitorMutex);
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
  setState(State::kStarting);
  int rc = pthread_create(&monitorThread, nullptr, availabilityMonitor, nullptr);
  if (rc != 0) {
    QVD_ALWAYS("Can't create pthread(availabilityMonitor) errno:(%s); the dispatch loop runs the "
               "availability checks itself",
               strerror(rc));
    setState(State::kNone);
    return false;
  }
  threadStarted = true;
  pthread_mutex_lock(&monitorMutex);
  while (state == State::kStarting) pthread_cond_wait(&monitorCond, &monitorMutex);
  bool ready = state == State::kReady;
  pthread_mutex_unlock(&monitorMutex);
  if (!ready) {
    // The thread has ended on its own.
    pthread_join(monitorThread, nullptr);
    threadStarted = false;
  }
  return ready;
}

bool availabilityCheckRunning() {
  pthread_mutex_lock(&monitorMutex);
  bool running = checkAsked || checkRunning;
  pthread_mutex_unlock(&monitorMutex);
  return running;
}

bool availabilityCheckDue(int pingInterval) {
  if (availabilityCheckRunning()) return false;
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
  // switches the transaction log only once, at start-up.
  if (!startTried) {
    startTried = true;
    startAvailabilityMonitor();
  }
  pthread_mutex_lock(&monitorMutex);
  bool handed = state == State::kReady;
  if (handed) {
    checkAsked = true;
    pthread_cond_broadcast(&monitorCond);
  }
  pthread_mutex_unlock(&monitorMutex);
  if (!handed) pingServerCluster();
}

void stopAvailabilityMonitor() {
  if (!threadStarted) return;
  pthread_mutex_lock(&monitorMutex);
  stopRequested.store(true);
  pthread_cond_broadcast(&monitorCond);
  pthread_mutex_unlock(&monitorMutex);
  pthread_join(monitorThread, nullptr);
  threadStarted = false;
  setState(State::kNone);
  pthread_mutex_lock(&monitorMutex);
  checkAsked = checkRunning = false;
  pthread_mutex_unlock(&monitorMutex);
}
