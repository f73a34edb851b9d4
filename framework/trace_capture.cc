#include "framework/trace_capture.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sstream>

#include "framework/trace.h"

QVD_TRACE_UNIT("framework/trace_capture");

namespace {

// The capture file; made at first use rather than before main, so that
// linking this file never changes where a program's trace lines go.
class CaptureFile {
 public:
  CaptureFile() {
    char name[] = "/tmp/qvd_trace_XXXXXX";
    // Close-on-exec like every descriptor here: tests start programs.
    int fd = mkostemp(name, O_CLOEXEC);
    if (fd >= 0) close(fd);
    path_ = name;
    setenv("QVD_TRACE_FILE", name, 1);
    unsetenv("QVD_TRACE_CONTROL");
    TraceReload();  // the framework opens the file named now
  }
  ~CaptureFile() { unlink(path_.c_str()); }

  // What was appended since the last call.
  std::string ReadNew() {
    int fd = open(path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    struct stat st;
    if (fstat(fd, &st) != 0) {
      close(fd);
      return std::string();
    }
    off_t end = st.st_size;
    if (end < offset_) offset_ = 0;
    std::string text(static_cast<size_t>(end - offset_), '\0');
    size_t got = 0;
    while (got < text.size()) {
      ssize_t n = pread(fd, &text[got], text.size() - got, offset_ + static_cast<off_t>(got));
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    close(fd);
    text.resize(got);
    offset_ += static_cast<off_t>(got);
    return text;
  }

 private:
  std::string path_;
  off_t offset_ = 0;
};

CaptureFile& File() {
  static CaptureFile file;
  return file;
}

}  // namespace

void TraceCaptureStart(const char* levels) {
  CaptureFile& file = File();
  setenv("QVD_TRACE", levels, 1);
  TraceReload();
  file.ReadNew();
}

std::vector<std::string> TraceCaptureLines(const char* unitPrefix) {
  // Line: "YYYY-MM-DD HH:MM:SS.mmm [tid] unit KIND message"
  std::vector<std::string> lines;
  std::istringstream all(File().ReadNew());
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

bool TraceCaptureHas(const std::vector<std::string>& lines, const std::string& text) {
  return std::find(lines.begin(), lines.end(), text) != lines.end();
}
