// Starting and ending the add-in threads MVConfigure (addin/mv_configure.h)
// and collectMVEvents (addin/event_collector.h).
//
// Locale: the process locale is taken from the environment (LANG, LC_*)
// once, on the main thread, before either thread starts; LC_NUMERIC and
// LC_CTYPE stay "C", so numbers are printed and read in the C form and the
// lower-casing of statistic names does not change.  Nothing sets the locale
// while other threads run.
//
// Exit: when the collector's process exits, the add-in threads are asked to
// stop (their waits end, the event sockets are shut down) and the exit
// waits, at most kAddInExitWait seconds, until both have ended, so that no
// add-in thread is inside the server API (holding a database, a document or
// its thread's runtime) when the process goes.
//
// Thread-safety: startAddInThreads runs on the main thread during start-up;
// the scopes are used by the add-in threads.
#ifndef QVD_ADDIN_ADDIN_THREADS_H_
#define QVD_ADDIN_ADDIN_THREADS_H_

class ServerSocket;

constexpr unsigned kAddInExitWait = 15;

// Sets the locale as above, then starts MVConfigure and collectMVEvents
// (detached, null argument).  Returns 0, or the pthread_create error with
// the failing thread's name in *threadName.
// REQUIRES: mvPort and nicHostname are set; registration is complete.
int startAddInThreads(const char** threadName);

// Ends the count of a running add-in thread for the exit (construct first
// thing in the thread's entry; startAddInThreads counted it).
class AddInThreadScope {
 public:
  AddInThreadScope();
  ~AddInThreadScope();
  AddInThreadScope(const AddInThreadScope&) = delete;
  AddInThreadScope& operator=(const AddInThreadScope&) = delete;
};

// Marks an attempt that uses the server API; the exit waits for it.
class AddInAttempt {
 public:
  AddInAttempt();
  ~AddInAttempt();
  AddInAttempt(const AddInAttempt&) = delete;
  AddInAttempt& operator=(const AddInAttempt&) = delete;
};

// The event server the exit shuts down (null: none).
void setAddInEventServer(ServerSocket* server);

// What the exit does; exposed for tests.  Idempotent.
void stopAddInThreads();

#endif  // QVD_ADDIN_ADDIN_THREADS_H_
