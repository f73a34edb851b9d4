// Child process control: launching a companion program of the install and
// a millisecond sleep.
//
// Thread-safety: startProcess touches only the operating system's process
// table and the caller's pid variable; qvd_msleep affects only the caller.
#ifndef QVD_STATE_PROCESS_H_
#define QVD_STATE_PROCESS_H_

// The variable that tells a launched program the collector's process id, so
// that it can end when the collector is gone, also when the collector ended
// before the program got to look at its parent.
constexpr char kCollectorPidVariable[] = "QVD_COLLECTOR_PID";

// Launches "<HALCYONHOME>/<binArch>/vd/bin/<program>" as a child process with
// the program's name as its only argument and the collector's environment,
// to which kCollectorPidVariable is set to the collector's process id.
// Finished children are collected first, without blocking.  Stores the
// child's process id in *pid (-1 when no child could be created) and returns
// true when the fork succeeded.  A failed exec is reported by the child's
// trace line; the child then ends with status 127 and the parent learns of
// it only when the program never connects.  A path longer than 291 bytes is
// refused with an error trace line: nothing is started, *pid is -1 and the
// result false.  The program starts with SIGPIPE at its default action
// (the collector ignores it).  `unused` is ignored.
// REQUIRES: halcyon_home and binArch are set (state/globals.h).
bool startProcess(const char* program, long* pid, void* unused);

// Sleeps the calling thread for `milliseconds`.  Returns 0, or -1 when a
// signal ended the sleep early (it is not resumed).
int qvd_msleep(unsigned long milliseconds);

#endif  // QVD_STATE_PROCESS_H_
