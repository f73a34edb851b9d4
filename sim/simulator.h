// The process-wide state of the simulated server: its model, handles, call
// counts and call log, behind one mutex.
//
// Every entry point takes `mu` for its whole run (a ping's delay excepted),
// calls Enter first, and writes its log line before returning.  The state
// is created on first use and never destroyed, so entry points stay usable
// from static destructors of the program; at exit the log receives the
// count of handles still held.
#ifndef QVD_SIM_SIMULATOR_H_
#define QVD_SIM_SIMULATOR_H_

#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>

#include "sim/call_log.h"
#include "sim/handle_table.h"
#include "sim/model.h"

namespace vaxelsim {

class Simulator {
 public:
  static Simulator& Get();

  std::mutex mu;

  // Counts one call of `entry`, follows a change of VAXEL_SIM_DIR, and
  // returns the status a modelled fault injects into this call (0: none).
  // REQUIRES: mu held.
  VxStatus Enter(const char* entry);

  // Milliseconds every call of `entry` takes ("delays" of the model; 0:
  // none).  REQUIRES: mu held, after Enter.
  int DelayOf(const char* entry);

  // The model's clock.  REQUIRES: mu held.
  int64_t NowTicks();

  // Writes a problem with the model or a call to stderr and the log.
  // REQUIRES: mu held.
  void Report(const std::string& problem);

  // Finishes a log line with the status and writes it.  Returns the status.
  VxStatus Done(LogLine& line, VxStatus status);

  uint64_t Calls(const std::string& entry) const;
  // Frees every handle, zeroes the call counts, re-reads VAXEL_SIM_DIR and
  // VAXEL_SIM_LOG.  REQUIRES: mu held.
  void Reset();
  // The exit line of the log.  REQUIRES: mu held.
  std::string ExitLine() const;
  // Makes the calling process the one that writes the exit line: the one
  // that initialised the runtime, not a child forked from it.
  static void ClaimExitLine();

  Model model{[this](const std::string& p) { Report(p); }};
  HandleTable handles;
  CallLog log;
  bool runtimeUp = false;

 private:
  Simulator();
  void FollowEnvironment();

  std::string dirFromEnv_;
  bool dirKnown_ = false;
  std::map<std::string, uint64_t> calls_;
};

// Marks the calling thread as running the callbacks of a search or an item
// scan.  Entry points called from there answer from the model the search
// began with: a change of the model files reaches the calls after it.
class CallbackScope {
 public:
  CallbackScope();
  ~CallbackScope();
  CallbackScope(const CallbackScope&) = delete;
  CallbackScope& operator=(const CallbackScope&) = delete;
  static bool Active();
};

// One entry-point call: holds the simulator's lock, counts the call and
// builds its log line.  `fault` is the status a modelled fault injects (0:
// none); a faulted call does nothing but return it.  A modelled delay of
// the entry point passes first, without the lock: a slow server, whose
// other calls (of other threads) go on meanwhile.
class ApiCall {
 public:
  explicit ApiCall(const char* entry)
      : sim(Simulator::Get()), lock(sim.mu), fault(sim.Enter(entry)), line(entry) {
    if (int delay = sim.DelayOf(entry)) {
      lock.unlock();
      std::this_thread::sleep_for(std::chrono::milliseconds(delay));
      lock.lock();
    }
  }
  // Logs the status and returns it.
  VxStatus Done(VxStatus status) {
    MarkFault();
    return sim.Done(line, status);
  }
  // Logs a result that is not a status.
  void Finish(const char* key, long long value) {
    MarkFault();
    line.Num(key, value);
    sim.log.Write(line);
  }
  void Finish() {
    MarkFault();
    sim.log.Write(line);
  }

  void MarkFault() {
    if (fault != 0) line.Unsigned("injected", 1);
  }

  Simulator& sim;
  std::unique_lock<std::mutex> lock;
  VxStatus fault;
  LogLine line;
};

}  // namespace vaxelsim

#endif  // QVD_SIM_SIMULATOR_H_
