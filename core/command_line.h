// The administrator's options of qvdclient: --help (-h), --version and
// --check.  The agent starts the collector without arguments, and any other
// argument is passed on unchanged to the server runtime, so these options
// change nothing the agent relies on.
//
// Thread-safety: call once from main, before anything else runs.
#ifndef QVD_CORE_COMMAND_LINE_H_
#define QVD_CORE_COMMAND_LINE_H_

// When argv holds exactly one of the options, carries it out (output on
// standard output), stores the exit status in *status and returns true:
// 0 for --help and --version; for --check 0 when start-up would get
// through, 1 when it would stop.  Otherwise returns false and the collector
// starts as usual.
bool handleAdminOptions(int argc, char** argv, int* status);

#endif  // QVD_CORE_COMMAND_LINE_H_
