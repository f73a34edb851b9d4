#include "serverapi/trace_capture_testutil.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "framework/trace.h"

namespace {

std::string g_path;
std::streamoff g_offset = 0;

struct CaptureFileSetup {
  CaptureFileSetup() {
    char name[] = "/tmp/qvd_trace_XXXXXX";
    int fd = mkstemp(name);
    if (fd >= 0) close(fd);
    g_path = name;
    setenv("QVD_TRACE_FILE", name, 1);
    unsetenv("QVD_TRACE_CONTROL");
  }
  ~CaptureFileSetup() { unlink(g_path.c_str()); }
} g_setup;

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

void TraceCaptureStart(const char* levels) {
  setenv("QVD_TRACE", levels, 1);
  TraceReload();
  ReadNew();
}

std::vector<std::string> TraceCaptureLines(const char* unitPrefix) {
  // Line: "YYYY-MM-DD HH:MM:SS.mmm [tid] unit KIND message"
  std::vector<std::string> lines;
  std::istringstream all(ReadNew());
  std::string line;
  while (std::getline(all, line)) {
    size_t tid_end = line.find("] ");
    if (tid_end == std::string::npos) continue;
    size_t unit_begin = tid_end + 2;
    size_t unit_end = line.find(' ', unit_begin);
    if (unit_end == std::string::npos) continue;
    size_t kind_end = line.find(' ', unit_end + 1);
    if (kind_end == std::string::npos) continue;
    if (line.compare(unit_begin, std::strlen(unitPrefix), unitPrefix) != 0) continue;
    lines.push_back(line.substr(kind_end + 1));
  }
  return lines;
}
