// agentsim's report: everything that happens in a session, written as
// readable tables, as the exact raw lines, or as one JSON object per line.
//
// Thread-safety: none; the runner's thread owns the reporter.  Each call
// writes whole lines and flushes, so a reader of a pipe sees complete lines.
#ifndef QVD_TOOLS_AGENTSIM_REPORT_H_
#define QVD_TOOLS_AGENTSIM_REPORT_H_

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/agentsim/agentside.h"

namespace agentsim {

enum class Format { kTable, kRaw, kJson };

class Reporter {
 public:
  // `out` and `columns` must outlive the reporter; `out` is not closed.
  Reporter(Format format, FILE* out, bool showSent, const ColumnCatalogue* columns)
      : format_(format), out_(out), showSent_(showSent), columns_(columns) {}

  void Listening(int port);
  void Started(int pid, const std::vector<std::string>& command);
  void Connected();
  // One line from the collector with its verdict; also reports the
  // verdict's violations.
  void Received(const std::string& raw, const Verdict& verdict);
  // A line agentsim sent.  `id` and `group` may be empty.
  void Sent(const std::string& kind, const std::string& id, const std::string& group, const std::string& raw);
  void Violation(const std::string& message, const std::string& raw);
  void ExpectFailed(const std::string& message);
  void Note(const std::string& text);
  // The content of a file the script asked to show (`readable` false: it
  // could not be read).
  void File(const std::string& path, bool readable, const std::string& content);
  void Closed(const std::string& partial);
  // The collector ended: exit status, or the signal that ended it.
  void Exit(std::optional<int> status, std::optional<int> signal, bool killed);
  void Bench(const nlohmann::json& figures, const std::string& text);
  // One reading of the soak: `figures` as a JSON object of type "soak",
  // else `text`.
  void Soak(const nlohmann::json& figures, const std::string& text);
  void Summary(const Session& session, size_t expectFailures, std::optional<int> collectorStatus);

  Format format() const { return format_; }

 private:
  void Json(nlohmann::json obj);
  void Line(const std::string& text);
  void Table(const std::string& title, const std::vector<std::string>& names,
             const std::vector<std::vector<std::string>>& rows);

  Format format_;
  FILE* out_;
  bool showSent_;
  const ColumnCatalogue* columns_;
};

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_REPORT_H_
