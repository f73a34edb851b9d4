// The agent's view of one conversation: what was requested, what the
// collector registered and answered, and every protocol violation.
//
// The caller tells the session about every request it sends and hands it
// every line the collector sends; the session decodes the line with
// the agent side's own reader, matches answers to requests by id (one answer per
// id, same group as requested, only for registered groups), checks row
// widths against the column catalogue, and returns a verdict per line.
//
// Thread-safety: none; one thread owns a session.
#ifndef QVD_AGENTSIDE_SESSION_H_
#define QVD_AGENTSIDE_SESSION_H_

#include <chrono>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "agentside/columns.h"
#include "agentside/wire_reader.h"

namespace agentside {

using Clock = std::chrono::steady_clock;

// What one received line turned out to be.
struct Verdict {
  bool decoded = false;  // msg is valid
  WireMessage msg;
  std::vector<std::string> violations;
  // Answers: milliseconds since the matching request was sent (-1: none).
  double ms = -1;
  // Answers: true when the line answered a request the agent was waiting for.
  bool matched = false;
};

// A request found in a line the agent sends verbatim (`raw` script lines),
// judged the way the collector judges a message: a dataRequest wins over a
// taskRequest; the group is the name of the last attrGroup element.
struct ScannedRequest {
  bool task = false;
  std::string id;
  std::string group;
};

// Looks for a data or task request with an id in one agent message.
// The id and group are decoded as the collector decodes them (predefined
// entities and character references below 128).
bool ScanRequest(const std::string& message, ScannedRequest* out);

class Session {
 public:
  // `columns` must outlive the session.  Answered ids are remembered to tell
  // a second answer from an answer to an id never requested; a program that
  // talks to one collector for long keeps only the last `answeredMemory` of
  // them (an older id answered again is then reported as never requested).
  explicit Session(const ColumnCatalogue* columns, size_t answeredMemory = static_cast<size_t>(-1))
      : columns_(columns), answeredMemory_(answeredMemory) {}

  // Records a data request sent with `id` for `group`.
  void NoteDataRequest(const std::string& id, const std::string& group, Clock::time_point sent);
  // Records a task request sent with `id`.
  void NoteTaskRequest(const std::string& id, Clock::time_point sent);

  // Decodes and checks one line (without its line feed).
  Verdict Receive(const std::string& line, Clock::time_point now);

  // The collector closed the connection; `partial` holds bytes received
  // after the last line feed.  Returns the violations this reveals.
  std::vector<std::string> NoteClosed(const std::string& partial);

  bool registered() const { return registered_; }
  // The groups of the registration, in the order sent.
  const std::vector<std::pair<std::string, long>>& groups() const { return groups_; }
  bool IsRegistered(const std::string& group) const { return registeredNames_.count(group) != 0; }

  // Counts of answers (data responses, data errors, task responses) and of
  // events (event rows and event errors) received so far.
  size_t answers() const { return answers_; }
  size_t events() const { return events_; }
  size_t violations() const { return violationCount_; }

  // Requests that the collector is expected to answer and has not yet: all
  // task requests and data requests for registered groups other than the
  // event group.  Ids in sending order.
  std::vector<std::string> AwaitedIds() const;
  size_t AwaitedCount() const;
  // True while the request sent with `id` is one of those.
  bool IsAwaited(const std::string& id) const;

 private:
  struct Pending {
    bool task = false;
    std::string group;
    bool expectAnswer = true;
    Clock::time_point sent;
    unsigned long seq = 0;
  };

  void CheckRegistration(const WireMessage& msg, Verdict* v);
  void CheckAnswer(Verdict* v, Clock::time_point now);
  void CheckRows(const WireMessage& msg, Verdict* v);

  const ColumnCatalogue* columns_;
  bool registered_ = false;
  std::vector<std::pair<std::string, long>> groups_;
  std::set<std::string> registeredNames_;
  std::map<std::string, std::deque<Pending>> pending_;
  std::set<std::string> answered_;
  std::deque<std::string> answeredOrder_;  // only while answered_ is bounded
  size_t answeredMemory_;
  unsigned long seq_ = 0;
  size_t received_ = 0;
  size_t answers_ = 0;
  size_t events_ = 0;
  size_t violationCount_ = 0;
};

}  // namespace agentside

#endif  // QVD_AGENTSIDE_SESSION_H_
