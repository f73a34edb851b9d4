// The exporter's side of the conversation with one collector: it plays the
// monitoring agent.  On a thread of its own it listens on the loopback
// interface, starts the collector with CP_PORT set, accepts its connection
// (only from that process), takes its registration, asks it for every
// registered table when a round is requested, hands answers and events to
// its listener, and starts the collector again with a growing pause when it
// ends, fails to start, never registers or stops reading.
//
// Every line the collector sends is checked by the agent side's session
// (agentside/session.h); a fault is reported to the listener and the line is
// not used.
//
// Threads: Start() runs the link on a thread it owns; the listener's
// methods are called on that thread, one at a time.  RequestRound() and
// Stop() may be called from any thread.  The collector is started from the
// link's thread, which lives until Stop(), so the collector receives
// SIGTERM when the exporter dies (PR_SET_PDEATHSIG); Stop() sends it the
// agent's shutdown notice and waits for it to end.
#ifndef QVD_QVDEXPORTER_COLLECTOR_LINK_H_
#define QVD_QVDEXPORTER_COLLECTOR_LINK_H_

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "agentside/collector_process.h"
#include "agentside/columns.h"
#include "agentside/listener.h"
#include "agentside/session.h"

namespace qvdexporter {

struct LinkOptions {
  std::vector<std::string> command;  // the collector and its arguments
  // The collector's environment: the exporter's own (unless cleanEnv), then
  // these settings in order; CP_PORT is always the exporter's port.
  std::vector<std::pair<std::string, std::string>> envSets;
  bool cleanEnv = false;
  std::string collectorOutput;  // file for its standard output and error; "": the exporter's standard error
  double startTimeout = 60;     // seconds from its start to its registration
  double answerTimeout = 5;     // seconds a round waits for its answers
  double firstPause = 1;        // pause before the first restart; doubles up to maxPause
  double maxPause = 60;
  double stopGrace = 5;         // seconds between the shutdown notice and SIGTERM
  bool restart = true;          // false: after the collector ends, the link ends (--once)
};

// What the link reports.  Called on the link's thread only.
class LinkListener {
 public:
  virtual ~LinkListener() = default;
  virtual void CollectorStarted(pid_t pid) = 0;
  // The registration: the tables in the order the collector sent them.
  virtual void Registered(const std::vector<std::string>& tables) = 0;
  virtual void TableAnswer(const std::string& table, const std::vector<std::vector<std::string>>& rows) = 0;
  // A data error (rc) or, with timedOut, no answer within the round's time.
  virtual void TableError(const std::string& table, long rc, bool timedOut) = 0;
  virtual void Event(const std::vector<std::string>& row) = 0;
  virtual void EventError(long rc) = 0;
  virtual void Violation(const std::string& message) = 0;
  // A round ended: `answered` of the `asked` tables answered it with data
  // (not with an error, not too late).
  virtual void RoundDone(int answered, int asked) = 0;
  // The collector is gone (or never came): why, in words for the log.
  virtual void CollectorDown(const std::string& why) = 0;
  // The link thread is about to pause for `seconds` before the next start.
  virtual void Pausing(double seconds) = 0;
};

// Words for a collector's end: "exited with status 30 (...)", "killed by
// signal 9".
std::string DescribeExit(std::optional<int> status, std::optional<int> signal);

class CollectorLink {
 public:
  // `listener` and `columns` must outlive the link.
  CollectorLink(LinkOptions options, LinkListener* listener, const agentside::ColumnCatalogue* columns);
  ~CollectorLink();
  CollectorLink(const CollectorLink&) = delete;
  CollectorLink& operator=(const CollectorLink&) = delete;

  // Starts the link's thread.  Returns false with *error when the wake-up
  // pipe cannot be made.
  bool Start(std::string* error);

  // Asks for a round: one data request for every registered table except
  // MV_Server that has no request outstanding.  Several calls before the
  // link gets to it make one round.  Nothing happens while no collector is
  // registered.
  void RequestRound();

  // Ends the conversation (shutdown notice, then SIGTERM and SIGKILL as
  // needed), stops the thread and returns when the collector has ended.
  void Stop();

  // True once the link's thread has ended (Stop, or the collector's end
  // without restart).
  bool finished() const { return finished_; }

 private:
  enum class End { kStop, kCollectorGone };

  void Run();
  bool StartCollector(std::string* why);
  End Serve(std::string* why);
  void SendRound();
  void FinishRound(bool deadline);
  bool ReadInput(std::string* why);
  void HandleLine(const std::string& line);
  bool Flush(std::string* why);
  void EndCollector(bool orderly);
  bool Wait(double seconds);  // false when Stop() was called meanwhile
  bool Wake();                // drains the wake-up pipe; true when a round was asked for
  bool StopRequested();
  bool CollectorEnded() { return collector_ == nullptr || collector_->Poll(); }

  LinkOptions options_;
  LinkListener* listener_;
  const agentside::ColumnCatalogue* columns_;

  std::thread thread_;
  int wakeRead_ = -1, wakeWrite_ = -1;
  std::mutex mu_;
  std::condition_variable cv_;
  bool stopping_ = false;        // guarded by mu_
  bool roundRequested_ = false;  // guarded by mu_
  std::atomic<bool> finished_{false};

  // Link thread only.
  std::unique_ptr<agentside::CollectorProcess> collector_;
  agentside::LoopbackListener loopback_;
  std::unique_ptr<agentside::Session> session_;
  int fd_ = -1;
  std::string in_, out_;
  std::vector<std::string> tables_;
  std::map<std::string, std::string> outstanding_;  // request id -> table
  std::set<std::string> roundIds_;
  int roundAnswered_ = 0, roundAsked_ = 0;
  bool roundOpen_ = false;
  double roundDeadline_ = 0;
  unsigned long nextId_ = 1;
  bool startFailed_ = false;  // the program could not be run at all
};

// Seconds on the steady clock.
double Now();

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_COLLECTOR_LINK_H_
