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
#include "state/bounded_thread.h"

QVD_TRACE_UNIT("core/slow_table_worker");

namespace {

struct Job {
  CpRequest* request;
  SlowTableBuilder build;
  bool everyRequest;
  long snapshot;
};

enum class State { kStarting, kReady, kFailed };

// One slow table's worker.  `group` is written before the thread starts and
// read-only afterwards; `thread` belongs to the dispatch thread; the rest is
// guarded by `mutex`.
struct Worker {
  const char* group = nullptr;
  BoundedThread thread;
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
// Never destroyed: a worker left running at the exit (inside a server call
// that does not return, or waiting for the lock file) must not meet its
// queue torn down by the exit's destructors.
Worker* const workers = new Worker[kMaxWorkers];
int workerCount = 0;             // dispatch thread only
std::atomic<bool> stopping{false};
std::atomic<SlowTableGiveBack> giveBack{nullptr};

void answer(Worker* w, const Job& job) {
  const char* id = job.request->id;
  SlowBuild built = SlowBuild::kNoRows;
  if (job.everyRequest || job.snapshot != w->builtFor) built = job.build(id);
  if (built == SlowBuild::kAbandoned) {
    // Neither rows nor an answer without rows: the agent would read that
    // nothing happened.  The id is released, as for the requests queued.
    QVD_ALWAYS("The collector is ending: the answer to request id=%s for %s is abandoned", id,
               w->group);
    cp_DropRequest(id);
    cp_FreeRequest(job.request);
    return;
  }
  if (!job.everyRequest && built == SlowBuild::kRows) w->builtFor = job.snapshot;
  int rc = cp_SendData(id);
  if (rc != 0) {
    QVD_ERROR("cp_SendData(%s) for %s failed: %d", id, w->group, rc);
    // Nothing was sent: the id would otherwise stay outstanding in the agent
    // link, and a later request with the same id would be skipped.
    if (rc == CP_ERR_MEMORY) cp_DropRequest(id);
  }
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

// The worker's runtime did not start: the requests it took go back to the
// dispatch loop, which answers the table from now on; once the workers are
// stopping they are released unanswered, like the requests left filed at
// shutdown.
void giveUp(Worker* w, const char* name) {
  pthread_mutex_lock(&w->mutex);
  w->state = State::kFailed;
  std::deque<Job> jobs;
  jobs.swap(w->queue);
  bool stopped = w->stop || stopping.load();
  pthread_mutex_unlock(&w->mutex);
  SlowTableGiveBack back = giveBack.load();
  if (!stopped) QVD_ALWAYS("%s: the dispatch loop answers %s itself", name, w->group);
  for (const Job& job : jobs) {
    if (!stopped && back != nullptr) {
      QVD_DETAIL("request id=%s for %s given back to the dispatch loop", job.request->id, w->group);
      back(job.request);
    } else {
      cp_FreeRequest(job.request);
    }
  }
}

void* workerMain(void* arg) {
  Worker* w = static_cast<Worker*>(arg);
  QVD_ALWAYS("Started worker thread %lx for %s", (unsigned long)pthread_self(), w->group);
  char name[300];
  snprintf(name, sizeof name, "worker of %s", w->group);
  // The runtime starts here, not on the dispatch thread: it may wait for
  // the installation's lock file, and the requests of the other tables are
  // answered meanwhile.  This table's requests wait in the queue.
  if (!startThreadRuntime(name)) {
    giveUp(w, name);
    return nullptr;
  }
  yieldToDispatch(name);
  pthread_mutex_lock(&w->mutex);
  w->state = State::kReady;
  for (;;) {
    while (w->queue.empty() && !w->stop) pthread_cond_wait(&w->cond, &w->mutex);
    if (w->stop) break;
    Job job = w->queue.front();
    w->queue.pop_front();
    pthread_mutex_unlock(&w->mutex);
    answer(w, job);
    pthread_mutex_lock(&w->mutex);
  }
  // What is still queued is not answered, like the requests left in the
  // request table at shutdown; its memory is released.
  for (const Job& job : w->queue) cp_FreeRequest(job.request);
  w->queue.clear();
  pthread_mutex_unlock(&w->mutex);
  endThreadRuntime();
  return nullptr;
}

// The group's worker (starting or ready), started without waiting when this
// is the group's first request; null when it has none.
Worker* workerFor(const char* group) {
  for (int i = 0; i < workerCount; ++i) {
    if (strcmp(workers[i].group, group) != 0) continue;
    pthread_mutex_lock(&workers[i].mutex);
    bool usable = workers[i].state != State::kFailed;
    pthread_mutex_unlock(&workers[i].mutex);
    return usable ? &workers[i] : nullptr;
  }
  if (workerCount == kMaxWorkers) return nullptr;
  Worker* w = &workers[workerCount];
  ++workerCount;  // remembered even when it cannot start: tried once per table
  w->group = group;
  w->state = State::kStarting;
  w->stop = false;
  w->builtFor = -1;
  int rc = w->thread.start(workerMain, w);
  if (rc != 0) {
    QVD_ALWAYS("Can't create pthread(worker of %s) errno:(%s)", group, strerror(rc));
    w->state = State::kFailed;
    return nullptr;
  }
  return w;
}

}  // namespace

void setSlowTableGiveBack(SlowTableGiveBack back) { giveBack.store(back); }

bool slowTableWorkerReady(const char* group) { return !stopping.load() && workerFor(group) != nullptr; }

bool handToSlowTableWorker(const char* group, SlowTableBuilder build, bool everyRequest,
                           long snapshot, CpRequest* request) {
  if (stopping.load()) return false;
  Worker* w = workerFor(group);
  if (w == nullptr) return false;
  pthread_mutex_lock(&w->mutex);
  bool taken = w->state != State::kFailed && !w->stop;
  if (taken) {
    // Traced first: once queued, the request may be answered and freed.
    QVD_DETAIL("request id=%s for %s handed to its worker", request->id, group);
    w->queue.push_back({request, build, everyRequest, snapshot});
    pthread_cond_broadcast(&w->cond);
  }
  pthread_mutex_unlock(&w->mutex);
  return taken;
}

bool slowTableWorkersStopping() { return stopping.load(); }

void requestSlowTableWorkersStop() {
  stopping.store(true);
  for (int i = 0; i < workerCount; ++i) {
    Worker* w = &workers[i];
    pthread_mutex_lock(&w->mutex);
    w->stop = true;
    pthread_cond_broadcast(&w->cond);
    pthread_mutex_unlock(&w->mutex);
  }
}

bool stopSlowTableWorkers(const struct timespec* deadline) {
  requestSlowTableWorkersStop();
  bool allEnded = true;
  for (int i = 0; i < workerCount; ++i) {
    Worker* w = &workers[i];
    if (!w->thread.join(deadline)) {
      QVD_ERROR("worker of %s still running", w->group);
      allEnded = false;
    }
  }
  return allEnded;
}
