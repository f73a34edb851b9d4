// The simulator's call log: one line per entry-point call, appended to the
// file named by VAXEL_SIM_LOG, and a last line at process exit with the
// handles still held.  Line formats are documented in
// docs/simulated-server.md; tests of other folders parse them.
//
// Each line is written with one write(2) on a file opened for appending, so
// lines of several threads or processes never interleave.  Not thread-safe
// by itself: the simulator's mutex guards the one log.
#ifndef QVD_SIM_CALL_LOG_H_
#define QVD_SIM_CALL_LOG_H_

#include <cstddef>
#include <string>

namespace vaxelsim {

// Builds one line: the entry point's name, then " key=value" pairs.  Texts
// are written in double quotes with \" \\ \n \r \t and \xNN escapes; a null
// text is written as null.
class LogLine {
 public:
  explicit LogLine(const char* entry) : text_(entry) {}
  LogLine& Text(const char* key, const char* value);
  LogLine& Text(const char* key, const char* value, size_t length);
  LogLine& Num(const char* key, long long value);
  LogLine& Unsigned(const char* key, unsigned long long value);
  const std::string& str() const { return text_; }

 private:
  std::string text_;
};

class CallLog {
 public:
  CallLog() = default;
  ~CallLog();
  CallLog(const CallLog&) = delete;
  CallLog& operator=(const CallLog&) = delete;

  // Opens `path` for appending (null or empty: no log).  Closes any log
  // that was open.  False when the file cannot be opened.
  bool Open(const char* path);
  bool enabled() const { return fd_ >= 0; }
  // Appends the line and a line feed.
  void Write(const LogLine& line);
  void Write(const std::string& line);

 private:
  int fd_ = -1;
};

}  // namespace vaxelsim

#endif  // QVD_SIM_CALL_LOG_H_
