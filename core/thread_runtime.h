// The server runtime of a collector thread other than the main thread.
//
// A thread that calls the server starts the runtime for itself with
// VxInitThread, and the server's transaction log must be switched off in
// vaxel.ini while it does (dbhealth/translog_checker.h); it ends the runtime
// with VxTermThread before it ends.  Both happen inside the server gate
// (state/server_gate.h): once the collector is stopping, no runtime starts
// any more, and shutdown waits for every started one to end before the
// process's own runtime ends.
//
// Thread-safety: each function acts on the calling thread.
#ifndef QVD_CORE_THREAD_RUNTIME_H_
#define QVD_CORE_THREAD_RUNTIME_H_

// Enters the server gate, switches the transaction log off, calls
// QVD_VxInitThread and switches the log back, whatever the call gave.
// Returns true when the runtime is started (the thread is then inside the
// gate until endThreadRuntime); false after an always-level trace line that
// names `thread` and the failing step, or without one when the collector is
// stopping (the runtime is then not started, and the thread not inside).
bool startThreadRuntime(const char* thread);

// Ends the calling thread's runtime (QVD_VxTermThread) and leaves the gate.
void endThreadRuntime();

#endif  // QVD_CORE_THREAD_RUNTIME_H_
