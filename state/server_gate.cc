#include "state/server_gate.h"

#include <pthread.h>

#include <cerrno>

#include "framework/services.h"

namespace {

pthread_mutex_t gateMutex = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t gateEmptied;  // set up for TimeGet deadlines below
const int gateCondReady = CondInitMonotonic(&gateEmptied);
bool gateClosed = false;  // guarded by gateMutex
int inside = 0;           // guarded by gateMutex
thread_local bool insideHere = false;  // the calling thread is counted in

}  // namespace

bool serverGateOpen() {
  pthread_mutex_lock(&gateMutex);
  bool open = !gateClosed;
  pthread_mutex_unlock(&gateMutex);
  return open;
}

bool enterServerGate() {
  if (insideHere) return true;
  pthread_mutex_lock(&gateMutex);
  insideHere = !gateClosed;
  if (insideHere) ++inside;
  pthread_mutex_unlock(&gateMutex);
  return insideHere;
}

void leaveServerGate() {
  if (!insideHere) return;
  insideHere = false;
  pthread_mutex_lock(&gateMutex);
  if (--inside == 0) pthread_cond_broadcast(&gateEmptied);
  pthread_mutex_unlock(&gateMutex);
}

void closeServerGate() {
  pthread_mutex_lock(&gateMutex);
  gateClosed = true;
  pthread_mutex_unlock(&gateMutex);
}

bool waitServerGateEmpty(const struct timespec& deadline) {
  (void)gateCondReady;
  pthread_mutex_lock(&gateMutex);
  while (inside > 0) {
    if (pthread_cond_timedwait(&gateEmptied, &gateMutex, &deadline) == ETIMEDOUT) break;
  }
  bool empty = inside == 0;
  pthread_mutex_unlock(&gateMutex);
  return empty;
}

int threadsInsideServerGate() {
  pthread_mutex_lock(&gateMutex);
  int n = inside;
  pthread_mutex_unlock(&gateMutex);
  return n;
}
