// Starting and ending the add-in threads MVConfigure (addin/mv_configure.h)
// and collectMVEvents (addin/event_collector.h).
//
// Locale: the process locale is taken from the environment (LANG, LC_*)
// once, on the main thread, before either thread starts; LC_NUMERIC and
// LC_CTYPE stay "C", so numbers are printed and read in the C form and the
// lower-casing of statistic names does not change.  Nothing sets the locale
// while other threads run.
//
// Stop: before the collector ends its server runtime, stopAddInThreads asks
// both threads to stop (their waits end, the event sockets are shut down)
// and waits, with a time limit, until both have ended, so that no add-in
// thread is inside the server API (holding a database, a document or its
// thread's runtime) when the runtime ends.  MVConfigure makes no attempt
// once the stop is asked; one under way finishes.
//
// Thread-safety: startAddInThreads runs on the main thread during start-up;
// the scopes are used by the add-in threads.
#ifndef QVD_ADDIN_ADDIN_THREADS_H_
#define QVD_ADDIN_ADDIN_THREADS_H_

#include <ctime>

class ServerSocket;

// Sets the locale as above, then starts MVConfigure and collectMVEvents
// (detached, null argument).  Returns 0, or the pthread_create error with
// the failing thread's name in *threadName.
// REQUIRES: mvPort and nicHostname are set; registration is complete.
int startAddInThreads(const char** threadName);

// Ends the count of a running add-in thread for the stop (construct first
// thing in the thread's entry; startAddInThreads counted it).
class AddInThreadScope {
 public:
  AddInThreadScope();
  ~AddInThreadScope();
  AddInThreadScope(const AddInThreadScope&) = delete;
  AddInThreadScope& operator=(const AddInThreadScope&) = delete;
};

// Marks an attempt that uses the server API; the stop waits for it.
class AddInAttempt {
 public:
  AddInAttempt();
  ~AddInAttempt();
  AddInAttempt(const AddInAttempt&) = delete;
  AddInAttempt& operator=(const AddInAttempt&) = delete;
};

// The event server the exit shuts down (null: none).
void setAddInEventServer(ServerSocket* server);

// Asks both threads to stop and waits until they have ended or `deadline`
// (on the clock of TimeGet, framework/services.h) has passed.  Returns true
// when none runs any more.  Idempotent.
bool stopAddInThreads(const struct timespec& deadline);

#endif  // QVD_ADDIN_ADDIN_THREADS_H_
