#include "tools/agentsim/runner.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "tools/agentsim/bench.h"
#include "tools/agentsim/soak.h"

namespace agentsim {

namespace {

// How often `text` occurs in the file at `path` (0 when it cannot be read).
size_t Occurrences(const std::string& path, const std::string& text) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream content;
  content << in.rdbuf();
  std::string all = content.str();
  size_t count = 0;
  for (size_t at = all.find(text); at != std::string::npos; at = all.find(text, at + text.size())) ++count;
  return count;
}

bool SendsSomething(const ScriptCommand& c) {
  static const char* const kSending[] = {"request", "task", "start", "stop", "shutdown", "raw", "raw-part", "burst", "close"};
  for (const char* v : kSending)
    if (c.verb == v) return true;
  return false;
}

// Writes the port file atomically, so that a reader never sees it empty.
bool WritePortFile(const std::string& path, int port, std::string* error) {
  std::string tmp = path + ".tmp";
  FILE* f = fopen(tmp.c_str(), "w");
  if (!f) {
    *error = "cannot write " + tmp + ": " + strerror(errno);
    return false;
  }
  fprintf(f, "%d\n", port);
  if (fclose(f) != 0 || rename(tmp.c_str(), path.c_str()) != 0) {
    *error = "cannot write " + path + ": " + strerror(errno);
    return false;
  }
  return true;
}

}  // namespace

Runner::Runner(const Options& opts, Reporter* reporter, const ColumnCatalogue* columns)
    : opts_(opts), reporter_(reporter), session_(columns) {}

Runner::~Runner() {
  if (fd_ >= 0) close(fd_);
}

Clock::time_point Runner::Deadline(double seconds) const {
  if (seconds < 0) seconds = opts_.timeout;
  return Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

void Runner::ExpectFailed(const std::string& message) {
  ++expectFailures_;
  reporter_->ExpectFailed(message);
}

bool Runner::Listen(std::string* error) {
  if (!listener_.Listen(opts_.port, error)) return false;
  int port = listener_.port();
  reporter_->Listening(port);
  if (!opts_.portFile.empty() && !WritePortFile(opts_.portFile, port, error)) return false;
  if (!opts_.command.empty()) {
    std::vector<std::string> env = BuildEnvironment(opts_.cleanEnv, port, opts_.envSets, opts_.envUnsets);
    if (!collector_.Start(opts_.command, env, opts_.collectorOutput, error)) return false;
    reporter_->Started(collector_.pid(), opts_.command);
  }
  return true;
}

void Runner::PollCollector() {
  if (collector_.started() && collector_.Poll() && !exitReported_) {
    exitReported_ = true;
    reporter_->Exit(collector_.status(), collector_.signal(), collector_.killed());
  }
}

bool Runner::AcceptCollector() {
  fd_ = listener_.Accept(Deadline(opts_.acceptTimeout), [this] {
    PollCollector();
    return !(collector_.started() && collector_.ended());
  });
  if (fd_ < 0) return false;
  // One collector per session: later connections are refused.
  listener_.Close();
  reporter_->Connected();
  return true;
}

void Runner::MarkClosed() {
  if (closed_) return;
  closed_ = true;
  reporter_->Closed(inbuf_);
  for (const std::string& v : session_.NoteClosed(inbuf_)) reporter_->Violation(v, inbuf_);
  inbuf_.clear();
}

void Runner::HandleLine(const std::string& line) {
  Verdict v = session_.Receive(line, Clock::now());
  if (answerSizes_ != nullptr && v.decoded &&
      (v.msg.kind == WireMessage::kData || v.msg.kind == WireMessage::kDataError) &&
      (answerSizesExcept_.empty() || v.msg.group != answerSizesExcept_))
    answerSizes_->push_back(line.size() + 1);
  if (quiet_ && v.decoded && v.msg.kind != WireMessage::kRegistration) {
    for (const std::string& violation : v.violations) reporter_->Violation(violation, line);
    return;
  }
  reporter_->Received(line, v);
}

void Runner::ReadAvailable() {
  if (readMode_ == ReadMode::kOff) return;
  char buf[65536];
  for (;;) {
    ssize_t n = recv(fd_, buf, ReadSize(sizeof buf), MSG_DONTWAIT);
    if (n > 0) {
      bytesReceived_ += static_cast<size_t>(n);
      inbuf_.append(buf, static_cast<size_t>(n));
      size_t start = 0;
      for (;;) {
        size_t nl = inbuf_.find('\n', start);
        if (nl == std::string::npos) break;
        HandleLine(inbuf_.substr(start, nl - start));
        start = nl + 1;
      }
      inbuf_.erase(0, start);
      // A peer that never sends a line feed must not grow us without bound.
      if (inbuf_.size() > (64u << 20)) {
        reporter_->Violation("a line longer than 64 MiB", "");
        session_.NoteClosed("");
        inbuf_.clear();
        shutdown(fd_, SHUT_RDWR);
      }
      if (readMode_ == ReadMode::kSlow) return;  // one piece per pause
      continue;
    }
    if (n == 0) {
      // Like a real agent, close our side at the collector's end-of-file:
      // the collector waits for it before it closes the connection.
      shutdown(fd_, SHUT_WR);
      MarkClosed();
      return;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) MarkClosed();
    return;
  }
}

bool Runner::Pump(Clock::time_point deadline, const std::function<bool()>& done) {
  for (;;) {
    if (done()) return true;
    PollCollector();
    bool canChange = connected() || (collector_.started() && !collector_.ended());
    Clock::time_point now = Clock::now();
    if (!canChange || now >= deadline) return done();
    int waitMs = static_cast<int>(
        std::min<long long>(50, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1));
    if (connected() && readMode_ != ReadMode::kOff) {
      pollfd p{fd_, POLLIN, 0};
      int r = poll(&p, 1, waitMs);
      if (r > 0) {
        ReadAvailable();
        PaceReading();
      }
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
  }
}

bool Runner::AwaitRegistration(double seconds) {
  if (session_.registered()) return true;
  if (fd_ < 0) return false;
  return Pump(Deadline(seconds), [this] { return session_.registered(); });
}

bool Runner::SendLine(const std::string& line, bool partial) {
  if (!connected() || sendingStopped_) return false;
  std::string data = partial ? line : line + "\n";
  size_t off = 0;
  Clock::time_point lastTaken = Clock::now();
  while (off < data.size()) {
    ssize_t n = send(fd_, data.data() + off, data.size() - off, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        // The collector is slow to read: keep reading its answers meanwhile
        // so that neither side blocks the other.
        if (readMode_ == ReadMode::kOff && SendStalled(lastTaken)) return false;
        ReadAvailable();
        PaceReading();
        pollfd p{fd_, POLLOUT, 0};
        poll(&p, 1, 50);
        continue;
      }
      MarkClosed();
      return false;
    }
    off += static_cast<size_t>(n);
    lastTaken = Clock::now();
  }
  return true;
}

void Runner::SetReading(const ScriptCommand& c) {
  const std::string& mode = c.words[0];
  readMode_ = mode == "off" ? ReadMode::kOff : mode == "slow" ? ReadMode::kSlow : ReadMode::kOn;
  slowBytes_ = static_cast<size_t>(c.count);
  slowPause_ = std::chrono::milliseconds(static_cast<long>(c.seconds * 1000 + 0.5));
  // What is already received is still handled.
  if (readMode_ != ReadMode::kOff && connected()) ReadAvailable();
}

size_t Runner::ReadSize(size_t room) const {
  return readMode_ == ReadMode::kSlow ? std::min(room, slowBytes_) : room;
}

void Runner::PaceReading() {
  if (readMode_ == ReadMode::kSlow) std::this_thread::sleep_for(slowPause_);
}

// With reading off, a collector whose answers are not read stops taking
// requests in the end; agentsim cannot wait for that for ever.
bool Runner::SendStalled(Clock::time_point lastTaken) {
  PollCollector();
  if (Clock::now() - lastTaken < std::chrono::duration<double>(opts_.timeout)) return false;
  sendingStopped_ = true;
  reporter_->Note("the collector took nothing sent for " + std::to_string(static_cast<int>(opts_.timeout)) +
                  " s while agentsim was not reading; nothing more is sent");
  return true;
}

std::string Runner::NextId() { return std::to_string(nextId_++); }

std::string Runner::SendDataRequest(const std::string& group, bool quiet) {
  std::string id = NextId();
  std::string line = DataRequestLine(id, group, std::nullopt, std::nullopt, {});
  session_.NoteDataRequest(id, group, Clock::now());
  if (!quiet) reporter_->Sent("data", id, group, line);
  SendLine(line);
  return id;
}

bool Runner::RunCommand(const ScriptCommand& c) {
  const std::string& v = c.verb;
  // With reading off, sending may have stopped for good (SendStalled).
  if (sendingStopped_ && SendsSomething(c) && c.verb != "close") return true;
  if (SendsSomething(c)) {
    if (!AwaitRegistration(-1)) {
      ExpectFailed(c.where + ": no registration from the collector, cannot " + v);
      return false;
    }
    if (!connected()) {
      ExpectFailed(c.where + ": the connection is closed, cannot " + v);
      return false;
    }
  }
  if (v == "request") {
    std::vector<std::string> groups;
    for (const std::string& g : c.words) {
      if (g == "all") {
        for (const auto& reg : session_.groups())
          if (reg.first != kEventGroup) groups.push_back(reg.first);
      } else {
        groups.push_back(g);
      }
    }
    for (const std::string& g : groups) {
      std::string id = c.id ? *c.id : NextId();
      std::string line = DataRequestLine(id, g, c.rsid, c.subnode, c.info);
      session_.NoteDataRequest(id, g, Clock::now());
      reporter_->Sent("data", id, g, line);
      if (!SendLine(line)) break;
    }
    return true;
  }
  if (v == "task") {
    std::string id = c.id ? *c.id : NextId();
    std::string line = TaskRequestLine(id, c.words[0], c.user, c.subnode, c.info);
    session_.NoteTaskRequest(id, Clock::now());
    reporter_->Sent("task", id, "", line);
    SendLine(line);
    return true;
  }
  if (v == "start" || v == "stop" || v == "shutdown" || v == "raw" || v == "raw-part") {
    std::string line;
    std::string group = c.words.empty() ? "" : c.words[0];
    if (v == "start") line = StartLine(group, c.rsid, c.subnode, c.info);
    else if (v == "stop") line = StopLine(group, c.rsid, c.shuttingDown, c.subnode, c.info);
    else if (v == "shutdown") line = ShutdownLine(c.subnode);
    else line = c.rest;
    if (v == "raw" || v == "raw-part") {
      NoteRawRequests(v == "raw" ? line + "\n" : line);
    } else {
      reporter_->Sent(v, "", group, line);
    }
    SendLine(line, v == "raw-part");
    return true;
  }
  if (v == "burst") {
    // Every line in one write, so that the collector reads them together.
    std::string text;
    for (const std::string& line : c.words) text += line + "\n";
    NoteRawRequests(text);
    SendLine(text, true);
    return true;
  }
  if (v == "close") {
    reporter_->Sent("close", "", "", "");
    if (fd_ >= 0 && !closed_) {
      closed_ = true;
      shutdown(fd_, SHUT_RDWR);
    }
    return true;
  }
  if (v == "reading") {
    SetReading(c);
    return true;
  }
  if (v == "note") {
    reporter_->Note(c.rest);
    return true;
  }
  if (v == "show") {
    std::ifstream in(c.words[0], std::ios::binary);
    bool readable = in.is_open();
    std::ostringstream content;
    if (readable) content << in.rdbuf();
    reporter_->File(c.words[0], readable, content.str());
    return true;
  }
  if (v == "registration") {
    if (!AwaitRegistration(c.seconds)) {
      ExpectFailed(c.where + ": no registration from the collector");
      return false;
    }
    return true;
  }
  if (v == "sleep") {
    Clock::time_point deadline = Deadline(c.seconds);
    Pump(deadline, [] { return false; });
    // Pump returns early once nothing can change; the script still sleeps.
    std::this_thread::sleep_until(deadline);
    return true;
  }
  if (v == "expect") {
    if (c.count < 0) {
      bool ok = Pump(Deadline(c.seconds), [this] { return session_.AwaitedCount() == 0; });
      answerMark_ = session_.answers();
      if (!ok) {
        std::string ids;
        for (const auto& id : session_.AwaitedIds()) ids += " " + id;
        ExpectFailed(c.where + ": still waiting for answers to ids" + ids);
      }
      return ok;
    }
    size_t target = answerMark_ + static_cast<size_t>(c.count);
    bool ok = Pump(Deadline(c.seconds), [this, target] { return session_.answers() >= target; });
    if (!ok) {
      ExpectFailed(c.where + ": expected " + std::to_string(c.count) + " answers, got " +
                   std::to_string(session_.answers() - answerMark_));
      answerMark_ = session_.answers();
      return false;
    }
    answerMark_ = target;
    return true;
  }
  if (v == "expect-event") {
    size_t target = eventMark_ + static_cast<size_t>(c.count);
    bool ok = Pump(Deadline(c.seconds), [this, target] { return session_.events() >= target; });
    if (!ok) {
      ExpectFailed(c.where + ": expected " + std::to_string(c.count) + " events, got " +
                   std::to_string(session_.events() - eventMark_));
      eventMark_ = session_.events();
      return false;
    }
    eventMark_ = target;
    return true;
  }
  if (v == "expect-none") {
    size_t before = session_.answers() + session_.events();
    Clock::time_point deadline = Deadline(c.seconds);
    bool spoke = Pump(deadline, [this, before] { return session_.answers() + session_.events() != before; });
    if (!spoke) std::this_thread::sleep_until(deadline);
    if (session_.answers() + session_.events() != before) {
      ExpectFailed(c.where + ": expected silence, the collector sent " +
                   std::to_string(session_.answers() + session_.events() - before) + " message(s)");
      answerMark_ = session_.answers();
      eventMark_ = session_.events();
      return false;
    }
    return true;
  }
  if (v == "expect-file") {
    const std::string& path = c.words[0];
    const std::string& text = c.words[2];
    size_t seen = 0;
    bool ok = Pump(Deadline(c.seconds), [&] {
      seen = Occurrences(path, text);
      return seen >= static_cast<size_t>(c.count);
    });
    if (!ok) {
      ExpectFailed(c.where + ": " + path + " holds \"" + text + "\" " + std::to_string(seen) + " time(s), expected " +
                   std::to_string(c.count));
      return false;
    }
    return true;
  }
  if (v == "expect-close") {
    if (!Pump(Deadline(c.seconds), [this] { return fd_ < 0 || closed_; })) {
      ExpectFailed(c.where + ": the collector did not close the connection");
      return false;
    }
    return true;
  }
  if (v == "expect-exit") {
    bool ok = collector_.started()
                  ? Pump(Deadline(c.seconds), [this] { return collector_.Poll(); })
                  : Pump(Deadline(c.seconds), [this] { return fd_ < 0 || closed_; });
    PollCollector();
    if (!ok) {
      ExpectFailed(c.where + (collector_.started() ? ": the collector did not exit"
                                                   : ": the collector did not close the connection"));
      return false;
    }
    return true;
  }
  ExpectFailed(c.where + ": unknown command " + v);
  return false;
}

// Requests hidden in raw lines are recorded like any other, so that their
// answers are matched.  The collector ends a message at ">\n"; so does this.
void Runner::NoteRawRequests(const std::string& sent) {
  const std::string kind = sent.empty() || sent.back() != '\n' ? "raw-part" : "raw";
  std::string shown = kind == "raw" ? sent.substr(0, sent.size() - 1) : sent;
  rawSent_ += sent;
  std::string id, group;
  size_t end;
  while ((end = rawSent_.find(">\n")) != std::string::npos) {
    std::string message = rawSent_.substr(0, end + 1);
    rawSent_.erase(0, end + 2);
    ScannedRequest req;
    if (!ScanRequest(message, &req)) continue;
    if (req.task) {
      session_.NoteTaskRequest(req.id, Clock::now());
    } else {
      session_.NoteDataRequest(req.id, req.group, Clock::now());
      group = req.group;
    }
    id = req.id;
  }
  reporter_->Sent(kind, id, group, shown);
}

bool Runner::RunScript() {
  for (const ScriptCommand& c : opts_.script)
    if (!RunCommand(c)) return false;
  return true;
}

void Runner::EndSession() {
  auto ended = [this] {
    if (collector_.started()) return collector_.Poll();
    return fd_ < 0 || closed_;
  };
  if (opts_.end == EndAction::kKill) {
    if (collector_.started()) collector_.Stop(0);
  } else {
    if (opts_.end == EndAction::kShutdown && connected()) {
      std::string line = ShutdownLine(std::nullopt);
      reporter_->Sent("shutdown", "", "", line);
      SendLine(line);
    } else if (opts_.end == EndAction::kClose && connected()) {
      reporter_->Sent("close", "", "", "");
      closed_ = true;
      shutdown(fd_, SHUT_RDWR);
    }
    if (!Pump(Deadline(opts_.waitExit), ended)) {
      if (collector_.started() && !collector_.ended()) {
        ExpectFailed("the collector did not exit within " + std::to_string(static_cast<int>(opts_.waitExit)) +
                     " s; stopping it");
        collector_.Stop(5);
      } else if (!collector_.started() && fd_ >= 0) {
        ExpectFailed("the collector did not close the connection");
      }
    }
  }
  // Lines the collector wrote before it went.
  if (connected()) Pump(Deadline(1), [this] { return closed_; });
  PollCollector();
}

int Runner::Run() {
  std::string error;
  if (!Listen(&error)) {
    fprintf(stderr, "agentsim: %s\n", error.c_str());
    PollCollector();
    return kExitUsage;
  }
  // A collector that ends before connecting is what a start-up failure
  // looks like; it is a failure of the session only when the script needs
  // the conversation.
  bool needsConnection = opts_.bench || opts_.soakSeconds > 0;
  for (const ScriptCommand& c : opts_.script)
    needsConnection = needsConnection || SendsSomething(c) || c.verb == "registration" || c.verb == "expect" ||
                      c.verb == "expect-event";
  bool haveConnection = AcceptCollector();
  if (!haveConnection) {
    if (needsConnection || !collector_.started() || !collector_.ended())
      ExpectFailed("the collector did not connect" +
                   std::string(collector_.ended() ? " (it exited first)" : " within the accept timeout"));
    if (collector_.started() && !collector_.ended()) collector_.Stop(5);
  } else {
    bool scriptOk = true;
    if (opts_.bench) {
      scriptOk = RunBenchmark(this, opts_, reporter_);
    } else if (opts_.soakSeconds > 0) {
      scriptOk = RunSoak(this, opts_, reporter_);
    } else {
      scriptOk = RunScript();
    }
    (void)scriptOk;
    // Without a script, still show the registration before ending.
    if (opts_.script.empty() && !opts_.bench && opts_.soakSeconds <= 0 && !AwaitRegistration(-1) && connected())
      ExpectFailed("no registration from the collector");
  }
  EndSession();
  if (collector_.started() && !collector_.ended()) collector_.Stop(5);
  PollCollector();
  std::optional<int> status = collector_.started() ? collector_.status() : std::nullopt;
  reporter_->Summary(session_, expectFailures_, status);
  if (session_.violations() > 0) return kExitViolation;
  if (expectFailures_ > 0) return kExitExpectation;
  if (opts_.expectStatus && (!status || *status != *opts_.expectStatus || collector_.killed()))
    return kExitStatusMismatch;
  return kExitOk;
}

}  // namespace agentsim
