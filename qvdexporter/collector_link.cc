#include "qvdexporter/collector_link.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "agentside/wire_writer.h"

namespace qvdexporter {

namespace {

// A line from the collector longer than this is a fault, not an answer.
constexpr size_t kMaxLine = 16u << 20;
// Requests the collector has not read yet; beyond this it has stopped reading.
constexpr size_t kMaxPendingOutput = 1u << 20;
// A collector that ran this long before it ended is started again after the
// first pause, not a longer one.
constexpr double kHealthyRun = 60;
// Answered ids the session remembers (a long-running link must not grow).
constexpr size_t kAnsweredMemory = 4096;

std::string Seconds(double s) {
  char buf[32];
  snprintf(buf, sizeof buf, "%g", s);
  return buf;
}

}  // namespace

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string DescribeExit(std::optional<int> status, std::optional<int> signal) {
  if (signal) return "was ended by signal " + std::to_string(*signal) + " (" + strsignal(*signal) + ")";
  if (!status) return "ended";
  std::string s = "exited with status " + std::to_string(*status);
  switch (*status) {
    case 0: return s + " (its start-up failed; its trace says why)";
    case 1: return s + " (it ran out of memory at start-up)";
    case 30: return s + " (it ended the conversation: a shutdown notice or a lost connection)";
    case 31: return s + " (the server asked its programs to end)";
    case 127: return s + " (it could not be run: the program or a library it needs, such as libvaxel.so, was not found)";
    default: return s;
  }
}

CollectorLink::CollectorLink(LinkOptions options, LinkListener* listener, const agentside::ColumnCatalogue* columns)
    : options_(std::move(options)), listener_(listener), columns_(columns) {}

CollectorLink::~CollectorLink() {
  Stop();
  if (wakeRead_ >= 0) close(wakeRead_);
  if (wakeWrite_ >= 0) close(wakeWrite_);
}

bool CollectorLink::Start(std::string* error) {
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    *error = std::string("pipe: ") + strerror(errno);
    return false;
  }
  wakeRead_ = fds[0];
  wakeWrite_ = fds[1];
  thread_ = std::thread([this] { Run(); });
  return true;
}

void CollectorLink::RequestRound() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    roundRequested_ = true;
  }
  if (wakeWrite_ >= 0) {
    ssize_t ignored = write(wakeWrite_, "r", 1);  // a full pipe already wakes the link
    (void)ignored;
  }
}

void CollectorLink::Stop() {
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
  }
  cv_.notify_all();
  if (wakeWrite_ >= 0) {
    ssize_t ignored = write(wakeWrite_, "s", 1);
    (void)ignored;
  }
  if (thread_.joinable()) thread_.join();
}

bool CollectorLink::StopRequested() {
  std::lock_guard<std::mutex> lock(mu_);
  return stopping_;
}

bool CollectorLink::Wait(double seconds) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return stopping_; });
  return !stopping_;
}

bool CollectorLink::Wake() {
  char buf[64];
  while (read(wakeRead_, buf, sizeof buf) > 0) {
  }
  std::lock_guard<std::mutex> lock(mu_);
  bool asked = roundRequested_;
  roundRequested_ = false;
  return asked;
}

void CollectorLink::Run() {
  double pause = options_.firstPause;
  while (!StopRequested()) {
    std::string why;
    double startedAt = Now();
    End end = End::kCollectorGone;
    if (StartCollector(&why)) end = Serve(&why);
    bool stopping = end == End::kStop || StopRequested();
    EndCollector(stopping);
    if (stopping) break;
    if (!startFailed_) why += "; it " + DescribeExit(collector_->status(), collector_->signal());
    listener_->CollectorDown(why);
    if (!options_.restart) break;
    if (Now() - startedAt >= kHealthyRun) pause = options_.firstPause;
    listener_->Pausing(pause);
    if (!Wait(pause)) break;
    pause = std::min(pause * 2, options_.maxPause);
  }
  finished_ = true;
}

bool CollectorLink::StartCollector(std::string* why) {
  session_ = std::make_unique<agentside::Session>(columns_, kAnsweredMemory);
  in_.clear();
  out_.clear();
  tables_.clear();
  outstanding_.clear();
  roundIds_.clear();
  roundOpen_ = false;
  collector_ = std::make_unique<agentside::CollectorProcess>();
  startFailed_ = true;
  std::string error;
  if (!loopback_.Listen(0, &error)) {
    *why = error;
    return false;
  }
  std::vector<std::string> env =
      agentside::BuildEnvironment(options_.cleanEnv, loopback_.port(), options_.envSets, {});
  agentside::StartOptions start;
  start.parentDeathSignal = SIGTERM;
  start.defaultSignals = true;
  if (!collector_->Start(options_.command, env, options_.collectorOutput, &error, start)) {
    loopback_.Close();
    *why = "cannot start the collector: " + error;
    return false;
  }
  startFailed_ = false;
  listener_->CollectorStarted(collector_->pid());
  double deadline = Now() + options_.startTimeout;
  int refused = 0;
  fd_ = loopback_.Accept(
      std::chrono::steady_clock::now() +
          std::chrono::duration_cast<std::chrono::steady_clock::duration>(
              std::chrono::duration<double>(options_.startTimeout)),
      [this] { return !CollectorEnded() && !StopRequested(); }, collector_->pid(), &refused);
  loopback_.Close();  // one collector per start: later connections are refused
  if (refused > 0)
    listener_->Violation("refused " + std::to_string(refused) +
                         " connection(s) to the collector's port from processes other than the collector");
  if (fd_ < 0) {
    if (StopRequested()) *why = "stopped";
    else if (CollectorEnded()) *why = "the collector ended before it connected";
    else *why = "the collector did not connect within " + Seconds(options_.startTimeout) + " s";
    return false;
  }
  fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) | O_NONBLOCK);
  while (!session_->registered()) {
    if (StopRequested()) return *why = "stopped", false;
    if (Now() >= deadline) {
      *why = "the collector connected but sent no registration within " + Seconds(options_.startTimeout) + " s";
      return false;
    }
    pollfd p[2] = {{fd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    if (poll(p, 2, 100) > 0) {
      if (p[1].revents) Wake();  // no rounds before the registration
      if (p[0].revents && !ReadInput(why)) return false;
    }
    if (!session_->registered() && CollectorEnded()) {
      ReadInput(why);
      if (session_->registered()) break;
      *why = "the collector ended before its registration";
      return false;
    }
  }
  return true;
}

CollectorLink::End CollectorLink::Serve(std::string* why) {
  SendRound();  // the first figures, so that the first scrape finds them
  for (;;) {
    pollfd p[2] = {{fd_, static_cast<short>(POLLIN | (out_.empty() ? 0 : POLLOUT)), 0}, {wakeRead_, POLLIN, 0}};
    int waitMs = 100;
    if (roundOpen_) waitMs = std::max(0, std::min(waitMs, static_cast<int>((roundDeadline_ - Now()) * 1000) + 1));
    int r = poll(p, 2, waitMs);
    if (StopRequested()) return End::kStop;
    if (r > 0 && p[1].revents && Wake() && !roundOpen_) SendRound();
    if (r > 0 && (p[0].revents & (POLLIN | POLLHUP | POLLERR)) && !ReadInput(why)) return End::kCollectorGone;
    if (!Flush(why)) return End::kCollectorGone;
    if (roundOpen_ && (roundIds_.empty() || Now() >= roundDeadline_)) FinishRound(!roundIds_.empty());
    if (CollectorEnded()) {
      std::string ignored;
      ReadInput(&ignored);  // lines it wrote before it went
      *why = "the collector ended";
      return End::kCollectorGone;
    }
  }
}

void CollectorLink::SendRound() {
  roundIds_.clear();
  for (const std::string& table : tables_) {
    if (table == agentside::kEventGroup) continue;  // its rows come only as events
    std::string pending;
    for (const auto& o : outstanding_)
      if (o.second == table) pending = o.first;
    if (!pending.empty()) {  // still waiting for the previous request: no second one
      roundIds_.insert(pending);
      continue;
    }
    std::string id = std::to_string(nextId_++);
    session_->NoteDataRequest(id, table, agentside::Clock::now());
    out_ += agentside::DataRequestLine(id, table, std::nullopt, std::nullopt, {}) + "\n";
    outstanding_[id] = table;
    roundIds_.insert(id);
  }
  roundAsked_ = static_cast<int>(roundIds_.size());
  roundAnswered_ = 0;
  roundOpen_ = true;
  roundDeadline_ = Now() + options_.answerTimeout;
}

void CollectorLink::FinishRound(bool deadline) {
  if (deadline)
    for (const std::string& id : roundIds_) listener_->TableError(outstanding_[id], 0, true);
  roundIds_.clear();
  roundOpen_ = false;
  listener_->RoundDone(roundAnswered_, roundAsked_);
}

bool CollectorLink::Flush(std::string* why) {
  while (!out_.empty() && fd_ >= 0) {
    ssize_t n = send(fd_, out_.data(), out_.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      out_.erase(0, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    *why = std::string("the connection to the collector failed: ") + strerror(errno);
    return false;
  }
  if (out_.size() > kMaxPendingOutput) {
    *why = "the collector stopped reading its requests";
    return false;
  }
  return true;
}

bool CollectorLink::ReadInput(std::string* why) {
  if (fd_ < 0) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
    if (n > 0) {
      in_.append(buf, static_cast<size_t>(n));
      size_t start = 0, nl;
      while ((nl = in_.find('\n', start)) != std::string::npos) {
        HandleLine(in_.substr(start, nl - start));
        start = nl + 1;
      }
      in_.erase(0, start);
      if (in_.size() > kMaxLine) {
        listener_->Violation("a line of more than " + std::to_string(kMaxLine) + " bytes without a line feed");
        *why = "the collector sent a line that does not end";
        return false;
      }
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
    *why = n == 0 ? "the collector closed the connection"
                  : std::string("the connection to the collector failed: ") + strerror(errno);
    if (!in_.empty()) listener_->Violation("the connection closed after " + std::to_string(in_.size()) +
                                           " bytes of an unterminated line");
    in_.clear();
    shutdown(fd_, SHUT_WR);  // as an agent does: the collector waits for our side to close
    return false;
  }
}

void CollectorLink::HandleLine(const std::string& line) {
  agentside::Verdict v = session_->Receive(line, agentside::Clock::now());
  for (const std::string& violation : v.violations) listener_->Violation(violation);
  if (!v.decoded) return;
  const agentside::WireMessage& m = v.msg;
  switch (m.kind) {
    case agentside::WireMessage::kRegistration:
      if (tables_.empty() && v.violations.empty()) {
        for (const auto& g : m.groups) tables_.push_back(g.first);
        listener_->Registered(tables_);
      }
      break;
    case agentside::WireMessage::kData:
    case agentside::WireMessage::kDataError: {
      auto it = outstanding_.find(m.id);
      if (it == outstanding_.end() || it->second != m.group) break;  // the session reported it
      outstanding_.erase(it);
      // A table answered with an error does not count as answered.
      if (roundIds_.erase(m.id) && m.kind == agentside::WireMessage::kData) ++roundAnswered_;
      if (m.kind == agentside::WireMessage::kData) listener_->TableAnswer(m.group, m.rows);
      else listener_->TableError(m.group, m.rc, false);
      break;
    }
    case agentside::WireMessage::kEvent:
      if (m.group == agentside::kEventGroup && m.rows.size() == 1) listener_->Event(m.rows[0]);
      break;
    case agentside::WireMessage::kEventError:
      if (m.group == agentside::kEventGroup) listener_->EventError(m.rc);
      break;
    case agentside::WireMessage::kTask:
      break;  // never asked for; the session reports it
  }
}

void CollectorLink::EndCollector(bool notify) {
  if (fd_ >= 0) {
    if (notify) {
      out_ += agentside::ShutdownLine(std::nullopt) + "\n";
      std::string ignored;
      Flush(&ignored);
    }
    // End-of-file, as an agent that goes: the collector ends the
    // conversation (status 30) when it reads it.
    shutdown(fd_, SHUT_WR);
  }
  double deadline = Now() + options_.stopGrace;
  while (collector_ && collector_->started() && !CollectorEnded() && Now() < deadline) {
    if (fd_ >= 0) {
      pollfd p{fd_, POLLIN, 0};
      std::string ignored;
      if (poll(&p, 1, 50) > 0 && !ReadInput(&ignored)) {
        close(fd_);
        fd_ = -1;
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
  }
  if (collector_) collector_->Stop(5);
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  loopback_.Close();
  if (roundOpen_) {
    roundIds_.clear();
    roundOpen_ = false;
  }
}

}  // namespace qvdexporter
