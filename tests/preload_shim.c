/* Preloaded into qvdclient (LD_PRELOAD) by end-to-end tests that need what
 * cannot be provoked from outside:
 *   QVD_SHIM_CLOCK_SHIFT=N  clock_gettime(CLOCK_REALTIME) answers N seconds
 *                           ahead of the system's wall clock, as if the clock
 *                           had been set back N seconds right after each
 *                           reading: a wait until "reading + 1 s" on the wall
 *                           clock then lasts N + 1 seconds.
 *   QVD_SHIM_FAIL_THREAD=N  the Nth pthread_create of the process (counted
 *                           from 1) fails with EAGAIN; the others run.
 * Built without the sanitizers, so that it loads into every build. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <pthread.h>
#include <stdlib.h>
#include <time.h>

static long envNumber(const char* name) {
  const char* text = getenv(name);
  return text != NULL ? strtol(text, NULL, 10) : 0;
}

int clock_gettime(clockid_t clock, struct timespec* now) {
  static int (*real)(clockid_t, struct timespec*);
  if (real == NULL) real = (int (*)(clockid_t, struct timespec*))dlsym(RTLD_NEXT, "clock_gettime");
  int rc = real(clock, now);
  if (rc == 0 && clock == CLOCK_REALTIME) now->tv_sec += envNumber("QVD_SHIM_CLOCK_SHIFT");
  return rc;
}

typedef int (*CreateFn)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);

int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*entry)(void*), void* arg) {
  static CreateFn real;
  static int calls;
  if (real == NULL) real = (CreateFn)dlsym(RTLD_NEXT, "pthread_create");
  int n = __atomic_add_fetch(&calls, 1, __ATOMIC_SEQ_CST);
  if (n == envNumber("QVD_SHIM_FAIL_THREAD")) return EAGAIN;
  return real(thread, attr, entry, arg);
}
