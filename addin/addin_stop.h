// The add-in threads' stop request: set once when the collector stops, so
// that the MVConfigure and collectMVEvents threads stop waiting and leave
// the server API and their sockets before the server runtime ends.
//
// Thread-safety: every function may be called from any thread.
#ifndef QVD_ADDIN_ADDIN_STOP_H_
#define QVD_ADDIN_ADDIN_STOP_H_

// True once requestAddInStop() was called, or the collector is shutting
// down (qvdShutdown or addInShutdown set).
bool addInStopping();

// Sleeps `seconds` seconds, or less when a stop is requested meanwhile.
// Returns true when it slept the whole time.
bool addInSleep(unsigned seconds);

// Requests the stop and wakes every addInSleep.
void requestAddInStop();

#endif  // QVD_ADDIN_ADDIN_STOP_H_
