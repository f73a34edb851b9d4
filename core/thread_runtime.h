// The server runtime of a collector thread other than the main thread.
//
// A thread that calls the server starts the runtime for itself with
// VxInitThread, and the server's transaction log must be switched off in
// vaxel.ini while it does (dbhealth/translog_checker.h); it ends the runtime
// with VxTermThread before it ends.
//
// Thread-safety: each function acts on the calling thread.
#ifndef QVD_CORE_THREAD_RUNTIME_H_
#define QVD_CORE_THREAD_RUNTIME_H_

// Switches the transaction log off, calls QVD_VxInitThread and switches the
// log back, whatever the call gave.  Returns true when the runtime is
// started; false after an always-level trace line that names `thread` and
// the failing step (the runtime is then not started, or already ended).
bool startThreadRuntime(const char* thread);

// Ends the calling thread's runtime (QVD_VxTermThread).
void endThreadRuntime();

#endif  // QVD_CORE_THREAD_RUNTIME_H_
