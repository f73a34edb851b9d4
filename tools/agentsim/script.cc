#include "tools/agentsim/script.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <set>

namespace agentsim {

namespace {

struct VerbRule {
  const char* verb;
  int minWords;
  int maxWords;
  std::set<std::string> keys;
};

const VerbRule* FindRule(const std::string& verb) {
  static const VerbRule rules[] = {
      {"request", 1, 1000, {"id", "rsid", "subnode", "info"}},
      {"task", 1, 1, {"user", "id", "subnode", "info"}},
      {"start", 1, 1, {"rsid", "subnode", "info"}},
      {"stop", 1, 1, {"rsid", "shutting-down", "subnode", "info"}},
      {"shutdown", 0, 0, {"subnode"}},
      {"close", 0, 0, {}},
      {"burst", 1, 1000, {}},
      {"registration", 0, 1, {}},
      {"sleep", 1, 1, {}},
      {"expect", 1, 2, {}},
      {"expect-event", 1, 2, {}},
      {"expect-none", 1, 1, {}},
      {"expect-close", 0, 1, {}},
      {"expect-exit", 0, 1, {}},
      {"expect-file", 3, 4, {}},
      {"show", 1, 1, {}},
      {"reading", 1, 3, {}},
  };
  for (const VerbRule& r : rules)
    if (verb == r.verb) return &r;
  return nullptr;
}

bool ParseCount(const std::string& text, long* count) {
  if (text.empty() || text.size() > 9) return false;
  for (char c : text)
    if (c < '0' || c > '9') return false;
  *count = std::strtol(text.c_str(), nullptr, 10);
  return true;
}

bool ParseInfo(const std::string& text, FilterInfo* info) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    size_t comma = text.find(',', start);
    parts.push_back(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (parts.size() < 3 || parts.size() > 4) return false;
  info->name = parts[0];
  if (!parts[1].empty()) info->op = parts[1];
  info->value = parts[2];
  if (parts.size() == 4 && !parts[3].empty()) info->logOp = parts[3];
  return true;
}

// `reading off`, `reading on`, `reading slow BYTES MS`: the bytes go to
// count, the pause to seconds.
bool ParseReading(ScriptCommand* cmd) {
  const std::vector<std::string>& w = cmd->words;
  if (w.size() == 1) return w[0] == "off" || w[0] == "on";
  long ms = 0;
  if (w.size() != 3 || w[0] != "slow" || !ParseCount(w[1], &cmd->count) || !ParseCount(w[2], &ms)) return false;
  cmd->seconds = static_cast<double>(ms) / 1000;
  return cmd->count >= 1 && cmd->count <= 1000000 && ms <= 60000;
}

}  // namespace

bool ParseSeconds(const std::string& text, double* seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  double v = std::strtod(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(v) || v < 0 || v > 86400) return false;
  *seconds = v;
  return true;
}

bool SplitWords(const std::string& text, std::vector<std::string>* words, std::vector<bool>* quoted) {
  words->clear();
  quoted->clear();
  size_t i = 0;
  while (i < text.size()) {
    if (text[i] == ' ' || text[i] == '\t' || text[i] == '\r') {
      ++i;
      continue;
    }
    std::string word;
    bool isQuoted = false;
    if (text[i] == '"') {
      isQuoted = true;
      ++i;
      for (;;) {
        if (i >= text.size()) return false;
        char c = text[i++];
        if (c == '"') break;
        if (c == '\\' && i < text.size() && (text[i] == '"' || text[i] == '\\')) c = text[i++];
        word += c;
      }
    } else {
      while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') word += text[i++];
    }
    words->push_back(word);
    quoted->push_back(isQuoted);
  }
  return true;
}

bool ParseScriptLine(const std::string& text, const std::string& where,
                     std::optional<ScriptCommand>* out, std::string* error) {
  out->reset();
  size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos || text[first] == '#') return true;
  auto fail = [&](const std::string& what) {
    *error = where + ": " + what;
    return false;
  };
  ScriptCommand cmd;
  cmd.where = where;
  size_t verbEnd = text.find_first_of(" \t", first);
  cmd.verb = text.substr(first, verbEnd == std::string::npos ? std::string::npos : verbEnd - first);
  if (cmd.verb == "raw" || cmd.verb == "raw-part" || cmd.verb == "note") {
    // The text after exactly one blank, verbatim (a trailing \r of a file
    // written on another system is not part of it).
    cmd.rest = verbEnd == std::string::npos ? "" : text.substr(verbEnd + 1);
    if (!cmd.rest.empty() && cmd.rest.back() == '\r') cmd.rest.pop_back();
    if (cmd.verb != "note" && cmd.rest.empty()) return fail(cmd.verb + " needs the text to send");
    *out = std::move(cmd);
    return true;
  }
  const VerbRule* rule = FindRule(cmd.verb);
  if (!rule) return fail("unknown command '" + cmd.verb + "'");
  std::vector<std::string> words;
  std::vector<bool> quoted;
  if (!SplitWords(text.substr(verbEnd == std::string::npos ? text.size() : verbEnd), &words, &quoted))
    return fail("unterminated quote");
  for (size_t i = 0; i < words.size(); ++i) {
    size_t eq = words[i].find('=');
    std::string key = eq == std::string::npos ? "" : words[i].substr(0, eq);
    if (quoted[i] || eq == std::string::npos || eq == 0 || !rule->keys.count(key)) {
      // A task command may hold '=' without quotes; elsewhere an unknown
      // key=value word is a typo worth stopping for.
      if (!quoted[i] && eq != std::string::npos && eq > 0 && cmd.verb != "task")
        return fail("unknown option '" + key + "' for " + cmd.verb);
      cmd.words.push_back(words[i]);
      continue;
    }
    std::string value = words[i].substr(eq + 1);
    if (key == "id") cmd.id = value;
    else if (key == "rsid") cmd.rsid = value;
    else if (key == "subnode") cmd.subnode = value;
    else if (key == "user") cmd.user = value;
    else if (key == "shutting-down") cmd.shuttingDown = value;
    else if (key == "info") {
      FilterInfo info;
      if (!ParseInfo(value, &info)) return fail("info must be NAME,OP,VALUE[,LOGOP]: '" + value + "'");
      cmd.info.push_back(std::move(info));
    }
  }
  int n = static_cast<int>(cmd.words.size());
  if (n < rule->minWords || n > rule->maxWords)
    return fail(cmd.verb + " takes " +
                (rule->minWords == rule->maxWords ? std::to_string(rule->minWords)
                                                  : std::to_string(rule->minWords) + " to " +
                                                        std::to_string(rule->maxWords)) +
                " argument(s), got " + std::to_string(n));
  const std::string& v = cmd.verb;
  if (v == "request") {
    bool all = false;
    for (const std::string& g : cmd.words) all = all || g == "all";
    if (cmd.id && (cmd.words.size() > 1 || all)) return fail("id= needs exactly one group");
  } else if (v == "sleep" || v == "expect-none") {
    if (!ParseSeconds(cmd.words[0], &cmd.seconds)) return fail("bad number of seconds '" + cmd.words[0] + "'");
  } else if (v == "expect" || v == "expect-event") {
    if (v == "expect" && cmd.words[0] == "all") cmd.count = -1;
    else if (!ParseCount(cmd.words[0], &cmd.count))
      return fail("bad count '" + cmd.words[0] + "'");
    if (n == 2 && !ParseSeconds(cmd.words[1], &cmd.seconds)) return fail("bad number of seconds '" + cmd.words[1] + "'");
  } else if (v == "reading") {
    if (!ParseReading(&cmd)) return fail("reading takes off, on, or slow BYTES MS (1..1000000 bytes, 0..60000 ms)");
  } else if (v == "expect-file") {
    if (!ParseCount(cmd.words[1], &cmd.count) || cmd.count < 1) return fail("bad count '" + cmd.words[1] + "'");
    if (cmd.words[2].empty()) return fail("expect-file needs the text to wait for");
    if (n == 4 && !ParseSeconds(cmd.words[3], &cmd.seconds)) return fail("bad number of seconds '" + cmd.words[3] + "'");
  } else if (v == "registration" || v == "expect-close" || v == "expect-exit") {
    if (n == 1 && !ParseSeconds(cmd.words[0], &cmd.seconds)) return fail("bad number of seconds '" + cmd.words[0] + "'");
  }
  *out = std::move(cmd);
  return true;
}

}  // namespace agentsim
