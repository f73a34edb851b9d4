#include "sim/call_log.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace vaxelsim {

// Log lines stay readable: longer texts are cut and marked with "...".
constexpr size_t kMaxLoggedText = 1024;

LogLine& LogLine::Text(const char* key, const char* value) {
  return Text(key, value, value == nullptr ? 0 : strlen(value));
}

LogLine& LogLine::Text(const char* key, const char* value, size_t length) {
  text_ += ' ';
  text_ += key;
  text_ += '=';
  if (value == nullptr) {
    text_ += "null";
    return *this;
  }
  text_ += '"';
  size_t n = length < kMaxLoggedText ? length : kMaxLoggedText;
  for (size_t i = 0; i < n; ++i) {
    unsigned char c = static_cast<unsigned char>(value[i]);
    switch (c) {
      case '"': text_ += "\\\""; break;
      case '\\': text_ += "\\\\"; break;
      case '\n': text_ += "\\n"; break;
      case '\r': text_ += "\\r"; break;
      case '\t': text_ += "\\t"; break;
      default:
        if (c < 0x20 || c >= 0x7F) {
          char hex[8];
          snprintf(hex, sizeof hex, "\\x%02X", c);
          text_ += hex;
        } else {
          text_ += static_cast<char>(c);
        }
    }
  }
  text_ += '"';
  if (n < length) text_ += "...";
  return *this;
}

LogLine& LogLine::Num(const char* key, long long value) {
  text_ += ' ';
  text_ += key;
  text_ += '=';
  text_ += std::to_string(value);
  return *this;
}

LogLine& LogLine::Unsigned(const char* key, unsigned long long value) {
  text_ += ' ';
  text_ += key;
  text_ += '=';
  text_ += std::to_string(value);
  return *this;
}

CallLog::~CallLog() {
  if (fd_ >= 0) close(fd_);
}

bool CallLog::Open(const char* path) {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
  if (path == nullptr || *path == '\0') return true;
  fd_ = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) {
    fprintf(stderr, "vaxel sim: cannot open the call log %s: %s\n", path, strerror(errno));
    return false;
  }
  return true;
}

void CallLog::Write(const LogLine& line) { Write(line.str()); }

void CallLog::Write(const std::string& line) {
  if (fd_ < 0) return;
  std::string out = line + "\n";
  const char* p = out.data();
  size_t left = out.size();
  while (left > 0) {
    ssize_t n = write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return;
    }
    p += n;
    left -= static_cast<size_t>(n);
  }
}

}  // namespace vaxelsim
