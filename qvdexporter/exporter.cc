#include "qvdexporter/exporter.h"

#include <chrono>
#include <ctime>

#include "agentside/columns.h"
#include "qvdexporter/log.h"
#include "qvdexporter/status_file.h"

namespace qvdexporter {

namespace {

prometheus::MetricFamily Family(const std::string& name, const std::string& help, prometheus::MetricType type) {
  prometheus::MetricFamily f;
  f.name = name;
  f.help = help;
  f.type = type;
  return f;
}

void AddSample(prometheus::MetricFamily* f, double value, const std::string& label = "",
               const std::string& labelValue = "") {
  prometheus::ClientMetric m;
  if (!label.empty()) m.label.push_back({label, labelValue});
  if (f->type == prometheus::MetricType::Counter) m.counter.value = value;
  else m.gauge.value = value;
  f->metric.push_back(std::move(m));
}

prometheus::MetricFamily ByLabel(const std::string& name, const std::string& help, prometheus::MetricType type,
                                 const std::string& label, const std::map<std::string, double>& values) {
  prometheus::MetricFamily f = Family(name, help, type);
  for (const auto& [key, value] : values) AddSample(&f, value, label, key);
  return f;
}

// Logs the first few occurrences of a recurring problem, then every
// thousandth, so that a collector that keeps failing cannot flood the log.
bool Worth(uint64_t count) { return count <= 10 || count % 1000 == 0; }

}  // namespace

bool ParseEventTime(const std::string& text, double* seconds) {
  if (text.size() != 16) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  auto field = [&text](size_t at, size_t len) { return std::stoi(text.substr(at, len)); };
  tm t{};
  t.tm_year = field(0, 3);
  t.tm_mon = field(3, 2) - 1;
  t.tm_mday = field(5, 2);
  t.tm_hour = field(7, 2);
  t.tm_min = field(9, 2);
  t.tm_sec = field(11, 2);
  t.tm_isdst = -1;
  if (t.tm_mon < 0 || t.tm_mon > 11 || t.tm_mday < 1 || t.tm_mday > 31 || t.tm_hour > 23 || t.tm_min > 59 ||
      t.tm_sec > 60)
    return false;
  time_t when = mktime(&t);
  if (when == static_cast<time_t>(-1)) return false;
  *seconds = static_cast<double>(when);
  return true;
}

Exporter::Exporter(const Mapping* mapping, ExporterOptions options)
    : mapping_(mapping), options_(std::move(options)), store_(mapping, options_.numbers) {}

void Exporter::SetLink(CollectorLink* link) {
  std::lock_guard<std::mutex> lock(mu_);
  link_ = link;
}

bool Exporter::up() const {
  std::lock_guard<std::mutex> lock(mu_);
  return up_;
}

void Exporter::Refresh() const {
  std::unique_lock<std::mutex> lock(mu_);
  if (!registered_ || link_ == nullptr) return;
  double now = Now();
  if (!roundInFlight_ && lastRoundAt_ >= 0 && now - lastRoundAt_ < options_.maxAge) return;
  if (!roundInFlight_) {
    roundInFlight_ = true;
    lastRoundAt_ = now;
    link_->RequestRound();
  }
  uint64_t before = roundsDone_;
  cv_.wait_for(lock, std::chrono::duration<double>(options_.scrapeWait),
               [this, before] { return roundsDone_ != before || !registered_; });
}

std::vector<prometheus::MetricFamily> Exporter::Collect() const {
  double start = Now();
  Refresh();
  std::vector<prometheus::MetricFamily> out;
  {
    std::lock_guard<std::mutex> lock(mu_);
    store_.Collect(&out);
  }
  CollectStatusFile(options_.statusFile, &out);
  CollectHealth(Now() - start, &out);
  return out;
}

void Exporter::CollectHealth(double scrapeSeconds, std::vector<prometheus::MetricFamily>* out) const {
  using prometheus::MetricType;
  std::lock_guard<std::mutex> lock(mu_);
  prometheus::MetricFamily up = Family("velora_up", "1 when the collector is connected and answered its last round.",
                                       MetricType::Gauge);
  AddSample(&up, up_ ? 1 : 0);
  out->push_back(up);
  if (!events_.empty())
    out->push_back(ByLabel("velora_addin_events_total", "Events of the Mirvane add-in received, by priority.",
                           MetricType::Counter, "priority", events_));
  if (lastEventAt_ >= 0) {
    prometheus::MetricFamily last = Family("velora_addin_last_event_timestamp_seconds",
                                           "When the last event of the Mirvane add-in was received.", MetricType::Gauge);
    AddSample(&last, lastEventAt_);
    out->push_back(last);
  }
  if (!eventErrors_.empty())
    out->push_back(ByLabel("velora_addin_event_errors_total",
                           "Errors the collector reported for the add-in's event channel, by result code.",
                           MetricType::Counter, "rc", eventErrors_));
  prometheus::MetricFamily restarts = Family(
      "qvdexporter_collector_restarts_total", "Times the collector was started again after it ended.",
      MetricType::Counter);
  AddSample(&restarts, starts_ > 0 ? static_cast<double>(starts_ - 1) : 0);
  out->push_back(restarts);
  prometheus::MetricFamily rounds =
      Family("qvdexporter_collector_rounds_total",
             "Rounds of requests sent to the collector (one request for every table per round).", MetricType::Counter);
  AddSample(&rounds, static_cast<double>(roundsDone_));
  out->push_back(rounds);
  if (!answerErrors_.empty())
    out->push_back(ByLabel("qvdexporter_collector_answer_errors_total",
                           "Requests for a table that the collector answered with an error or not within the "
                           "round's time.",
                           MetricType::Counter, "table", answerErrors_));
  prometheus::MetricFamily violations =
      Family("qvdexporter_protocol_violations_total",
             "Lines from the collector that broke the agent link's protocol (not used).", MetricType::Counter);
  AddSample(&violations, static_cast<double>(violations_));
  out->push_back(violations);
  prometheus::MetricFamily duration = Family(
      "qvdexporter_scrape_duration_seconds",
      "Time this scrape took to collect, including the wait for the collector's answers.", MetricType::Gauge);
  AddSample(&duration, scrapeSeconds);
  out->push_back(duration);
}

bool Exporter::WaitFirstRound(double seconds) {
  std::unique_lock<std::mutex> lock(mu_);
  cv_.wait_for(lock, std::chrono::duration<double>(seconds), [this] { return roundsDone_ > 0 || down_; });
  return roundsDone_ > 0 && up_;
}

void Exporter::CollectorStarted(pid_t pid) {
  std::lock_guard<std::mutex> lock(mu_);
  ++starts_;
  Log(Level::kInfo, "collector started (pid " + std::to_string(pid) + ")");
}

void Exporter::Registered(const std::vector<std::string>& tables) {
  std::lock_guard<std::mutex> lock(mu_);
  registered_ = true;
  // The link asks for every table right after the registration.
  roundInFlight_ = true;
  lastRoundAt_ = Now();
  for (const std::string& t : tables)
    if (t != agentside::kEventGroup) answerErrors_.emplace(t, 0);
  Log(Level::kInfo, "collector registered " + std::to_string(tables.size()) + " tables");
}

void Exporter::TableAnswer(const std::string& table, const std::vector<std::vector<std::string>>& rows) {
  std::lock_guard<std::mutex> lock(mu_);
  store_.Answer(table, rows, Now());
}

void Exporter::TableError(const std::string& table, long rc, bool timedOut) {
  std::lock_guard<std::mutex> lock(mu_);
  answerErrors_[table] += 1;
  if (Worth(++errorsLogged_[table]))
    Log(Level::kWarn, timedOut ? "no answer for table " + table + " within the round's time"
                               : "the collector answered table " + table + " with error " + std::to_string(rc));
}

void Exporter::Event(const std::vector<std::string>& row) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string priority = row.size() > 2 ? CleanLabelValue(row[2], 64) : "";
  if (priority.empty()) priority = "unknown";
  if (!events_.count(priority) && events_.size() >= kMaxPriorities) priority = "other";
  events_[priority] += 1;
  double when;
  if (row.size() < 2 || !ParseEventTime(row[1], &when))
    when = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  lastEventAt_ = when;
}

void Exporter::EventError(long rc) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string key = std::to_string(rc);
  if (!eventErrors_.count(key) && eventErrors_.size() >= kMaxPriorities) key = "other";
  eventErrors_[key] += 1;
  Log(Level::kWarn, "the collector reported error " + std::to_string(rc) + " for the add-in's events");
}

void Exporter::Violation(const std::string& message) {
  std::lock_guard<std::mutex> lock(mu_);
  if (Worth(++violations_)) Log(Level::kWarn, "protocol violation by the collector: " + message);
}

void Exporter::RoundDone(int answered, int asked) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    ++roundsDone_;
    roundInFlight_ = false;
    bool wasUp = up_;
    up_ = registered_ && (answered > 0 || asked == 0);
    if (wasUp && !up_) Log(Level::kWarn, "the collector answered none of " + std::to_string(asked) + " requests");
  }
  cv_.notify_all();
}

void Exporter::CollectorDown(const std::string& why) {
  {
    std::lock_guard<std::mutex> lock(mu_);
    registered_ = false;
    up_ = false;
    down_ = true;
    roundInFlight_ = false;
    store_.DropCurrent();
    Log(Level::kWarn, why);
  }
  cv_.notify_all();
}

void Exporter::Pausing(double seconds) {
  char buf[64];
  snprintf(buf, sizeof buf, "starting the collector again in %g s", seconds);
  Log(Level::kInfo, buf);
}

}  // namespace qvdexporter
