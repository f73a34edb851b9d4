#include "qvdexporter/log.h"

#include <sys/time.h>

#include <atomic>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace qvdexporter {

namespace {

std::atomic<int> minimum{static_cast<int>(Level::kInfo)};
std::mutex lineLock;

const char* Name(Level level) {
  switch (level) {
    case Level::kDebug: return "debug";
    case Level::kInfo: return "info";
    case Level::kWarn: return "warn";
    case Level::kError: return "error";
  }
  return "info";
}

}  // namespace

void SetLogLevel(Level level) { minimum = static_cast<int>(level); }

void Log(Level level, const std::string& message) {
  if (static_cast<int>(level) < minimum) return;
  timeval tv;
  gettimeofday(&tv, nullptr);
  tm utc;
  gmtime_r(&tv.tv_sec, &utc);
  char ts[40];
  size_t n = strftime(ts, sizeof ts, "%Y-%m-%dT%H:%M:%S", &utc);
  snprintf(ts + n, sizeof ts - n, ".%03ldZ", static_cast<long>(tv.tv_usec / 1000));
  std::string quoted;
  for (char c : message) {
    if (c == '"' || c == '\\') quoted += '\\';
    if (c == '\n') {
      quoted += "\\n";
      continue;
    }
    quoted += c;
  }
  std::lock_guard<std::mutex> lock(lineLock);
  fprintf(stderr, "ts=%s level=%s msg=\"%s\"\n", ts, Name(level), quoted.c_str());
  fflush(stderr);
}

}  // namespace qvdexporter
