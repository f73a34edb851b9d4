// The collector process that an agent-side program (agentsim, the exporter)
// starts: environment, output
// redirection, exit status, and stopping it when it overstays.
//
// Thread-safety: none; one thread owns the object.  The destructor stops a
// collector that is still running (SIGKILL) and reaps it.
#ifndef QVD_AGENTSIDE_COLLECTOR_PROCESS_H_
#define QVD_AGENTSIDE_COLLECTOR_PROCESS_H_

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace agentside {

// Builds the collector's environment: the caller's own (unless `clean`), then
// CP_PORT, then `sets` in order (a later one wins), then `unsets` removed.
std::vector<std::string> BuildEnvironment(bool clean, int port,
                                          const std::vector<std::pair<std::string, std::string>>& sets,
                                          const std::vector<std::string>& unsets);

// Reads NAME=VALUE lines (blank and '#' lines skipped) and appends them to
// *sets.  Returns false with *error set when the file cannot be read or a
// line has no '=' or an empty name.
bool ReadEnvFile(const std::string& path, std::vector<std::pair<std::string, std::string>>* sets,
                 std::string* error);

// How the collector is started, beyond its command and environment.
struct StartOptions {
  // Signal the collector receives when the thread that started it ends
  // (Linux PR_SET_PDEATHSIG; the kernel ties it to the thread, not the
  // process, so start the collector from a thread that lives as long as the
  // collector should).  0: none.
  int parentDeathSignal = 0;
  // Start the collector with no signal blocked and SIGPIPE, SIGTERM, SIGINT
  // and SIGHUP at their default action, whatever the caller blocks or
  // ignores for itself.
  bool defaultSignals = false;
};

class CollectorProcess {
 public:
  CollectorProcess() = default;
  ~CollectorProcess();
  CollectorProcess(const CollectorProcess&) = delete;
  CollectorProcess& operator=(const CollectorProcess&) = delete;

  // Starts `argv` (searched in PATH) with `env`.  Its standard output and
  // error go to `outputFile` (appended) or, when empty, to the caller's
  // standard error.  Returns false with *error set when it cannot be started
  // (also when exec fails in the child).
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& outputFile, std::string* error, const StartOptions& options = StartOptions());

  // Collects the exit status without blocking.  Returns true when the
  // process has ended (now or earlier).
  bool Poll();

  // Stops a running collector: SIGTERM, then SIGKILL after `graceSeconds`.
  // Marks it killed.  Returns when it has ended.
  void Stop(double graceSeconds);

  bool started() const { return pid_ > 0; }
  bool ended() const { return ended_; }
  pid_t pid() const { return pid_; }
  std::optional<int> status() const { return status_; }
  std::optional<int> signal() const { return signal_; }
  bool killed() const { return killed_; }

 private:
  pid_t pid_ = -1;
  bool ended_ = false;
  bool killed_ = false;
  std::optional<int> status_;
  std::optional<int> signal_;
};

// Resident memory (VmRSS) of process `pid` in kilobytes, or -1.
long ResidentKb(pid_t pid);

}  // namespace agentside

#endif  // QVD_AGENTSIDE_COLLECTOR_PROCESS_H_
