#include "tools/agentsim/soak.h"

#include <dirent.h>
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>

#include "tools/agentsim/agentside.h"
#include "tools/agentsim/runner.h"
#include "tools/agentsim/sim_handles.h"
#include "tools/agentsim/soak_model.h"

namespace agentsim {

namespace {

// The collector's value of `name`: the last --env/--env-file setting, else
// agentsim's own environment (unless --clean-env); empty when unset.
std::string CollectorEnv(const Options& opts, const std::string& name) {
  if (std::find(opts.envUnsets.begin(), opts.envUnsets.end(), name) != opts.envUnsets.end()) return "";
  for (auto it = opts.envSets.rbegin(); it != opts.envSets.rend(); ++it)
    if (it->first == name) return it->second;
  const char* v = opts.cleanEnv ? nullptr : getenv(name.c_str());
  return v ? v : "";
}

Clock::time_point After(Clock::time_point t, double seconds) {
  return t + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

std::string Elapsed(double seconds) {
  long s = static_cast<long>(seconds + 0.5);
  char buf[32];
  snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
  return buf;
}

class Soak {
 public:
  Soak(Runner* runner, const Options& opts, Reporter* reporter)
      : runner_(runner), session_(runner->session()), opts_(opts), reporter_(reporter) {}

  bool Run();

 private:
  bool Round();
  void FeedEvents();
  void KillRelay();
  void Sample(double elapsed);
  bool AwaitAnswers(const char* phase);

  Runner* runner_;
  Session& session_;
  const Options& opts_;
  Reporter* reporter_;
  pid_t pid_ = -1;
  std::vector<std::string> groups_;
  std::unique_ptr<SimHandles> handles_;
  SoakModel model_;
  std::string feed_;
  unsigned long rounds_ = 0, eventsFed_ = 0, relayKills_ = 0, modelChanges_ = 0;
  bool headerShown_ = false;
};

bool Soak::AwaitAnswers(const char* phase) {
  bool ok = runner_->Pump(After(Clock::now(), opts_.timeout), [this] { return session_.AwaitedCount() == 0; });
  if (!ok) {
    std::string ids;
    for (const auto& id : session_.AwaitedIds()) ids += " " + id;
    runner_->ExpectFailed(std::string("soak: the collector stopped answering during ") + phase +
                          "; still waiting for ids" + ids);
  }
  return ok;
}

bool Soak::Round() {
  for (const std::string& g : groups_) runner_->SendDataRequest(g, true);
  if (!AwaitAnswers("a round of requests")) return false;
  ++rounds_;
  return true;
}

// One event a line; every tenth record is sent in two writes, so the
// collector's reassembly of split records is exercised as well.
void Soak::FeedEvents() {
  if (feed_.empty()) return;
  std::ofstream out(feed_, std::ios::app | std::ios::binary);
  if (!out) return;
  ++eventsFed_;
  if (eventsFed_ % 10 == 0) {
    out << "!raw E\\x1fsrv3/acme\\x1fSoak event " << eventsFed_ << " in\n"
        << "!raw  two writes\\x1f3\\x1e\n";
  } else {
    out << "srv2/acme\t2\tSoak event " << eventsFed_ << "\n";
  }
}

void Soak::KillRelay() {
  if (pid_ <= 0) return;
  for (pid_t relay : ChildrenNamed(pid_, "qvdmvevent"))
    if (kill(relay, SIGKILL) == 0) ++relayKills_;
}

void Soak::Sample(double elapsed) {
  long rss = pid_ > 0 ? ResidentKb(pid_) : -1;
  long fds = pid_ > 0 ? OpenDescriptors(pid_) : -1;
  long threads = pid_ > 0 ? Threads(pid_) : -1;
  long held = -1;
  std::string by;
  if (handles_ && handles_->Update()) {
    held = static_cast<long>(handles_->held());
    for (const auto& e : handles_->HeldByEntryPoint())
      by += (by.empty() ? "" : ", ") + e.first + " " + std::to_string(e.second);
  }
  nlohmann::json byJson = nlohmann::json::object();
  if (handles_)
    for (const auto& e : handles_->HeldByEntryPoint()) byJson[e.first] = e.second;
  auto orNull = [](long v) { return v >= 0 ? nlohmann::json(v) : nlohmann::json(nullptr); };
  nlohmann::json figures = {{"elapsed_s", elapsed},     {"rss_kb", orNull(rss)},
                            {"fds", orNull(fds)},       {"threads", orNull(threads)},
                            {"handles", orNull(held)},  {"handles_by_entry_point", byJson},
                            {"answers", session_.answers()}, {"events", session_.events()},
                            {"events_fed", eventsFed_}, {"rounds", rounds_},
                            {"relay_kills", relayKills_}, {"model_changes", modelChanges_}};
  auto num = [](long v) { return v >= 0 ? std::to_string(v) : std::string("-"); };
  char line[256];
  std::string text;
  if (!headerShown_) {
    snprintf(line, sizeof line, "soak: %7s %9s %5s %7s %7s %9s %7s %7s %5s %7s\n", "elapsed", "rss_kB", "fds",
             "threads", "handles", "answers", "events", "rounds", "kills", "changes");
    text += line;
    headerShown_ = true;
  }
  snprintf(line, sizeof line, "soak: %7s %9s %5s %7s %7s %9zu %7zu %7lu %5lu %7lu", Elapsed(elapsed).c_str(),
           num(rss).c_str(), num(fds).c_str(), num(threads).c_str(), num(held).c_str(), session_.answers(),
           session_.events(), rounds_, relayKills_, modelChanges_);
  text += line;
  if (!by.empty()) text += "\n        handles held by entry point: " + by;
  reporter_->Soak(figures, text);
}

bool Soak::Run() {
  if (!runner_->AwaitRegistration(-1)) {
    runner_->ExpectFailed("soak: no registration from the collector");
    return false;
  }
  for (const auto& g : session_.groups())
    if (g.first != kEventGroup) groups_.push_back(g.first);
  if (groups_.empty()) {
    runner_->ExpectFailed("soak: no groups to request");
    return false;
  }
  pid_ = runner_->collector().started() ? runner_->collector().pid() : -1;
  std::string log = opts_.soakCallLog.empty() ? CollectorEnv(opts_, "VAXEL_SIM_LOG") : opts_.soakCallLog;
  if (!log.empty()) handles_ = std::make_unique<SimHandles>(log);
  feed_ = opts_.soakFeed.empty() ? CollectorEnv(opts_, "QVD_MVEVENT_FILE") : opts_.soakFeed;
  std::string error;
  if (!opts_.soakModel.empty() && !model_.Load(opts_.soakModel, &error)) {
    runner_->ExpectFailed("soak: " + error);
    return false;
  }
  reporter_->Note("soak: " + std::to_string(groups_.size()) + " tables a round for " +
                  Elapsed(opts_.soakSeconds) + ", figures every " + Elapsed(opts_.soakInterval) +
                  (feed_.empty() ? ", no relay feed" : ", events fed to " + feed_) +
                  (opts_.soakModel.empty() ? ", model unchanged" : ", model " + opts_.soakModel + " changed") +
                  (log.empty() ? ", no call log" : ", handles from " + log));
  runner_->SetQuiet(true);
  Clock::time_point start = Clock::now();
  Clock::time_point end = After(start, opts_.soakSeconds);
  Clock::time_point nextSample = After(start, opts_.soakInterval);
  Clock::time_point nextEvent = start;
  Clock::time_point nextChange = After(start, opts_.soakChange);
  Clock::time_point nextKill = After(start, opts_.soakRelayKill);
  auto seconds = [start](Clock::time_point t) { return std::chrono::duration<double>(t - start).count(); };
  Sample(0);
  bool ok = true;
  while (ok && Clock::now() < end) {
    ok = Round();
    Clock::time_point now = Clock::now();
    while (!feed_.empty() && opts_.soakEventEvery > 0 && now >= nextEvent) {
      FeedEvents();
      nextEvent = After(nextEvent, opts_.soakEventEvery);
    }
    if (!opts_.soakModel.empty() && opts_.soakChange > 0 && now >= nextChange) {
      if (!model_.Change(++modelChanges_, &error)) {
        runner_->ExpectFailed("soak: " + error);
        ok = false;
      }
      nextChange = After(now, opts_.soakChange);
    }
    if (opts_.soakRelayKill > 0 && now >= nextKill) {
      KillRelay();
      nextKill = After(now, opts_.soakRelayKill);
    }
    if (now >= nextSample) {
      Sample(seconds(now));
      while (nextSample <= now) nextSample = After(nextSample, opts_.soakInterval);
    }
    // The pause between rounds; events arrive meanwhile.
    if (ok && opts_.soakPause > 0)
      runner_->Pump(std::min(end, After(Clock::now(), opts_.soakPause)), [] { return false; });
    if (ok && !runner_->connected()) {
      runner_->ExpectFailed("soak: the connection closed after " + Elapsed(seconds(Clock::now())));
      ok = false;
    }
  }
  Sample(seconds(Clock::now()));
  runner_->SetQuiet(false);
  if (ok) reporter_->Note("soak: done, " + std::to_string(rounds_) + " rounds");
  return ok;
}

}  // namespace

long OpenDescriptors(pid_t pid) {
  DIR* d = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str());
  if (d == nullptr) return -1;
  long n = 0;
  while (dirent* e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

long Threads(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line))
    if (line.compare(0, 8, "Threads:") == 0) return std::strtol(line.c_str() + 8, nullptr, 10);
  return -1;
}

std::vector<pid_t> ChildrenNamed(pid_t pid, const std::string& name) {
  std::vector<pid_t> found;
  std::string base = "/proc/" + std::to_string(pid) + "/task";
  DIR* d = opendir(base.c_str());
  if (d == nullptr) return found;
  while (dirent* e = readdir(d)) {
    if (e->d_name[0] == '.') continue;
    std::ifstream in(base + "/" + e->d_name + "/children");
    long child;
    while (in >> child) {
      std::ifstream comm("/proc/" + std::to_string(child) + "/comm");
      std::string c;
      std::getline(comm, c);
      // A child that has ended and waits to be reaped (state Z) is not running.
      std::ifstream stat("/proc/" + std::to_string(child) + "/stat");
      std::string st;
      std::getline(stat, st);
      size_t paren = st.rfind(')');
      bool zombie = paren != std::string::npos && paren + 2 < st.size() && st[paren + 2] == 'Z';
      if (c == name && !zombie && std::find(found.begin(), found.end(), child) == found.end())
        found.push_back(static_cast<pid_t>(child));
    }
  }
  closedir(d);
  return found;
}

bool RunSoak(Runner* runner, const Options& opts, Reporter* reporter) {
  Soak soak(runner, opts, reporter);
  return soak.Run();
}

}  // namespace agentsim
