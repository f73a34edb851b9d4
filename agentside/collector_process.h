// The collector process that agentsim starts: environment, output
// redirection, exit status, and stopping it when it overstays.
//
// Thread-safety: none; one thread owns the object.  The destructor stops a
// collector that is still running (SIGKILL) and reaps it.
#ifndef QVD_TOOLS_AGENTSIM_COLLECTOR_PROCESS_H_
#define QVD_TOOLS_AGENTSIM_COLLECTOR_PROCESS_H_

#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace agentsim {

// Builds the collector's environment: agentsim's own (unless `clean`), then
// CP_PORT, then `sets` in order (a later one wins), then `unsets` removed.
std::vector<std::string> BuildEnvironment(bool clean, int port,
                                          const std::vector<std::pair<std::string, std::string>>& sets,
                                          const std::vector<std::string>& unsets);

// Reads NAME=VALUE lines (blank and '#' lines skipped) and appends them to
// *sets.  Returns false with *error set when the file cannot be read or a
// line has no '=' or an empty name.
bool ReadEnvFile(const std::string& path, std::vector<std::pair<std::string, std::string>>* sets,
                 std::string* error);

class CollectorProcess {
 public:
  CollectorProcess() = default;
  ~CollectorProcess();
  CollectorProcess(const CollectorProcess&) = delete;
  CollectorProcess& operator=(const CollectorProcess&) = delete;

  // Starts `argv` (searched in PATH) with `env`.  Its standard output and
  // error go to `outputFile` (appended) or, when empty, to agentsim's
  // standard error.  Returns false with *error set when it cannot be started
  // (also when exec fails in the child).
  bool Start(const std::vector<std::string>& argv, const std::vector<std::string>& env,
             const std::string& outputFile, std::string* error);

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

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_COLLECTOR_PROCESS_H_
