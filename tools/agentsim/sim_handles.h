// The simulated server's handles a collector holds, followed from the
// simulator's call log (VAXEL_SIM_LOG) while the collector runs.
//
// The log names each handle the simulator hands out (a memory block, an
// open database, document or collection) on the line of the call that
// handed it out, and each release on the line of the call that released
// it; the tracker reads the lines appended since its last look and keeps
// the set of handles handed out and not yet released, with the entry point
// that handed each out, so a growing count points at the call whose
// handles are not given back.
//
// Thread-safety: none; one thread owns a tracker.
#ifndef QVD_TOOLS_AGENTSIM_SIM_HANDLES_H_
#define QVD_TOOLS_AGENTSIM_SIM_HANDLES_H_

#include <sys/types.h>

#include <cstddef>
#include <map>
#include <optional>
#include <string>
#include <utility>

namespace agentsim {

class SimHandles {
 public:
  // Follows the log at `path` from its start.  The exit line of a process
  // ends that process's handles, so a log that already holds whole earlier
  // runs is read correctly too.
  explicit SimHandles(std::string path) : path_(std::move(path)) {}

  // Reads the complete lines appended since the last call and updates the
  // held handles.  False when the log cannot be read (it may not exist
  // yet: the collector creates it on its first call).
  bool Update();

  // Handles handed out and not released, in all.
  size_t held() const { return held_.size(); }
  // The same by the entry point that handed them out.
  std::map<std::string, size_t> HeldByEntryPoint() const;
  // Log lines read so far.
  unsigned long lines() const { return lines_; }
  // The simulator's own count from its exit line ("exit handles_held=N"),
  // once the collector has ended and the line was read.
  std::optional<long> exitHandlesHeld() const { return exitHeld_; }

  // Handles one log line (without its line feed).  Public so that a test
  // can feed lines without a file.
  void Line(const std::string& line);

 private:
  std::string path_;
  off_t offset_ = 0;
  std::string partial_;
  std::map<unsigned long, std::string> held_;  // handle -> entry point
  unsigned long lines_ = 0;
  std::optional<long> exitHeld_;
};

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_SIM_HANDLES_H_
