#include "agentside/session.h"

#include <algorithm>
#include <cstdlib>

namespace agentside {

namespace {

// The value of attribute `name` of the element that starts at `start` (up
// to the end of its start tag), or nothing.
bool AttrIn(const std::string& text, size_t start, const std::string& name, std::string* value) {
  size_t end = text.find('>', start);
  if (end == std::string::npos) end = text.size();
  std::string key = " " + name + "=\"";
  size_t p = text.find(key, start);
  if (p == std::string::npos || p > end) return false;
  p += key.size();
  size_t q = text.find('"', p);
  if (q == std::string::npos) return false;
  *value = text.substr(p, q - p);
  return true;
}

// Decodes the predefined entities and numeric character references of an
// attribute value, as the collector's parser does; anything else is kept
// as written.
std::string DecodeEntities(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    size_t semi = text[i] == '&' ? text.find(';', i) : std::string::npos;
    if (semi == std::string::npos || semi - i > 12) {
      out += text[i];
      continue;
    }
    std::string ent = text.substr(i + 1, semi - i - 1);
    static const std::pair<const char*, char> kNamed[] = {
        {"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    bool done = false;
    for (const auto& n : kNamed)
      if (ent == n.first) out += n.second, done = true;
    if (!done && ent.size() > 1 && ent[0] == '#') {
      bool hex = ent[1] == 'x' || ent[1] == 'X';
      std::string digits = ent.substr(hex ? 2 : 1);
      char* end = nullptr;
      unsigned long cp = std::strtoul(digits.c_str(), &end, hex ? 16 : 10);
      if (!digits.empty() && *end == '\0' && cp > 0 && cp < 0x80) out += static_cast<char>(cp), done = true;
    }
    if (!done) {
      out += text[i];
      continue;
    }
    i = semi;
  }
  return out;
}

}  // namespace

bool ScanRequest(const std::string& message, ScannedRequest* out) {
  *out = ScannedRequest();
  size_t data = message.find("<dataRequest");
  if (data != std::string::npos) {
    if (!AttrIn(message, data, "id", &out->id)) return false;
    out->id = DecodeEntities(out->id);
    size_t ag = message.rfind("<attrGroup");
    if (ag != std::string::npos && AttrIn(message, ag, "name", &out->group)) out->group = DecodeEntities(out->group);
    return true;
  }
  size_t task = message.find("<taskRequest");
  if (task == std::string::npos || !AttrIn(message, task, "id", &out->id)) return false;
  out->id = DecodeEntities(out->id);
  out->task = true;
  return true;
}

void Session::NoteDataRequest(const std::string& id, const std::string& group, Clock::time_point sent) {
  Pending p;
  p.group = group;
  // A request sent before the registration is judged against what is known
  // when it is answered; the runner never sends before the registration.
  p.expectAnswer = IsRegistered(group) && group != kEventGroup;
  p.sent = sent;
  p.seq = seq_++;
  pending_[id].push_back(p);
}

void Session::NoteTaskRequest(const std::string& id, Clock::time_point sent) {
  Pending p;
  p.task = true;
  p.sent = sent;
  p.seq = seq_++;
  pending_[id].push_back(p);
}

Verdict Session::Receive(const std::string& line, Clock::time_point now) {
  Verdict v;
  std::string error;
  ++received_;
  if (!ReadWireMessage(line, &v.msg, &error)) {
    v.violations.push_back("malformed line: " + error);
    violationCount_ += v.violations.size();
    return v;
  }
  v.decoded = true;
  const WireMessage& msg = v.msg;
  if (msg.kind == WireMessage::kRegistration) {
    CheckRegistration(msg, &v);
  } else {
    if (!registered_) v.violations.push_back("message before the registration");
    switch (msg.kind) {
      case WireMessage::kData:
      case WireMessage::kDataError:
      case WireMessage::kTask:
        ++answers_;
        CheckAnswer(&v, now);
        break;
      case WireMessage::kEvent:
      case WireMessage::kEventError:
        ++events_;
        if (registered_ && !IsRegistered(msg.group))
          v.violations.push_back("event for group " + msg.group + ", which was not registered");
        if (msg.kind == WireMessage::kEvent && msg.rows.size() != 1)
          v.violations.push_back("event of group " + msg.group + " holds " + std::to_string(msg.rows.size()) +
                                 " rows instead of one");
        CheckRows(msg, &v);
        break;
      case WireMessage::kRegistration:
        break;
    }
  }
  violationCount_ += v.violations.size();
  return v;
}

void Session::CheckRegistration(const WireMessage& msg, Verdict* v) {
  if (registered_) {
    v->violations.push_back("second registration");
    return;
  }
  if (received_ != 1) v->violations.push_back("the registration is not the first message");
  if (msg.protocolVersion != 4)
    v->violations.push_back("registration with protocol version " + std::to_string(msg.protocolVersion) +
                            " instead of 4");
  registered_ = true;
  for (const auto& g : msg.groups) {
    if (!registeredNames_.insert(g.first).second)
      v->violations.push_back("group " + g.first + " registered twice");
    else
      groups_.push_back(g);
  }
  // Requests sent before the registration are judged now.
  for (auto& entry : pending_)
    for (Pending& p : entry.second)
      if (!p.task) p.expectAnswer = IsRegistered(p.group) && p.group != kEventGroup;
}

void Session::CheckAnswer(Verdict* v, Clock::time_point now) {
  const WireMessage& msg = v->msg;
  const bool isTask = msg.kind == WireMessage::kTask;
  const char* what = isTask ? "task response" : (msg.kind == WireMessage::kData ? "data response" : "data error");
  auto it = pending_.find(msg.id);
  if (it == pending_.end() || it->second.empty()) {
    if (answered_.count(msg.id))
      v->violations.push_back(std::string("second answer for id ") + msg.id + " (" + what + ")");
    else
      v->violations.push_back(std::string(what) + " for id " + msg.id + ", which was never requested");
    CheckRows(msg, v);
    return;
  }
  // Requests that get no answer (MV_Server, unregistered groups) are
  // released by the collector without one: an answer for their id belongs
  // to a later request that reused it.
  std::deque<Pending>& queue = it->second;
  size_t first = 0;
  while (first < queue.size() && !queue[first].task && !queue[first].expectAnswer) ++first;
  if (first == queue.size()) first = 0;  // judged below as the answer it is
  Pending p = queue[first];
  if (p.task != isTask) {
    v->violations.push_back(std::string(what) + " for id " + msg.id + ", which is a " +
                            (p.task ? "task request" : "data request"));
    CheckRows(msg, v);
    return;
  }
  queue.erase(queue.begin(), queue.begin() + static_cast<long>(first) + 1);
  if (it->second.empty()) pending_.erase(it);
  if (answered_.insert(msg.id).second && answeredMemory_ != static_cast<size_t>(-1)) {
    answeredOrder_.push_back(msg.id);
    if (answeredOrder_.size() > answeredMemory_) {
      answered_.erase(answeredOrder_.front());
      answeredOrder_.pop_front();
    }
  }
  v->matched = true;
  v->ms = std::chrono::duration<double, std::milli>(now - p.sent).count();
  if (!isTask) {
    if (msg.group != p.group)
      v->violations.push_back(std::string(what) + " for id " + msg.id + " names group " + msg.group +
                              ", the request named " + p.group);
    else if (registered_ && !IsRegistered(p.group))
      v->violations.push_back(std::string(what) + " for id " + msg.id + ": group " + p.group +
                              " was not registered, the request should have been dropped");
    else if (!p.expectAnswer)
      v->violations.push_back(std::string(what) + " for id " + msg.id + ": requests for " + p.group +
                              " get no answer");
    CheckRows(msg, v);
  }
}

void Session::CheckRows(const WireMessage& msg, Verdict* v) {
  int expected = columns_ ? columns_->Count(msg.group) : -1;
  if (expected < 0) return;
  for (size_t i = 0; i < msg.rows.size(); ++i) {
    if (static_cast<int>(msg.rows[i].size()) != expected) {
      v->violations.push_back("row " + std::to_string(i + 1) + " of " + msg.group + " has " +
                              std::to_string(msg.rows[i].size()) + " columns, the group has " +
                              std::to_string(expected));
    }
  }
}

std::vector<std::string> Session::NoteClosed(const std::string& partial) {
  std::vector<std::string> out;
  if (!partial.empty())
    out.push_back("the connection closed after " + std::to_string(partial.size()) +
                  " bytes of an unterminated line");
  violationCount_ += out.size();
  return out;
}

std::vector<std::string> Session::AwaitedIds() const {
  std::vector<std::pair<unsigned long, std::string>> all;
  for (const auto& entry : pending_)
    for (const Pending& p : entry.second)
      if (p.task || p.expectAnswer) all.emplace_back(p.seq, entry.first);
  std::sort(all.begin(), all.end());
  std::vector<std::string> ids;
  for (auto& e : all) ids.push_back(e.second);
  return ids;
}

size_t Session::AwaitedCount() const {
  size_t n = 0;
  for (const auto& entry : pending_)
    for (const Pending& p : entry.second)
      if (p.task || p.expectAnswer) ++n;
  return n;
}

bool Session::IsAwaited(const std::string& id) const {
  auto it = pending_.find(id);
  if (it == pending_.end()) return false;
  for (const Pending& p : it->second)
    if (p.task || p.expectAnswer) return true;
  return false;
}

}  // namespace agentside
