// Basic services: environment, locks, time and sleep.
#include "framework/services.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>

const char* EnvGet(const char* name, int flags) {
  (void)flags;
  if (name == nullptr) return nullptr;
  return std::getenv(name);
}

namespace {
std::mutex* Impl(FwLock* lock) {
  void* p = lock->impl.load(std::memory_order_acquire);
  if (p != nullptr) return static_cast<std::mutex*>(p);
  auto* fresh = new std::mutex();
  void* expected = nullptr;
  if (lock->impl.compare_exchange_strong(expected, fresh, std::memory_order_acq_rel)) return fresh;
  delete fresh;
  return static_cast<std::mutex*>(expected);
}
}  // namespace

int LockGet(FwLock* lock) {
  Impl(lock)->lock();
  return 0;
}

int LockRelease(FwLock* lock) {
  Impl(lock)->unlock();
  return 0;
}

int LockDestroy(FwLock* lock) {
  void* p = lock->impl.exchange(nullptr, std::memory_order_acq_rel);
  delete static_cast<std::mutex*>(p);
  return 0;
}

FwLock* LockByName(const char* name) {
  static std::mutex registry_mu;
  static auto* registry = new std::map<std::string, FwLock*>();
  std::lock_guard<std::mutex> guard(registry_mu);
  FwLock*& slot = (*registry)[name ? name : ""];
  if (slot == nullptr) slot = new FwLock();
  return slot;
}

void TimeGet(struct timespec* now) { clock_gettime(CLOCK_MONOTONIC, now); }

struct timespec DeadlineIn(unsigned seconds) {
  struct timespec deadline;
  TimeGet(&deadline);
  deadline.tv_sec += static_cast<time_t>(seconds);
  return deadline;
}

int CondInitMonotonic(pthread_cond_t* cond) {
  pthread_condattr_t attr;
  int rc = pthread_condattr_init(&attr);
  if (rc != 0) return rc;
  rc = pthread_condattr_setclock(&attr, CLOCK_MONOTONIC);
  if (rc == 0) rc = pthread_cond_init(cond, &attr);
  pthread_condattr_destroy(&attr);
  return rc;
}

void SleepSeconds(unsigned seconds) {
  struct timespec req = {static_cast<time_t>(seconds), 0}, rem;
  while (nanosleep(&req, &rem) != 0 && errno == EINTR) req = rem;
}
