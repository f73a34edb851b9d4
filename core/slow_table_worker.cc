#include "core/slow_table_worker.h"

#include <pthread.h>
#include <sys/resource.h>
#if defined(__linux__)
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>

#include "core/thread_runtime.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("core/slow_table_worker");

namespace {

struct Job {
  CpRequest* request;
  SlowTableBuilder build;
  bool everyRequest;
  long snapshot;
};

enum class State { kStarting, kReady, kFailed };

// One slow table's worker.  `group` and `thread` are written before the
// thread starts and read-only afterwards; the rest is guarded by `mutex`.
struct Worker {
  const char* group = nullptr;
  pthread_t thread;
  pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
  pthread_cond_t cond = PTHREAD_COND_INITIALIZER;
  State state = State::kStarting;
  bool stop = false;
  std::deque<Job> queue;
  // The snapshot the table's rows were last built for; the worker's thread
  // only.
  long builtFor = -1;
};

// The slow tables are few (replication, group updates); a table beyond
// this many is answered by the dispatch loop.
constexpr int kMaxWorkers = 4;
Worker workers[kMaxWorkers];
int workerCount = 0;             // dispatch thread only
std::atomic<bool> stopping{false};

void answer(Worker* w, const Job& job) {
  const char* id = job.request->id;
  if (job.everyRequest) {
    job.build(id);
  } else if (job.snapshot != w->builtFor && job.build(id)) {
    w->builtFor = job.snapshot;
  }
  int rc = cp_SendData(id);
  if (rc != 0) QVD_ERROR("cp_SendData(%s) for %s failed: %d", id, w->group, rc);
  cp_FreeRequest(job.request);
}

// Lowers the calling worker's scheduling priority (nice +10), so that on a
// busy machine the dispatch loop, which answers every other table, gets the
// processor before a long analysis; the worker still has every processor
// the loop leaves idle.  Linux keeps the nice value per thread; elsewhere
// it would slow the whole collector, so it is left alone there.
void yieldToDispatch(const char* name) {
#if defined(__linux__)
  id_t self = static_cast<id_t>(syscall(SYS_gettid));
  errno = 0;
  int nice = getpriority(PRIO_PROCESS, self);
  if (errno == 0 && setpriority(PRIO_PROCESS, self, nice + 10) == 0)
    QVD_DETAIL("%s runs at nice %d", name, nice + 10);
#else
  (void)name;
#endif
}

void* workerMain(void* arg) {
  Worker* w = static_cast<Worker*>(arg);
  QVD_ALWAYS("Started worker thread %lx for %s", (unsigned long)pthread_self(), w->group);
  char name[300];
  snprintf(name, sizeof name, "worker of %s", w->group);
  bool ready = startThreadRuntime(name);
  yieldToDispatch(name);
  pthread_mutex_lock(&w->mutex);
  w->state = ready ? State::kReady : State::kFailed;
  pthread_cond_broadcast(&w->cond);
  while (ready) {
    while (w->queue.empty() && !w->stop) pthread_cond_wait(&w->cond, &w->mutex);
    if (w->stop) break;
    Job job = w->queue.front();
    w->queue.pop_front();
    pthread_mutex_unlock(&w->mutex);
    answer(w, job);
    pthread_mutex_lock(&w->mutex);
  }
  pthread_mutex_unlock(&w->mutex);
  if (ready) endThreadRuntime();
  else QVD_ALWAYS("%s: the dispatch loop answers %s itself", name, w->group);
  return nullptr;
}

// The group's worker, started when this is its first request; null when it
// has none.
Worker* workerFor(const char* group) {
  for (int i = 0; i < workerCount; ++i)
    if (strcmp(workers[i].group, group) == 0)
      return workers[i].state == State::kReady ? &workers[i] : nullptr;
  if (workerCount == kMaxWorkers) return nullptr;
  Worker* w = &workers[workerCount];
  w->group = group;
  w->state = State::kStarting;
  w->stop = false;
  w->builtFor = -1;
  int rc = pthread_create(&w->thread, nullptr, workerMain, w);
  if (rc != 0) {
    QVD_ALWAYS("Can't create pthread(worker of %s) errno:(%s)", group, strerror(rc));
    w->state = State::kFailed;
    ++workerCount;  // remembered, so that the table is not tried again
    return nullptr;
  }
  ++workerCount;
  pthread_mutex_lock(&w->mutex);
  while (w->state == State::kStarting) pthread_cond_wait(&w->cond, &w->mutex);
  bool ready = w->state == State::kReady;
  pthread_mutex_unlock(&w->mutex);
  if (!ready) {
    pthread_join(w->thread, nullptr);
    w->thread = pthread_t();
  }
  return ready ? w : nullptr;
}

}  // namespace

bool slowTableWorkerReady(const char* group) { return !stopping.load() && workerFor(group) != nullptr; }

bool handToSlowTableWorker(const char* group, SlowTableBuilder build, bool everyRequest,
                           long snapshot, CpRequest* request) {
  if (stopping.load()) return false;
  Worker* w = workerFor(group);
  if (w == nullptr) return false;
  // Traced first: once queued, the request may be answered and freed.
  QVD_DETAIL("request id=%s for %s handed to its worker", request->id, group);
  pthread_mutex_lock(&w->mutex);
  w->queue.push_back({request, build, everyRequest, snapshot});
  pthread_cond_broadcast(&w->cond);
  pthread_mutex_unlock(&w->mutex);
  return true;
}

bool slowTableWorkersStopping() { return stopping.load(); }

void stopSlowTableWorkers() {
  stopping.store(true);
  for (int i = 0; i < workerCount; ++i) {
    Worker* w = &workers[i];
    pthread_mutex_lock(&w->mutex);
    bool running = w->state == State::kReady;
    w->stop = true;
    pthread_cond_broadcast(&w->cond);
    pthread_mutex_unlock(&w->mutex);
    if (!running) continue;
    pthread_join(w->thread, nullptr);
    // What is still queued is not answered, like the requests left in the
    // request table at shutdown; its memory is released.
    for (const Job& job : w->queue) cp_FreeRequest(job.request);
    w->queue.clear();
    w->state = State::kFailed;
  }
}
