// Trace facility: level configuration, line formatting and output.
#include "framework/trace.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct UnitSetting {
  std::string name;
  unsigned level;
};

// The parsed configuration; guarded by g_config_mu.
struct Config {
  unsigned default_level = TRACE_ERROR;
  std::vector<UnitSetting> units;
  std::string source;                // where the setting came from, for reports
  std::vector<std::string> unknown;  // the words of the setting that were ignored
};

std::mutex g_config_mu;
Config g_config;
std::atomic<unsigned> g_counter{0};       // 0: not yet loaded
std::atomic<int> g_reload_requested{0};   // set by SIGHUP

std::mutex g_out_mu;
int g_out_fd = -1;         // guarded by g_out_mu; -1: not opened yet
bool g_out_owned = false;  // guarded by g_out_mu; g_out_fd is our own file
std::string g_out_problem;  // guarded by g_out_mu; why QVD_TRACE_FILE could not be opened

std::atomic<void (*)()> g_reload_listener{nullptr};

// Parses one level word: none, error, flow, detail, all (in any letter
// case) or a number.  Returns false for an unknown word.
bool ParseLevel(const std::string& text, unsigned* level) {
  std::string word;
  for (char c : text)
    word.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
  if (word == "none") *level = 0;
  else if (word == "error") *level = TRACE_ERROR;
  else if (word == "flow") *level = TRACE_ERROR | TRACE_FLOW;
  else if (word == "detail") *level = TRACE_ERROR | TRACE_FLOW | TRACE_DETAIL;
  else if (word == "all") *level = TRACE_ALL;
  else {
    if (word.empty()) return false;
    char* end = nullptr;
    // Decimal, or hexadecimal with 0x; a leading zero is not octal.
    bool hex = word.size() > 2 && word[0] == '0' && word[1] == 'x';
    unsigned long v = std::strtoul(word.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0') return false;
    *level = static_cast<unsigned>(v) & TRACE_ALL;
  }
  return true;
}

std::string Trim(const std::string& s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) b++;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) e--;
  return s.substr(b, e - b);
}

// Parses "error,stats=detail,agentlink/socket=0x81".  Unknown words are
// ignored (the rest still applies); each is added to *unknown when given.
Config ParseConfig(const char* text, std::vector<std::string>* unknown = nullptr) {
  Config c;
  if (text == nullptr) return c;
  std::string all(text);
  size_t pos = 0;
  while (pos <= all.size()) {
    size_t comma = all.find(',', pos);
    if (comma == std::string::npos) comma = all.size();
    std::string item = Trim(all.substr(pos, comma - pos));
    pos = comma + 1;
    if (item.empty()) continue;
    size_t eq = item.find('=');
    unsigned level;
    bool known;
    if (eq == std::string::npos) {
      known = ParseLevel(item, &level);
      if (known) c.default_level = level;
    } else {
      std::string unit = Trim(item.substr(0, eq));
      known = ParseLevel(Trim(item.substr(eq + 1)), &level) && !unit.empty();
      if (known) c.units.push_back({unit, level});
    }
    if (!known && unknown != nullptr) unknown->push_back(item);
  }
  return c;
}

// Reads the first line of the control file, if one is configured.
bool ReadControlFile(std::string* out) {
  const char* path = std::getenv("QVD_TRACE_CONTROL");
  if (path == nullptr || *path == '\0') return false;
  FILE* f = std::fopen(path, "re");
  if (f == nullptr) return false;
  char buf[4096];
  bool ok = std::fgets(buf, sizeof buf, f) != nullptr;
  std::fclose(f);
  if (!ok) return false;
  *out = Trim(buf);
  return true;
}

// Serialises reloads; the SIGHUP flag, the first use and TraceReload all
// come through here.
std::mutex g_load_mu;

// Closes the output file so that the next line opens QVD_TRACE_FILE again:
// a reload follows a renamed (rotated) or newly named trace file.
void ReopenOutput() {
  std::lock_guard<std::mutex> lock(g_out_mu);
  if (g_out_owned) ::close(g_out_fd);
  g_out_fd = -1;
  g_out_owned = false;
  g_out_problem.clear();
}

// REQUIRES: g_load_mu held.
void LoadConfig() {
  std::string control;
  std::vector<std::string> unknown;
  Config c;
  if (ReadControlFile(&control)) {
    c = ParseConfig(control.c_str(), &unknown);
    c.source = std::string("the control file ") + std::getenv("QVD_TRACE_CONTROL");
  } else {
    c = ParseConfig(std::getenv("QVD_TRACE"), &unknown);
    c.source = "QVD_TRACE";
  }
  c.unknown = std::move(unknown);
  {
    std::lock_guard<std::mutex> lock(g_config_mu);
    g_config = std::move(c);
  }
  // The counter moves after the configuration is in place, so a unit that
  // sees the new value reads the new levels.
  unsigned next = g_counter.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  g_counter.store(next, std::memory_order_release);
}

// A process started with a control file can have its level raised with
// SIGHUP without calling TraceInstallSignalHandler itself, unless it handles
// SIGHUP its own way.
void InstallHandlerIfControlled() {
  const char* path = std::getenv("QVD_TRACE_CONTROL");
  if (path == nullptr || *path == '\0') return;
  struct sigaction current;
  if (sigaction(SIGHUP, nullptr, &current) != 0) return;
  if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == SIG_DFL) TraceInstallSignalHandler();
}

// Hot path of every trace macro: two plain loads when nothing changed.
void EnsureLoaded() {
  if (g_reload_requested.load(std::memory_order_relaxed) == 0 &&
      g_counter.load(std::memory_order_acquire) != 0) {
    return;
  }
  bool requested;
  {
    std::lock_guard<std::mutex> lock(g_load_mu);
    requested = g_reload_requested.exchange(0) != 0;
    bool first = g_counter.load(std::memory_order_relaxed) == 0;
    if (requested) ReopenOutput();
    if (requested || first) LoadConfig();
    if (first) InstallHandlerIfControlled();
  }
  // The listener may trace: it runs with no trace lock held.
  void (*listener)() = g_reload_listener.load();
  if (requested && listener != nullptr) listener();
}

void OnSighup(int) { g_reload_requested.store(1); }

// A child forked while another thread held a trace lock would otherwise
// wait for it forever when it traces (a failed exec does).  The forking
// thread takes every lock around fork, so both sides start with them free.
void LockAllForFork() {
  g_load_mu.lock();
  g_config_mu.lock();
  g_out_mu.lock();
}
void UnlockAllAfterFork() {
  g_out_mu.unlock();
  g_config_mu.unlock();
  g_load_mu.unlock();
}
const int g_atfork_registered =
    pthread_atfork(LockAllForFork, UnlockAllAfterFork, UnlockAllAfterFork);

// Unit setting "a/b" matches unit "a/b" and "a/b/..."; the longest wins.
unsigned LevelFor(const char* name) {
  std::lock_guard<std::mutex> lock(g_config_mu);
  unsigned level = g_config.default_level;
  size_t best = 0;
  size_t n = std::strlen(name);
  for (const UnitSetting& u : g_config.units) {
    size_t m = u.name.size();
    if (m > n || m < best) continue;
    if (u.name.compare(0, m, name, m) != 0) continue;
    if (m < n && name[m] != '/') continue;
    best = m;
    level = u.level;
  }
  return level;
}

int OutFd() {
  if (g_out_fd < 0) {
    const char* path = std::getenv("QVD_TRACE_FILE");
    if (path != nullptr && *path != '\0') {
      g_out_fd = ::open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
      g_out_owned = g_out_fd >= 0;
      if (g_out_fd < 0) {
        g_out_problem = std::string("trace file ") + path + " cannot be opened (" +
                        std::strerror(errno) + "); trace lines go to standard error";
      }
    }
    if (g_out_fd < 0) g_out_fd = 2;
  }
  return g_out_fd;
}

const char* KindName(unsigned kind) {
  switch (kind) {
    case TRACE_DETAIL: return "DETAIL";
    case TRACE_ERROR: return "ERROR";
    case TRACE_FLOW: return "FLOW";
    case TRACE_ALWAYS: return "ALWAYS";
    default: return "INFO";
  }
}

// Appends the line prefix (time, thread, unit, kind) to *s.
void AppendPrefix(std::string* s, const TraceUnit* unit, unsigned kind) {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  struct tm tm;
  localtime_r(&tv.tv_sec, &tm);
  char buf[96];
  size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  std::snprintf(buf + n, sizeof buf - n, ".%03ld [%ld] ", static_cast<long>(tv.tv_usec / 1000),
                static_cast<long>(::syscall(SYS_gettid)));
  s->append(buf);
  s->append(unit->name ? unit->name : "?");
  s->push_back(' ');
  s->append(KindName(kind));
  s->push_back(' ');
}

// Writes the whole of `s` (one line, ending in '\n') under the output lock.
void Emit(const std::string& s) {
  EnsureLoaded();  // a pending SIGHUP may have moved the trace file
  std::lock_guard<std::mutex> lock(g_out_mu);
  int fd = OutFd();
  const char* p = s.data();
  size_t left = s.size();
  while (left > 0) {
    ssize_t w = ::write(fd, p, left);
    if (w < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += w;
    left -= static_cast<size_t>(w);
  }
}

}  // namespace

unsigned TraceChangeCounter() {
  EnsureLoaded();
  return g_counter.load(std::memory_order_acquire);
}

void TraceSync(TraceUnit* unit) {
  unsigned counter = TraceChangeCounter();
  unit->level.store(LevelFor(unit->name));
  unit->synced.store(counter);
}

unsigned TraceLevel(TraceUnit* unit) {
  if (unit->synced.load(std::memory_order_acquire) != TraceChangeCounter()) TraceSync(unit);
  return unit->level.load(std::memory_order_relaxed);
}

void TracePrintf(TraceUnit* unit, unsigned kind, int line, const char* fmt, ...) {
  int saved_errno = errno;
  std::string s;
  s.reserve(256);
  AppendPrefix(&s, unit, kind);
  (void)line;
  va_list ap;
  va_start(ap, fmt);
  char small[1024];
  va_list ap2;
  va_copy(ap2, ap);
  int n = std::vsnprintf(small, sizeof small, fmt, ap);
  if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
    s.append(small, static_cast<size_t>(n));
  } else if (n > 0) {
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), fmt, ap2);
    s.append(big.data(), static_cast<size_t>(n));
  }
  va_end(ap2);
  va_end(ap);
  if (!s.empty() && s.back() == '\n') s.pop_back();
  s.push_back('\n');
  Emit(s);
  errno = saved_errno;
}

void TraceEvent(TraceUnit* unit, int line, int kind, const char* func, long result) {
  int saved_errno = errno;
  std::string s;
  AppendPrefix(&s, unit, TRACE_FLOW);
  char buf[256];
  if (kind == TRACE_ENTRY)
    std::snprintf(buf, sizeof buf, "Entry %s line %d\n", func, line);
  else if (kind == TRACE_EXIT)
    std::snprintf(buf, sizeof buf, "Exit %s line %d rc=%ld\n", func, line, result);
  else
    std::snprintf(buf, sizeof buf, "Exit %s line %d\n", func, line);
  s.append(buf);
  Emit(s);
  errno = saved_errno;
}

void TraceDump(TraceUnit* unit, int line, const char* header, const void* buf, size_t len) {
  int saved_errno = errno;
  (void)line;
  std::string s;
  AppendPrefix(&s, unit, TRACE_DETAIL);
  s.append(header ? header : "");
  s.push_back('\n');
  const unsigned char* p = static_cast<const unsigned char*>(buf);
  if (p == nullptr) len = 0;
  for (size_t off = 0; off < len; off += 16) {
    char row[128];
    int n = std::snprintf(row, sizeof row, "  %08zx ", off);
    std::string hex(row, static_cast<size_t>(n));
    std::string text;
    for (size_t i = 0; i < 16; i++) {
      if (off + i < len) {
        std::snprintf(row, sizeof row, " %02x", p[off + i]);
        hex.append(row);
        text.push_back(std::isprint(p[off + i]) ? static_cast<char>(p[off + i]) : '.');
      } else {
        hex.append("   ");
      }
    }
    s.append(hex);
    s.append("  |");
    s.append(text);
    s.append("|\n");
  }
  Emit(s);
  errno = saved_errno;
}

void TraceReload() {
  std::lock_guard<std::mutex> lock(g_load_mu);
  g_reload_requested.store(0);
  ReopenOutput();
  LoadConfig();
}

namespace {

// "error", "0x81" and so on: the word of a level where there is one.
std::string LevelText(unsigned level) {
  switch (level) {
    case 0: return "none";
    case TRACE_ERROR: return "error";
    case TRACE_ERROR | TRACE_FLOW: return "flow";
    case TRACE_ERROR | TRACE_FLOW | TRACE_DETAIL: return "detail";
    case TRACE_ALL: return "all";
  }
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%02X", level);
  return buf;
}

}  // namespace

std::string TraceLevelsInForce() {
  EnsureLoaded();
  std::lock_guard<std::mutex> lock(g_config_mu);
  std::string text = LevelText(g_config.default_level);
  for (const UnitSetting& u : g_config.units) text += "," + u.name + "=" + LevelText(u.level);
  return text + " (from " + g_config.source + ")";
}

std::vector<std::string> TraceConfigProblems() {
  EnsureLoaded();
  std::vector<std::string> problems;
  {
    std::lock_guard<std::mutex> lock(g_config_mu);
    for (const std::string& word : g_config.unknown)
      problems.push_back("unknown trace level setting \"" + word + "\" in " + g_config.source +
                         " ignored; levels are none, error, flow, detail, all or a number, "
                         "optionally per unit as in error,stats=detail");
  }
  // Only an output already opened can have failed: asking never creates
  // the trace file, so a process that writes nothing leaves none behind.
  std::lock_guard<std::mutex> lock(g_out_mu);
  if (!g_out_problem.empty()) problems.push_back(g_out_problem);
  return problems;
}

std::vector<std::string> TraceUnknownWords(const char* text) {
  std::vector<std::string> unknown;
  ParseConfig(text, &unknown);
  return unknown;
}

void TraceSetReloadListener(void (*listener)()) { g_reload_listener.store(listener); }

void TraceInstallSignalHandler() {
  struct sigaction sa;
  std::memset(&sa, 0, sizeof sa);
  sa.sa_handler = OnSighup;
  sa.sa_flags = SA_RESTART;
  sigemptyset(&sa.sa_mask);
  sigaction(SIGHUP, &sa, nullptr);
}
