// A collector thread whose owner waits for its end with a time limit.
//
// start() runs entry(arg) on a new thread; when entry returns, the thread
// marks itself ended.  join(deadline) returns once the thread has ended
// (and then joins it) or when the deadline has passed; a thread that has not
// ended by then is left running and can be joined later.  So a shutdown
// never waits without a limit for a thread stuck in a call it cannot
// interrupt (a lock file another process holds, a server call that does not
// return).
//
// Ownership: the owner (one thread) calls start and join; the object must
// outlive the thread, so it is meant for objects of static storage, and its
// destructor leaves the mutex and condition alone for a thread still
// running at process exit.
#ifndef QVD_STATE_BOUNDED_THREAD_H_
#define QVD_STATE_BOUNDED_THREAD_H_

#include <pthread.h>

#include <ctime>

class BoundedThread {
 public:
  BoundedThread();
  BoundedThread(const BoundedThread&) = delete;
  BoundedThread& operator=(const BoundedThread&) = delete;

  // Starts entry(arg).  Returns 0, or the pthread_create error (nothing
  // runs then).  REQUIRES: no thread of this object runs or awaits a join.
  int start(void* (*entry)(void*), void* arg);

  // True from a successful start until the thread is joined.
  bool started() const { return started_; }

  // Waits until the thread has ended or `deadline` (on the clock of
  // TimeGet, framework/services.h; null: no limit) has passed, and joins it
  // when it ended.  Returns true when no thread of this object runs any
  // more (also when none was started).
  bool join(const struct timespec* deadline);

 private:
  static void* run(void* self);

  pthread_mutex_t mutex_;
  pthread_cond_t endedCond_;
  bool ended_ = false;    // guarded by mutex_
  bool started_ = false;  // owner only
  pthread_t thread_;
  void* (*entry_)(void*) = nullptr;
  void* arg_ = nullptr;
};

#endif  // QVD_STATE_BOUNDED_THREAD_H_
