// The administrator's options of qvdclient: --help (-h), --version and
// --check.  The agent starts the collector without arguments, and arguments
// that do not begin with a dash are passed on unchanged to the server
// runtime, so these options change nothing the agent relies on.  Any other
// command line with a dash in front of an argument (an unknown option such
// as -V, or one of ours with further arguments) is a usage error: a
// mistyped command must never become a real start, which would switch
// vaxel.ini, write the install's files and end with status 0.
//
// Thread-safety: call once from main, before anything else runs.
#ifndef QVD_CORE_COMMAND_LINE_H_
#define QVD_CORE_COMMAND_LINE_H_

// When argv holds exactly one of the options, carries it out (output on
// standard output), stores the exit status in *status and returns true:
// 0 for --help and --version; for --check 0 when start-up would get
// through, 1 when it would stop.  When any argument begins with a dash
// otherwise, writes the reason and the usage line to standard error, stores
// 2 and returns true, having touched nothing.  Otherwise (no argument, or
// none with a dash) returns false and the collector starts as usual.
bool handleAdminOptions(int argc, char** argv, int* status);

#endif  // QVD_CORE_COMMAND_LINE_H_
