// The framework opens its output file at the first line written, so the
// capture file is named before main runs (static initialiser).
#include "stats/trace_capture_testutil.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>

#include "framework/trace.h"

namespace {

std::string g_path;
std::streamoff g_offset = 0;

struct CaptureFile {
  CaptureFile() {
    char name[] = "/tmp/qvd_stats_trace_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    g_path = name;
    setenv("QVD_TRACE_FILE", name, 1);
    unsetenv("QVD_TRACE_CONTROL");
  }
  ~CaptureFile() { unlink(g_path.c_str()); }
} g_file;

std::string ReadNew() {
  std::ifstream in(g_path, std::ios::binary);
  in.seekg(0, std::ios::end);
  std::streamoff end = in.tellg();
  if (end < g_offset) g_offset = 0;
  in.seekg(g_offset);
  std::string text(static_cast<size_t>(end - g_offset), '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  g_offset = end;
  return text;
}

}  // namespace

void StatsTraceStart(const char* levels) {
  setenv("QVD_TRACE", levels, 1);
  TraceReload();
  ReadNew();
}

std::vector<std::string> StatsTraceLines(const char* unitPrefix) {
  // "YYYY-MM-DD HH:MM:SS.mmm [tid] unit KIND message"
  std::vector<std::string> lines;
  std::istringstream all(ReadNew());
  std::string line;
  while (std::getline(all, line)) {
    size_t unit = line.find("] ");
    if (unit == std::string::npos) continue;
    unit += 2;
    size_t kind = line.find(' ', unit);
    if (kind == std::string::npos) continue;
    size_t message = line.find(' ', kind + 1);
    if (message == std::string::npos) continue;
    if (line.compare(unit, strlen(unitPrefix), unitPrefix) != 0) continue;
    lines.push_back(line.substr(message + 1));
  }
  return lines;
}

bool HasLine(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}
