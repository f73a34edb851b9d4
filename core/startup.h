// The collector's main routine: start-up, then the dispatch loop.
//
// Start-up reads and checks the configuration the agent hands over in
// environment variables, initialises the server runtime (with the
// transaction log switched off around it), settles the server's canonical
// and abbreviated names and the intervals, runs the first availability
// check, loads the keyword tables, connects to the agent and registers the
// attribute groups, starts the background threads and builds the server
// information block.  Every failure ends the run with a trace line that
// names it.
//
// Thread-safety: runs on the process's initial thread; the globals it sets
// (state/globals.h) are complete before any other thread starts.
#ifndef QVD_CORE_STARTUP_H_
#define QVD_CORE_STARTUP_H_

// Exit statuses of the collector.
enum : int {
  kExitStartupFailed = 0,  // any start-up failure but the two below
  kExitNoMemory = 1,       // the server information block cannot be allocated
  kExitAgentEnded = 30,    // the agent ended the conversation or the link failed
  kExitServerEnded = 31,   // the server asked its programs to end
};

// Runs start-up and the dispatch loop; returns the process exit status.
// argc and argv are handed unchanged to the server runtime.
int qvdMain(int argc, char** argv);

// Reads a decimal integer leniently: leading white space, an optional sign,
// digits up to the first other character; no digits gives 0.  Returns false
// when the conversion failed: zero with the error indicator set, or a value
// outside the range of int.
bool convertDecimal(const char* text, int* value);

#endif  // QVD_CORE_STARTUP_H_
