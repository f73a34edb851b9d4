// The configuration check behind `qvdclient --check`, and the setting
// warnings a normal start writes.
//
// checkConfiguration reads every setting the way start-up reads it (same
// variables, same lenient numbers, same "none" and empty-text rules) and
// looks at every file start-up would use, but only with read-only means
// (stat, access, opening for reading): it starts no server runtime, takes no
// lock, writes no vaxel.ini, status file, template or trace file, and opens
// no agent connection.  It reports every finding at once, each with what to
// do about it.
//
// Severities: a problem is something that makes start-up stop; a warning is
// something start-up gets through but that is probably not what was meant;
// a note tells what start-up will do.  CP_PORT, which the agent sets when it
// starts the collector, is only noted when it is absent.
//
// Thread-safety: none needed; called before any thread starts.
#ifndef QVD_CORE_CONFIG_CHECK_H_
#define QVD_CORE_CONFIG_CHECK_H_

#include <cstdio>
#include <map>
#include <string>
#include <vector>

// Environment variables by name.
using Settings = std::map<std::string, std::string>;

enum class Severity { kOk, kNote, kWarning, kProblem };

struct Finding {
  Severity severity;
  std::string subject;  // the variable or file the finding is about
  std::string message;  // what was found and what to do
};

// A copy of the process environment.
Settings currentSettings();

// Checks `env` as start-up would read it; findings in start-up order.
std::vector<Finding> checkConfiguration(const Settings& env);

// Writes the report of `findings` to `out` ("ok", "note", "warning",
// "problem" lines and a summary) and returns the exit status of --check:
// 0 when start-up would get through, 1 when it would stop.
int reportFindings(const std::vector<Finding>& findings, FILE* out);

// Warnings for the variables of `env` that start with QVD_ (in any letter
// case) but that the collector does not read, each with the known name it
// most resembles.
std::vector<std::string> unknownSettingWarnings(const Settings& env);

// The QVD_ variables the collector reads.
const std::vector<std::string>& knownSettingNames();

#endif  // QVD_CORE_CONFIG_CHECK_H_
