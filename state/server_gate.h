// The gate every collector thread other than the main thread passes to use
// the server.
//
// A thread enters the gate once it holds the transaction-log switch, before
// VxInitThread, and leaves it after VxTermThread (or after a runtime start
// that failed).  At shutdown the main thread closes the gate: no thread
// enters any more, and a thread that was waiting for the installation's lock
// file gives up without touching vaxel.ini or the server.  The main thread
// then waits, with a time limit, until no thread is inside before it ends
// the server runtime (VxTermRuntime): no collector thread is inside the
// server, or between the transaction-log switch-off and switch-back, once
// the runtime is gone.
//
// Thread-safety: every function may be called from any thread; the state is
// guarded by one mutex of the gate's own.
#ifndef QVD_STATE_SERVER_GATE_H_
#define QVD_STATE_SERVER_GATE_H_

#include <ctime>

// True while the gate is open (a peek: a thread that means to enter still
// calls enterServerGate).
bool serverGateOpen();

// Counts the calling thread in and returns true (also when it is inside
// already), or returns false when the gate is closed.  Fits the admission
// of VeloraTransLogChecker::checkAndDisableTransLog.
bool enterServerGate();

// Counts the calling thread out when it is inside; harmless otherwise, so
// every way out of a runtime start may call it.
void leaveServerGate();

// Closes the gate for good.
void closeServerGate();

// Waits until no thread is inside or `deadline` (on the clock of TimeGet,
// framework/services.h) has passed.  Returns true when none is inside.
bool waitServerGateEmpty(const struct timespec& deadline);

// The number of threads inside, for traces.
int threadsInsideServerGate();

#endif  // QVD_STATE_SERVER_GATE_H_
