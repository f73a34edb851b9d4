// Ending the server runtime after every collector thread that uses it.
//
// The slow-table workers, the availability monitor, the database check
// thread and the add-in threads each start a server runtime of their own.
// Before the main thread ends the process's runtime (VxTermRuntime), on
// every way out once any of them may run (the end of the dispatch loop and
// the start-up failures after the add-in threads started), it closes the
// server gate (state/server_gate.h), asks them all to stop and waits, at
// most kThreadStopWait seconds on a clock that never jumps, until none is
// inside the server; then it joins them, giving each a moment more (a
// thread still waiting for the installation's lock file, held by another
// process, is left to end by itself: it touches nothing once it has it).
// The runtime is ended only when no thread is inside the server any more: a
// thread still inside after the wait (a server call that does not return)
// would crash on a terminated runtime, so the runtime is then left to end
// with the process, and a line says so.
//
// Thread-safety: main thread only; call once.
#ifndef QVD_CORE_RUNTIME_END_H_
#define QVD_CORE_RUNTIME_END_H_

// Seconds the collector waits for its threads at shutdown.
constexpr unsigned kThreadStopWait = 15;

// Stops the threads and ends the runtime as above.  Returns true when
// VxTermRuntime was called.
bool endServerRuntime();

#endif  // QVD_CORE_RUNTIME_END_H_
