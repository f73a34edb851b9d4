#include "tools/agentsim/bench.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

#include "tools/agentsim/bench_model.h"
#include "tools/agentsim/runner.h"

namespace agentsim {

namespace {

bool WriteAll(int fd, const char* data, size_t len) {
  while (len > 0) {
    ssize_t n = send(fd, data, len, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadAll(int fd, char* data, size_t len) {
  while (len > 0) {
    ssize_t n = recv(fd, data, len, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

void NoDelay(int fd) {
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

nlohmann::json Figures(std::vector<double>* measured, std::vector<double>* floor, size_t requestBytes,
                       size_t answerBytes) {
  return {{"count", measured->size()},
          {"p50_us", Percentile(measured, 0.50)},
          {"p99_us", Percentile(measured, 0.99)},
          {"floor_p50_us", Percentile(floor, 0.50)},
          {"floor_p99_us", Percentile(floor, 0.99)},
          {"request_bytes", requestBytes},
          {"answer_bytes", answerBytes}};
}

std::string FiguresText(const char* label, const nlohmann::json& f) {
  char buf[512];
  snprintf(buf, sizeof buf,
           "  %-16s p50 %10.1f us   p99 %10.1f us   (request %zu B, answer %zu B)\n"
           "  %-16s p50 %10.1f us   p99 %10.1f us\n",
           label, f["p50_us"].get<double>(), f["p99_us"].get<double>(), f["request_bytes"].get<size_t>(),
           f["answer_bytes"].get<size_t>(), "loopback floor", f["floor_p50_us"].get<double>(),
           f["floor_p99_us"].get<double>());
  return buf;
}

size_t Sum(const std::vector<size_t>& v) {
  size_t total = 0;
  for (size_t n : v) total += n;
  return total;
}

nlohmann::json KbOrNull(long kb) { return kb >= 0 ? nlohmann::json(kb) : nlohmann::json(nullptr); }

std::string MemoryText(long start, long warm, const std::vector<long>& during, long end) {
  if (start < 0) return "collector resident memory: unknown (collector not started by agentsim)";
  std::string text = "collector resident memory: " + std::to_string(start) + " kB at the start, " +
                     std::to_string(warm) + " kB after the warm-up\n  during the one-after-another requests:";
  for (long kb : during) text += " " + std::to_string(kb);
  text += " kB\n  at the end " + std::to_string(end) + " kB (" + (end >= warm ? "+" : "") +
          std::to_string(end - warm) + " kB since the warm-up)";
  return text;
}

// Counts the collector's availability checks by the replacements of its
// status file (each check writes a new file and renames it into place).
class CheckCounter {
 public:
  explicit CheckCounter(const Options& opts) {
    std::string home = CollectorEnv(opts, "HALCYONHOME"), arch = CollectorEnv(opts, "QVD_BINARCH"),
                instance = CollectorEnv(opts, "QVD_INSTANCE_NAME");
    if (!home.empty() && !arch.empty() && !instance.empty())
      path_ = home + "/" + arch + "/vd/bin/qvd_" + instance + "_status.out";
    last_ = Stamp();
  }
  // Looks at the file again; counts a change.
  void Poll() {
    std::string now = Stamp();
    if (now != last_) ++count_;
    last_ = now;
  }
  long count() const { return path_.empty() ? -1 : count_; }

 private:
  std::string Stamp() const {
    struct stat st;
    if (path_.empty() || stat(path_.c_str(), &st) != 0) return "";
    return std::to_string(st.st_ino) + ":" + std::to_string(st.st_mtim.tv_sec) + "." +
           std::to_string(st.st_mtim.tv_nsec);
  }
  std::string path_;
  std::string last_;
  long count_ = 0;
};

// Sends `count` requests for the event group, which the collector releases
// without an answer, in chunks; after each chunk one answered request for
// `marker` is awaited, so that the collector has taken the whole chunk
// before its memory is read.  The requests carry ids of their own ("u1",
// "u2", ...) and are not recorded as awaited.  Fills the readings (ten
// during the run) and returns false when the collector stops answering.
bool UnansweredRequests(Runner* runner, long count, const std::string& marker, double timeout, pid_t pid,
                        nlohmann::json* figures, std::string* text) {
  auto rss = [pid] { return pid > 0 ? ResidentKb(pid) : -1L; };
  const long kChunk = 1000;
  long sampleEvery = std::max(1L, count / 10);
  long start = rss();
  std::vector<long> during;
  long nextSample = sampleEvery;
  auto t0 = Clock::now();
  for (long sent = 0; sent < count;) {
    for (long chunkEnd = std::min(count, sent + kChunk); sent < chunkEnd; ++sent) {
      std::string id = "u" + std::to_string(sent + 1);
      if (!runner->SendLine(DataRequestLine(id, kEventGroup, std::nullopt, std::nullopt, {}))) return false;
    }
    runner->SendDataRequest(marker, true);
    bool ok = runner->Pump(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(timeout)),
                           [&] { return runner->session().AwaitedCount() == 0; });
    if (!ok) return false;
    if (sent >= nextSample) {
      during.push_back(rss());
      nextSample += sampleEvery;
    }
  }
  double seconds = std::chrono::duration<double>(Clock::now() - t0).count();
  long end = rss();
  nlohmann::json readings = nlohmann::json::array();
  for (long kb : during) readings.push_back(kb);
  *figures = {{"count", count},
              {"seconds", seconds},
              {"rss_kb_start", KbOrNull(start)},
              {"rss_kb_during", readings},
              {"rss_kb_end", KbOrNull(end)}};
  char took[32];
  snprintf(took, sizeof took, "%.1f", seconds);
  *text = "benchmark: " + std::to_string(count) + " requests for " + kEventGroup + " (released without an answer) in " +
          took + " s\n";
  if (start < 0) return *text += "  collector resident memory: unknown (collector not started by agentsim)", true;
  *text += "  collector resident memory: " + std::to_string(start) + " kB before,";
  for (long kb : during) *text += " " + std::to_string(kb);
  *text += " kB during, " + std::to_string(end) + " kB after (" + (end >= start ? "+" : "") +
           std::to_string(end - start) + " kB)";
  return true;
}

const char kReplicationGroup[] = "Velora_Replication";

// Time each thread of a process spent on a processor and runnable but
// waiting for one, in nanoseconds, by thread id (/proc/PID/task/TID/
// schedstat); empty when unknown.
std::map<long, std::pair<double, double>> ThreadTimes(pid_t pid) {
  std::map<long, std::pair<double, double>> times;
  std::string dir = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return times;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    double run = 0, wait = 0;
    FILE* f = fopen((dir + "/" + e->d_name + "/schedstat").c_str(), "r");
    if (f == nullptr) continue;
    if (fscanf(f, "%lf %lf", &run, &wait) == 2) times[atol(e->d_name)] = {run, wait};
    fclose(f);
  }
  closedir(d);
  return times;
}

// The change of ThreadTimes between two readings, in milliseconds, as JSON
// (an array of {"tid","run_ms","wait_ms"}, the main thread "main") and as
// text; threads that started between the readings count from zero.
void ThreadTimesDelta(pid_t pid, const std::map<long, std::pair<double, double>>& before,
                      const std::map<long, std::pair<double, double>>& after, nlohmann::json* figures,
                      std::string* text) {
  *figures = nlohmann::json::array();
  char buf[96];
  for (const auto& [tid, t] : after) {
    auto b = before.find(tid);
    double run = (t.first - (b == before.end() ? 0 : b->second.first)) / 1e6;
    double wait = (t.second - (b == before.end() ? 0 : b->second.second)) / 1e6;
    std::string name = tid == pid ? "main" : std::to_string(tid);
    figures->push_back({{"tid", name}, {"run_ms", run}, {"wait_ms", wait}});
    snprintf(buf, sizeof buf, " %s %.0f/%.0f", name.c_str(), run, wait);
    *text += buf;
  }
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five, fifteen;
  in >> one >> five >> fifteen;
  return one.empty() ? "unknown" : one + " " + five + " " + fifteen;
}

// Keeps one Velora_Replication request outstanding beside the measured
// requests (a new one is sent once the last is answered) and notes the time
// of each answer, from its request to the first Tend() that finds it
// answered.  The first request is the one whose answer is built over the
// whole log (the warm-up leaves the table out).
class ReplicationStream {
 public:
  ReplicationStream(Runner* runner, bool on) : runner_(runner), on_(on) {}

  // Notes an answered request; sends the next one unless stopped.
  void Tend() {
    if (!on_) return;
    if (!id_.empty() && !runner_->session().IsAwaited(id_)) {
      Clock::time_point now = Clock::now();
      ms_.push_back(std::chrono::duration<double, std::milli>(now - sent_).count());
      if (ms_.size() == 1) firstEnd_ = now;
      id_.clear();
    }
    if (id_.empty() && !stopped_) {
      sent_ = Clock::now();
      if (ms_.empty()) firstStart_ = sent_;
      id_ = runner_->SendDataRequest(kReplicationGroup, true);
    }
  }
  // Sends no more and waits (at most `timeout` seconds) for the outstanding
  // answer.  False when it did not come.
  bool Finish(double timeout) {
    stopped_ = true;
    if (!on_ || id_.empty()) return true;
    bool ok = runner_->Pump(Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                               std::chrono::duration<double>(timeout)),
                            [&] { return !runner_->session().IsAwaited(id_); });
    if (ok) Tend();
    return ok;
  }
  bool on() const { return on_; }
  // True when `t` falls within the first answer's time (Finish() done).
  bool DuringFirst(Clock::time_point t) const { return !ms_.empty() && t >= firstStart_ && t <= firstEnd_; }
  // The answers' times in milliseconds, in the order answered.
  const std::vector<double>& ms() const { return ms_; }

 private:
  Runner* runner_;
  bool on_;
  bool stopped_ = false;
  std::string id_;
  Clock::time_point sent_;
  Clock::time_point firstStart_, firstEnd_;
  std::vector<double> ms_;
};

std::string ReplicationText(long documents, std::vector<double> ms) {
  char buf[160];
  std::vector<double> sorted = ms;
  double p50 = Percentile(&sorted, 0.50);  // sorts
  snprintf(buf, sizeof buf, "%zu answered, p50 %.1f ms, max %.1f ms", ms.size(), p50,
           sorted.empty() ? 0.0 : sorted.back());
  std::string text = "replication log of " + std::to_string(documents) +
                     " documents: Velora_Replication requests one at a time beside the measured ones: " + buf +
                     "\n  each (ms):";
  for (size_t i = 0; i < ms.size() && i < 50; ++i) {
    snprintf(buf, sizeof buf, " %.1f", ms[i]);
    text += buf;
  }
  if (ms.size() > 50) text += " ...";
  return text + "\n";
}

}  // namespace

double Percentile(std::vector<double>* samples, double q) {
  if (samples->empty()) return 0;
  std::sort(samples->begin(), samples->end());
  size_t rank = static_cast<size_t>(std::ceil(q * static_cast<double>(samples->size())));
  if (rank > 0) --rank;
  return (*samples)[std::min(rank, samples->size() - 1)];
}

bool LoopbackExchanges(const std::vector<ExchangeShape>& shapes, long iterations,
                       std::vector<double>* samplesUs, std::string* error) {
  if (shapes.empty()) {
    *error = "loopback: no exchanges to replay";
    return false;
  }
  Fd listener;
  listener.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t len = sizeof addr;
  if (listener.fd < 0 || bind(listener.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
      listen(listener.fd, 1) != 0 || getsockname(listener.fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    *error = std::string("loopback listener: ") + strerror(errno);
    return false;
  }
  Fd client;
  client.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (client.fd < 0 || connect(client.fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    *error = std::string("loopback connect: ") + strerror(errno);
    return false;
  }
  Fd server;
  server.fd = accept4(listener.fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (server.fd < 0) {
    *error = std::string("loopback accept: ") + strerror(errno);
    return false;
  }
  NoDelay(client.fd);
  NoDelay(server.fd);
  size_t largest = 1;
  for (const ExchangeShape& s : shapes) largest = std::max({largest, Sum(s.requestBytes), Sum(s.answerBytes)});
  bool serverOk = true;
  std::thread echo([&] {
    std::string in(largest, '\0');
    std::string out(largest, 'a');
    for (long i = 0; i < iterations; ++i) {
      const ExchangeShape& s = shapes[static_cast<size_t>(i) % shapes.size()];
      if (!ReadAll(server.fd, &in[0], Sum(s.requestBytes))) return void(serverOk = false);
      for (size_t n : s.answerBytes)
        if (!WriteAll(server.fd, out.data(), n)) return void(serverOk = false);
    }
  });
  std::string req(largest, 'r');
  std::string ans(largest, '\0');
  bool ok = true;
  for (long i = 0; i < iterations && ok; ++i) {
    const ExchangeShape& s = shapes[static_cast<size_t>(i) % shapes.size()];
    auto t0 = Clock::now();
    for (size_t n : s.requestBytes) ok = ok && WriteAll(client.fd, req.data(), n);
    ok = ok && ReadAll(client.fd, &ans[0], Sum(s.answerBytes));
    samplesUs->push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
  }
  if (!ok) shutdown(server.fd, SHUT_RDWR);  // unblocks the echo thread
  echo.join();
  if (!ok || !serverOk) {
    *error = "loopback exchange broke off";
    return false;
  }
  return true;
}

bool RunBenchmark(Runner* runner, const Options& opts, Reporter* reporter) {
  Session& session = runner->session();
  if (!runner->AwaitRegistration(-1)) {
    runner->ExpectFailed("benchmark: no registration from the collector");
    return false;
  }
  if (opts.benchReplicationLog > 0 && !session.IsRegistered(kReplicationGroup)) {
    runner->ExpectFailed(std::string("benchmark: the collector did not register ") + kReplicationGroup);
    return false;
  }
  // With a replication log, Velora_Replication requests run beside the
  // measured requests and are timed on their own.
  ReplicationStream replication(runner, opts.benchReplicationLog > 0);
  std::vector<std::string> sequentialGroups;
  for (const auto& g : opts.benchGroups)
    if (!replication.on() || g != kReplicationGroup) sequentialGroups.push_back(g);
  std::vector<std::string> warmGroups, burstGroups;  // the same unless replication runs beside
  for (const auto& g : session.groups()) {
    if (g.first == kEventGroup) continue;
    if (replication.on() && g.first == kReplicationGroup) continue;
    warmGroups.push_back(g.first);
    burstGroups.push_back(g.first);
    if (opts.benchGroups.empty() && ColumnCatalogue::IsSnapshotGroup(g.first)) sequentialGroups.push_back(g.first);
  }
  if (sequentialGroups.empty() || burstGroups.empty()) {
    runner->ExpectFailed("benchmark: no groups to request");
    return false;
  }
  pid_t pid = runner->collector().started() ? runner->collector().pid() : -1;
  auto rss = [pid] { return pid > 0 ? ResidentKb(pid) : -1L; };
  long rssStart = rss();
  runner->SetQuiet(true);
  auto deadline = [&] {
    return Clock::now() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(opts.timeout));
  };
  auto awaitAll = [&](const char* phase) {
    bool ok = runner->Pump(deadline(), [&] { return session.AwaitedCount() == 0; });
    if (!ok) runner->ExpectFailed(std::string("benchmark: the collector stopped answering during ") + phase);
    return ok;
  };
  // Waits for the answers to `ids` only (a replication request may be
  // outstanding beside them), then tends the replication stream.
  auto awaitIds = [&](const char* phase, const std::vector<std::string>& ids) {
    bool ok = runner->Pump(deadline(), [&] {
      for (const auto& id : ids)
        if (session.IsAwaited(id)) return false;
      return true;
    });
    if (!ok) runner->ExpectFailed(std::string("benchmark: the collector stopped answering during ") + phase);
    replication.Tend();
    return ok;
  };
  auto fail = [&] {
    runner->RecordAnswerSizes(nullptr);
    runner->SetQuiet(false);
    return false;
  };
  // Warm-up: the first request of each group takes the statistics snapshot
  // and builds the rows; the measured requests are answered from the cache.
  // A burst follows so that whatever a burst allocates once is in place
  // before the memory is read.
  for (const auto& g : warmGroups) runner->SendDataRequest(g, true);
  if (!awaitAll("the warm-up")) return fail();
  for (const auto& g : warmGroups) runner->SendDataRequest(g, true);
  if (!awaitAll("the warm-up")) return fail();
  long rssWarm = rss();
  std::vector<long> rssDuring;
  CheckCounter checks(opts);

  std::vector<double> sequential;
  std::vector<Clock::time_point> sequentialSent, burstSent;
  std::vector<size_t> answerSizes;
  std::string loadBefore = LoadAverage();
  auto collectorBefore = pid > 0 ? ThreadTimes(pid) : std::map<long, std::pair<double, double>>();
  auto ownBefore = ThreadTimes(getpid());
  runner->RecordAnswerSizes(&answerSizes, replication.on() ? kReplicationGroup : "");
  replication.Tend();
  size_t requestBytes = 0, answerBytes = 0;
  long sampleEvery = std::max(1L, opts.benchRequests / 10);
  for (long i = 0; i < opts.benchRequests; ++i) {
    const std::string& group = sequentialGroups[static_cast<size_t>(i) % sequentialGroups.size()];
    answerSizes.clear();
    auto t0 = Clock::now();
    std::string id = runner->SendDataRequest(group, true);
    if (!awaitIds("the one-after-another requests", {id})) return fail();
    sequentialSent.push_back(t0);
    sequential.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    checks.Poll();
    requestBytes += DataRequestLine(id, group, std::nullopt, std::nullopt, {}).size() + 1;
    answerBytes += Sum(answerSizes);
    if ((i + 1) % sampleEvery == 0 && pid > 0) rssDuring.push_back(rss());
  }
  size_t seqReq = requestBytes / sequential.size(), seqAns = answerBytes / sequential.size();

  // Each burst's messages, kept so that the floor replays the same traffic.
  std::vector<ExchangeShape> burstShapes;
  std::vector<double> bursts;
  requestBytes = answerBytes = 0;
  for (long b = 0; b < opts.benchBursts; ++b) {
    ExchangeShape shape;
    answerSizes.clear();
    auto t0 = Clock::now();
    std::vector<std::string> ids;
    for (const auto& g : burstGroups) {
      ids.push_back(runner->SendDataRequest(g, true));
      shape.requestBytes.push_back(DataRequestLine(ids.back(), g, std::nullopt, std::nullopt, {}).size() + 1);
    }
    if (!awaitIds("the bursts", ids)) return fail();
    burstSent.push_back(t0);
    bursts.push_back(std::chrono::duration<double, std::micro>(Clock::now() - t0).count());
    checks.Poll();
    shape.answerBytes = answerSizes;
    requestBytes += Sum(shape.requestBytes);
    answerBytes += Sum(shape.answerBytes);
    burstShapes.push_back(std::move(shape));
  }
  runner->RecordAnswerSizes(nullptr);
  auto collectorAfter = pid > 0 ? ThreadTimes(pid) : std::map<long, std::pair<double, double>>();
  auto ownAfter = ThreadTimes(getpid());
  std::string loadAfter = LoadAverage();
  if (!replication.Finish(opts.timeout)) {
    runner->ExpectFailed("benchmark: no answer to the last Velora_Replication request");
    return fail();
  }
  size_t burstReq = requestBytes / bursts.size(), burstAns = answerBytes / bursts.size();
  long rssEnd = rss();

  nlohmann::json unansweredFigures;
  std::string unansweredText;
  if (opts.benchUnanswered > 0 &&
      !UnansweredRequests(runner, opts.benchUnanswered, sequentialGroups.front(), opts.timeout, pid,
                          &unansweredFigures, &unansweredText)) {
    runner->ExpectFailed("benchmark: the collector stopped answering during the unanswered requests");
    return fail();
  }
  runner->SetQuiet(false);

  std::vector<double> seqFloor, burstFloor;
  std::string error;
  std::vector<ExchangeShape> seqShape = {{{std::max<size_t>(seqReq, 1)}, {std::max<size_t>(seqAns, 1)}}};
  if (!LoopbackExchanges(seqShape, static_cast<long>(sequential.size()), &seqFloor, &error) ||
      !LoopbackExchanges(burstShapes, static_cast<long>(bursts.size()), &burstFloor, &error)) {
    runner->ExpectFailed("benchmark: " + error);
    return false;
  }
  const std::vector<double> sequentialTimes = sequential, burstTimes = bursts;  // in sending order
  nlohmann::json during = nlohmann::json::array();
  for (long kb : rssDuring) during.push_back(kb);
  nlohmann::json figures = {
      {"sequential", Figures(&sequential, &seqFloor, seqReq, seqAns)},
      {"burst", Figures(&bursts, &burstFloor, burstReq, burstAns)},
      {"groups_sequential", sequentialGroups.size()},
      {"groups_burst", burstGroups.size()},
      {"rss_kb_before", KbOrNull(rssStart)},
      {"rss_kb_warm", KbOrNull(rssWarm)},
      {"rss_kb_during", during},
      {"rss_kb_after", KbOrNull(rssEnd)}};
  nlohmann::json slow = nlohmann::json::array();
  std::string slowText;
  for (const auto& [name, ms] : opts.benchSlowMembers) {
    slow.push_back({{"name", name}, {"delay_ms", ms}});
    slowText += (slowText.empty() ? "" : ", ") + name + " (" + std::to_string(ms) + " ms)";
  }
  figures["slow_members"] = slow;
  figures["availability_checks"] = checks.count() >= 0 ? nlohmann::json(checks.count()) : nlohmann::json(nullptr);
  std::string checkText =
      "availability checks completed during the measured requests: " +
      (checks.count() >= 0 ? std::to_string(checks.count()) : std::string("unknown (no status file name)")) + "\n";
  if (!slowText.empty()) checkText = "slow cluster members: " + slowText + "\n" + checkText;
  // Where the time went: a thread that waited long for a processor lost
  // its time to other work on the machine, not to the collector.
  nlohmann::json collectorThreads, ownThreads;
  std::string threadText = "threads during the measured requests (ms on a processor/ms waiting for one):\n  collector";
  if (pid > 0) ThreadTimesDelta(pid, collectorBefore, collectorAfter, &collectorThreads, &threadText);
  threadText += "\n  agentsim";
  ThreadTimesDelta(getpid(), ownBefore, ownAfter, &ownThreads, &threadText);
  threadText += "\n  load average before " + loadBefore + ", after " + loadAfter + "\n";
  figures["threads"] = {{"collector", collectorThreads}, {"agentsim", ownThreads}};
  figures["load_average"] = {{"before", loadBefore}, {"after", loadAfter}};
  checkText += threadText;
  if (opts.benchUnanswered > 0) figures["unanswered"] = unansweredFigures;
  if (replication.on()) {
    std::vector<double> sorted = replication.ms();
    double p50 = Percentile(&sorted, 0.50);  // sorts
    figures["replication"] = {{"log_documents", opts.benchReplicationLog},
                              {"count", sorted.size()},
                              {"ms", replication.ms()},
                              {"p50_ms", p50},
                              {"max_ms", sorted.empty() ? 0.0 : sorted.back()}};
    checkText += ReplicationText(opts.benchReplicationLog, replication.ms());
    // The measured requests sent while the first answer was being built.
    auto whileBuilt = [&](const std::vector<double>& samples, const std::vector<Clock::time_point>& sent) {
      std::vector<double> picked;
      for (size_t i = 0; i < samples.size(); ++i)
        if (replication.DuringFirst(sent[i])) picked.push_back(samples[i]);
      nlohmann::json f = {{"count", picked.size()}};
      f["p50_us"] = Percentile(&picked, 0.50);
      f["p99_us"] = Percentile(&picked, 0.99);
      return f;
    };
    nlohmann::json& r = figures["replication"];
    r["sequential_during_first"] = whileBuilt(sequentialTimes, sequentialSent);
    r["burst_during_first"] = whileBuilt(burstTimes, burstSent);
    char buf[256];
    snprintf(buf, sizeof buf,
             "  while the first answer was built: %zu one-after-another requests (p50 %.1f us, p99 %.1f us), "
             "%zu bursts (p50 %.1f us, p99 %.1f us)\n",
             r["sequential_during_first"]["count"].get<size_t>(), r["sequential_during_first"]["p50_us"].get<double>(),
             r["sequential_during_first"]["p99_us"].get<double>(), r["burst_during_first"]["count"].get<size_t>(),
             r["burst_during_first"]["p50_us"].get<double>(), r["burst_during_first"]["p99_us"].get<double>());
    checkText += buf;
  }
  std::string text = checkText + "benchmark: " + std::to_string(sequential.size()) + " requests one after another over " +
                     std::to_string(sequentialGroups.size()) + " cached groups\n" +
                     FiguresText("round trip", figures["sequential"]) + "benchmark: " +
                     std::to_string(bursts.size()) + " bursts of " + std::to_string(burstGroups.size()) +
                     " requests (every registered group)\n" + FiguresText("burst complete", figures["burst"]) +
                     MemoryText(rssStart, rssWarm, rssDuring, rssEnd) +
                     (unansweredText.empty() ? "" : "\n" + unansweredText);
  reporter->Bench(figures, text);
  return true;
}

}  // namespace agentsim
