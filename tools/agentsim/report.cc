#include "tools/agentsim/report.h"

#include <algorithm>

namespace agentsim {

namespace {

std::string Ms(double ms) {
  char buf[32];
  snprintf(buf, sizeof buf, "%.2f ms", ms);
  return buf;
}

std::string Printable(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c < 0x20 || c == 0x7F) {
      char buf[8];
      snprintf(buf, sizeof buf, "\\x%02X", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

void Reporter::Json(nlohmann::json obj) {
  // Values are bytes from the collector: invalid UTF-8 is replaced rather
  // than aborting the report.
  std::string text = obj.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  fprintf(out_, "%s\n", text.c_str());
  fflush(out_);
}

void Reporter::Line(const std::string& text) {
  fprintf(out_, "%s\n", text.c_str());
  fflush(out_);
}

void Reporter::Table(const std::string& title, const std::vector<std::string>& names,
                     const std::vector<std::vector<std::string>>& rows) {
  Line(title);
  if (rows.empty()) return;
  std::vector<size_t> width(names.size(), 0);
  for (size_t i = 0; i < names.size(); ++i) width[i] = names[i].size();
  for (const auto& row : rows)
    for (size_t i = 0; i < row.size() && i < width.size(); ++i)
      width[i] = std::max(width[i], Printable(row[i]).size());
  size_t total = 0;
  for (size_t w : width) total += w + 3;
  if (total <= 132) {
    auto emit = [&](const std::vector<std::string>& cells) {
      std::string line = " ";
      for (size_t i = 0; i < width.size(); ++i) {
        std::string cell = i < cells.size() ? Printable(cells[i]) : "";
        line += (i ? " | " : " ") + cell + std::string(width[i] - cell.size(), ' ');
      }
      while (!line.empty() && line.back() == ' ') line.pop_back();
      Line(line);
    };
    emit(names);
    std::string rule = " ";
    for (size_t i = 0; i < width.size(); ++i) rule += (i ? "-+-" : " ") + std::string(width[i], '-');
    Line(rule);
    for (const auto& row : rows) emit(row);
    return;
  }
  // Too wide for a line: one "column: value" per line, row by row.
  size_t nameWidth = 0;
  for (const auto& n : names) nameWidth = std::max(nameWidth, n.size());
  for (size_t r = 0; r < rows.size(); ++r) {
    if (rows.size() > 1) Line("  row " + std::to_string(r + 1));
    for (size_t i = 0; i < names.size(); ++i) {
      std::string value = i < rows[r].size() ? Printable(rows[r][i]) : "";
      Line("    " + names[i] + std::string(nameWidth - names[i].size(), ' ') + " : " + value);
    }
  }
}

void Reporter::Listening(int port) {
  if (format_ == Format::kJson) Json({{"type", "listening"}, {"port", port}});
  else fprintf(stderr, "agentsim: listening on 127.0.0.1:%d\n", port);
}

void Reporter::Started(int pid, const std::vector<std::string>& command) {
  if (format_ == Format::kJson) Json({{"type", "started"}, {"pid", pid}, {"command", command}});
  else fprintf(stderr, "agentsim: started %s (pid %d)\n", command.empty() ? "" : command[0].c_str(), pid);
}

void Reporter::Connected() {
  if (format_ == Format::kJson) Json({{"type", "connected"}});
  else if (format_ == Format::kTable) Line("collector connected");
}

void Reporter::Sent(const std::string& kind, const std::string& id, const std::string& group,
                    const std::string& raw) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = {{"type", "sent"}, {"kind", kind}, {"raw", raw}};
    if (!id.empty()) obj["id"] = id;
    if (!group.empty()) obj["group"] = group;
    Json(obj);
  } else if (showSent_) {
    Line("> " + raw);
  }
}

void Reporter::Received(const std::string& raw, const Verdict& v) {
  if (format_ == Format::kRaw) {
    Line(raw);
  } else if (v.decoded) {
    const WireMessage& m = v.msg;
    if (format_ == Format::kJson) {
      nlohmann::json obj;
      switch (m.kind) {
        case WireMessage::kRegistration: {
          nlohmann::json groups = nlohmann::json::array();
          for (const auto& g : m.groups) groups.push_back({{"name", g.first}, {"version", g.second}});
          obj = {{"type", "registration"}, {"version", m.protocolVersion}, {"groups", groups}};
          break;
        }
        case WireMessage::kData: {
          size_t width = 0;
          for (const auto& row : m.rows) width = std::max(width, row.size());
          obj = {{"type", "data"}, {"id", m.id}, {"group", m.group},
                 {"columns", columns_->NamesFor(m.group, width ? width : columns_->Names(m.group).size())},
                 {"rows", m.rows}};
          break;
        }
        case WireMessage::kDataError:
          obj = {{"type", "error"}, {"id", m.id}, {"group", m.group}, {"rc", m.rc}};
          break;
        case WireMessage::kTask:
          obj = {{"type", "task"}, {"id", m.id}, {"rc", m.rc}};
          break;
        case WireMessage::kEvent:
        case WireMessage::kEventError: {
          bool isError = m.kind == WireMessage::kEventError;
          obj = {{"type", isError ? "event-error" : "event"}, {"group", m.group}};
          obj["subnode"] = m.hasSubnode ? nlohmann::json(m.subnode) : nlohmann::json(nullptr);
          if (isError) {
            obj["rc"] = m.rc;
          } else {
            std::vector<std::string> row = m.rows.empty() ? std::vector<std::string>() : m.rows[0];
            obj["columns"] = columns_->NamesFor(m.group, row.size());
            obj["row"] = row;
          }
          break;
        }
      }
      if (v.ms >= 0) obj["ms"] = v.ms;
      obj["raw"] = raw;
      Json(obj);
    } else {
      std::string timing = v.ms >= 0 ? ", " + Ms(v.ms) : "";
      switch (m.kind) {
        case WireMessage::kRegistration:
          Line("registration: protocol version " + std::to_string(m.protocolVersion) + ", " +
               std::to_string(m.groups.size()) + " groups");
          for (size_t i = 0; i < m.groups.size(); ++i) {
            char buf[32];
            snprintf(buf, sizeof buf, "%4zu  ", i + 1);
            Line(buf + m.groups[i].first + "  (version " + std::to_string(m.groups[i].second) + ")");
          }
          break;
        case WireMessage::kData: {
          size_t width = 0;
          for (const auto& row : m.rows) width = std::max(width, row.size());
          Table(m.group + " id=" + m.id + " (" + std::to_string(m.rows.size()) +
                    (m.rows.size() == 1 ? " row" : " rows") + timing + ")",
                columns_->NamesFor(m.group, width), m.rows);
          break;
        }
        case WireMessage::kDataError:
          Line(m.group + " id=" + m.id + ": error rc=" + std::to_string(m.rc) + (timing.empty() ? "" : " (" + timing.substr(2) + ")"));
          break;
        case WireMessage::kTask:
          Line("task id=" + m.id + ": rc=" + std::to_string(m.rc) + (timing.empty() ? "" : " (" + timing.substr(2) + ")"));
          break;
        case WireMessage::kEvent: {
          std::vector<std::string> row = m.rows.empty() ? std::vector<std::string>() : m.rows[0];
          Table("event " + m.group + (m.hasSubnode ? " subnode=" + m.subnode : ""),
                columns_->NamesFor(m.group, row.size()), m.rows);
          break;
        }
        case WireMessage::kEventError:
          Line("event " + m.group + (m.hasSubnode ? " subnode=" + m.subnode : "") + ": error rc=" +
               std::to_string(m.rc));
          break;
      }
    }
  }
  for (const std::string& violation : v.violations) Violation(violation, raw);
}

void Reporter::Violation(const std::string& message, const std::string& raw) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = {{"type", "violation"}, {"message", message}};
    if (!raw.empty()) obj["raw"] = raw;
    Json(obj);
  } else if (format_ == Format::kTable) {
    Line("PROTOCOL VIOLATION: " + message);
  }
  fprintf(stderr, "agentsim: protocol violation: %s%s%s\n", message.c_str(), raw.empty() ? "" : "\n  line: ",
          Printable(raw).c_str());
}

void Reporter::ExpectFailed(const std::string& message) {
  if (format_ == Format::kJson) Json({{"type", "expect-failed"}, {"message", message}});
  else if (format_ == Format::kTable) Line("EXPECTATION FAILED: " + message);
  fprintf(stderr, "agentsim: expectation failed: %s\n", message.c_str());
}

void Reporter::Note(const std::string& text) {
  if (format_ == Format::kJson) Json({{"type", "note"}, {"text", text}});
  else if (format_ == Format::kTable) Line("# " + text);
  else fprintf(stderr, "agentsim: %s\n", text.c_str());
}

void Reporter::File(const std::string& path, bool readable, const std::string& content) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = {{"type", "file"}, {"path", path}, {"readable", readable}};
    if (readable) obj["content"] = content;
    Json(obj);
    return;
  }
  std::string text = readable ? "file " + path + ":" : "file " + path + ": cannot be read";
  if (format_ == Format::kRaw) {
    fprintf(stderr, "agentsim: %s\n%s", text.c_str(), content.c_str());
    return;
  }
  Line(text);
  size_t start = 0;
  while (readable && start < content.size()) {
    size_t nl = content.find('\n', start);
    Line("  " + Printable(content.substr(start, nl == std::string::npos ? std::string::npos : nl - start)));
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
}

void Reporter::Closed(const std::string& partial) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = {{"type", "closed"}};
    if (!partial.empty()) obj["partial"] = partial;
    Json(obj);
  } else if (format_ == Format::kTable) {
    Line("collector closed the connection");
  }
}

void Reporter::Exit(std::optional<int> status, std::optional<int> signal, bool killed) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = {{"type", "exit"}, {"killed", killed}};
    if (status) obj["status"] = *status;
    if (signal) obj["signal"] = *signal;
    Json(obj);
    return;
  }
  std::string text = status ? "collector exited with status " + std::to_string(*status)
                            : "collector ended by signal " + std::to_string(signal.value_or(0));
  if (killed) text += " (stopped by agentsim)";
  if (format_ == Format::kTable) Line(text);
  else fprintf(stderr, "agentsim: %s\n", text.c_str());
}

void Reporter::Bench(const nlohmann::json& figures, const std::string& text) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = figures;
    obj["type"] = "bench";
    Json(obj);
  } else {
    Line(text);
  }
}

void Reporter::Soak(const nlohmann::json& figures, const std::string& text) {
  if (format_ == Format::kJson) {
    nlohmann::json obj = figures;
    obj["type"] = "soak";
    Json(obj);
  } else if (format_ == Format::kRaw) {
    fprintf(stderr, "%s\n", text.c_str());  // standard output carries only the collector's lines
  } else {
    Line(text);
  }
}

void Reporter::Summary(const Session& session, size_t expectFailures, std::optional<int> collectorStatus) {
  std::vector<std::string> unanswered = session.AwaitedIds();
  if (format_ == Format::kJson) {
    Json({{"type", "summary"},
          {"answers", session.answers()},
          {"events", session.events()},
          {"violations", session.violations()},
          {"expect_failures", expectFailures},
          {"unanswered", unanswered},
          {"collector_status", collectorStatus ? nlohmann::json(*collectorStatus) : nlohmann::json(nullptr)}});
    return;
  }
  std::string text = "summary: " + std::to_string(session.answers()) + " answers, " +
                     std::to_string(session.events()) + " events, " + std::to_string(session.violations()) +
                     " protocol violations, " + std::to_string(expectFailures) + " failed expectations";
  if (!unanswered.empty()) {
    text += ", unanswered ids:";
    for (const auto& id : unanswered) text += " " + id;
  }
  if (format_ == Format::kTable) Line(text);
  else fprintf(stderr, "agentsim: %s\n", text.c_str());
}

}  // namespace agentsim
