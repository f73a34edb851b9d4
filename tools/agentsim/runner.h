// One agentsim run: listen, start the collector, accept its connection,
// play the script (or the benchmark), end the conversation, report, and
// work out agentsim's exit status.
//
// All of it runs on the calling thread: reading the collector's lines is
// done by Pump(), which every wait calls, so the order of the report is the
// order of events on the connection.
//
// Thread-safety: none; one thread owns a runner.
#ifndef QVD_TOOLS_AGENTSIM_RUNNER_H_
#define QVD_TOOLS_AGENTSIM_RUNNER_H_

#include <functional>
#include <string>
#include <vector>

#include "tools/agentsim/agentside.h"
#include "tools/agentsim/options.h"
#include "tools/agentsim/report.h"

namespace agentsim {

// Exit statuses of agentsim.
enum : int {
  kExitOk = 0,
  kExitUsage = 1,
  kExitViolation = 2,
  kExitExpectation = 3,
  kExitStatusMismatch = 4,
};

class Runner {
 public:
  // `opts`, `reporter` and `columns` must outlive the runner.
  Runner(const Options& opts, Reporter* reporter, const ColumnCatalogue* columns);
  ~Runner();
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  // Runs the whole session and returns agentsim's exit status.
  int Run();

  // --- Used by the benchmark and by the script commands. ---

  // Waits for the registration (at most `seconds`).  False when it did not
  // come (the caller reports it).
  bool AwaitRegistration(double seconds);
  // Sends a data request for `group` with the next id (or `id` when not
  // empty) and returns the id.  Reports it unless `quiet`.
  std::string SendDataRequest(const std::string& group, bool quiet = false);
  // Sends one line (a line feed is added unless `partial`).  False when the
  // connection is gone.
  bool SendLine(const std::string& line, bool partial = false);
  // Reads and handles the collector's lines until `done()` holds or the
  // deadline passes; returns done().  Returns early, false, when nothing
  // more can arrive (connection closed and the collector gone).
  bool Pump(Clock::time_point deadline, const std::function<bool()>& done);

  Session& session() { return session_; }
  CollectorProcess& collector() { return collector_; }
  // While quiet, received answers are checked but not reported (violations
  // still are).
  void SetQuiet(bool quiet) { quiet_ = quiet; }
  void ExpectFailed(const std::string& message);
  bool connected() const { return fd_ >= 0 && !closed_; }
  // Bytes received from the collector so far.
  size_t bytesReceived() const { return bytesReceived_; }
  // While set, the size of every data answer received (its line feed
  // included) is appended to *sizes, except answers for `exceptGroup`
  // (when not empty); null stops it.  *sizes must outlive the recording.
  void RecordAnswerSizes(std::vector<size_t>* sizes, const std::string& exceptGroup = "") {
    answerSizes_ = sizes;
    answerSizesExcept_ = exceptGroup;
  }

 private:
  bool Listen(std::string* error);
  bool AcceptCollector();
  bool RunScript();
  bool RunCommand(const ScriptCommand& cmd);
  void EndSession();
  void ReadAvailable();
  void HandleLine(const std::string& line);
  void MarkClosed();
  void PollCollector();
  void NoteRawRequests(const std::string& sent);
  // The `reading` command, and what it changes in reading and sending.
  void SetReading(const ScriptCommand& cmd);
  size_t ReadSize(size_t room) const;
  void PaceReading();
  bool SendStalled(Clock::time_point lastTaken);
  std::string NextId();
  Clock::time_point Deadline(double seconds) const;

  const Options& opts_;
  Reporter* reporter_;
  Session session_;
  CollectorProcess collector_;
  LoopbackListener listener_;
  int fd_ = -1;
  bool closed_ = false;  // the collector closed, or agentsim closed, the connection
  bool exitReported_ = false;
  bool quiet_ = false;
  std::string inbuf_;
  std::string rawSent_;  // raw bytes sent and not yet ended by ">\n"
  unsigned long nextId_ = 1;
  size_t expectFailures_ = 0;
  size_t answerMark_ = 0;
  size_t eventMark_ = 0;
  size_t bytesReceived_ = 0;
  std::vector<size_t>* answerSizes_ = nullptr;  // not owned
  std::string answerSizesExcept_;
  // `reading`: off, on, or slow (slowBytes_ per read, then slowPause_).
  enum class ReadMode { kOn, kOff, kSlow } readMode_ = ReadMode::kOn;
  size_t slowBytes_ = 0;
  std::chrono::milliseconds slowPause_{0};
  // Set when, with reading off, the collector stopped taking what agentsim
  // sends: nothing more is sent.
  bool sendingStopped_ = false;
};

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_RUNNER_H_
