#include "state/bounded_thread.h"

#include <cerrno>

#include "framework/services.h"

BoundedThread::BoundedThread() {
  pthread_mutex_init(&mutex_, nullptr);
  CondInitMonotonic(&endedCond_);
}

int BoundedThread::start(void* (*entry)(void*), void* arg) {
  entry_ = entry;
  arg_ = arg;
  pthread_mutex_lock(&mutex_);
  ended_ = false;
  pthread_mutex_unlock(&mutex_);
  int rc = pthread_create(&thread_, nullptr, run, this);
  started_ = rc == 0;
  return rc;
}

void* BoundedThread::run(void* self) {
  auto* t = static_cast<BoundedThread*>(self);
  void* result = t->entry_(t->arg_);
  pthread_mutex_lock(&t->mutex_);
  t->ended_ = true;
  pthread_cond_broadcast(&t->endedCond_);
  pthread_mutex_unlock(&t->mutex_);
  return result;
}

bool BoundedThread::join(const struct timespec* deadline) {
  if (!started_) return true;
  pthread_mutex_lock(&mutex_);
  while (!ended_) {
    if (deadline == nullptr) {
      pthread_cond_wait(&endedCond_, &mutex_);
    } else if (pthread_cond_timedwait(&endedCond_, &mutex_, deadline) == ETIMEDOUT) {
      break;
    }
  }
  bool ended = ended_;
  pthread_mutex_unlock(&mutex_);
  if (!ended) return false;
  // The thread has only its return left to make.
  pthread_join(thread_, nullptr);
  started_ = false;
  return true;
}
