#include "tools/agentsim/options.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <iostream>

#include "tools/agentsim/agentside.h"

namespace agentsim {

namespace {

bool ToLong(const std::string& text, long low, long high, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *out = v;
  return true;
}

bool AddLine(const std::string& text, const std::string& where, Options* opts, std::string* error) {
  std::optional<ScriptCommand> cmd;
  if (!ParseScriptLine(text, where, &cmd, error)) return false;
  if (cmd) opts->script.push_back(std::move(*cmd));
  return true;
}

bool AddScriptFile(const std::string& path, Options* opts, std::string* error) {
  std::ifstream file;
  std::istream* in = &std::cin;
  if (path != "-") {
    file.open(path);
    if (!file) {
      *error = "cannot read script " + path;
      return false;
    }
    in = &file;
  }
  std::string line;
  int lineNo = 0;
  while (std::getline(*in, line)) {
    ++lineNo;
    if (!AddLine(line, path + ":" + std::to_string(lineNo), opts, error)) return false;
  }
  return true;
}

}  // namespace

const char* UsageText() {
  return "usage: agentsim [OPTIONS] [-- COMMAND [ARGS...]]\n"
         "  --port N  --port-file FILE  --env NAME=VALUE  --env-file FILE  --unset NAME\n"
         "  --clean-env  --collector-output FILE  --accept-timeout SEC  --expect-status N\n"
         "  --script FILE  -e|--do LINE  --request GROUP  --task COMMAND\n"
         "  --end shutdown|close|wait|kill  --wait-exit SEC  --timeout SEC  --columns FILE\n"
         "  --format table|raw|json  --show-sent  --output FILE\n"
         "  --bench  --bench-requests N  --bench-bursts N  --bench-group GROUP  --bench-unanswered N\n"
         "  --bench-slow-member NAME=MS  --bench-replication-log N\n"
         "  --soak SEC  --soak-interval SEC  --soak-model DIR  --soak-change SEC  --soak-feed FILE\n"
         "  --soak-event-every SEC  --soak-relay-kill SEC  --soak-call-log FILE  --soak-pause SEC\n"
         "See tools/agentsim/README.md for the script language and the output formats.\n";
}

bool ParseOptions(int argc, const char* const* argv, Options* opts, std::string* error) {
  int lineNo = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      for (++i; i < argc; ++i) opts->command.push_back(argv[i]);
      break;
    }
    if (arg == "-h" || arg == "--help") {
      opts->help = true;
      continue;
    }
    // Flags without a value.
    if (arg == "--clean-env") {
      opts->cleanEnv = true;
      continue;
    }
    if (arg == "--show-sent") {
      opts->showSent = true;
      continue;
    }
    if (arg == "--bench") {
      opts->bench = true;
      continue;
    }
    // Options with a value: "--opt value" or "--opt=value".
    std::string value;
    size_t eq = arg.find('=');
    if (arg.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    } else {
      static const char* const kValued[] = {
          "--port", "--port-file", "--env", "--env-file", "--unset", "--collector-output",
          "--accept-timeout", "--expect-status", "--script", "-e", "--do", "--request", "--task", "--end",
          "--wait-exit", "--timeout", "--columns", "--format", "--output", "--bench-requests",
          "--bench-bursts", "--bench-group", "--bench-unanswered", "--bench-slow-member", "--soak",
          "--soak-interval", "--soak-model", "--soak-change", "--soak-feed", "--soak-event-every",
          "--soak-relay-kill", "--soak-call-log", "--soak-pause", "--bench-replication-log"};
      bool valued = false;
      for (const char* k : kValued) valued = valued || arg == k;
      if (!valued) {
        *error = "unknown option " + arg;
        return false;
      }
      if (i + 1 >= argc) {
        *error = arg + " needs a value";
        return false;
      }
      value = argv[++i];
    }
    long n = 0;
    if (arg == "--port") {
      if (!ToLong(value, 0, 65535, &n)) return *error = "bad port " + value, false;
      opts->port = static_cast<int>(n);
    } else if (arg == "--port-file") {
      opts->portFile = value;
    } else if (arg == "--env") {
      size_t e = value.find('=');
      if (e == std::string::npos || e == 0) return *error = "--env needs NAME=VALUE, got " + value, false;
      opts->envSets.emplace_back(value.substr(0, e), value.substr(e + 1));
    } else if (arg == "--env-file") {
      if (!ReadEnvFile(value, &opts->envSets, error)) return false;
    } else if (arg == "--unset") {
      opts->envUnsets.push_back(value);
    } else if (arg == "--collector-output") {
      opts->collectorOutput = value;
    } else if (arg == "--accept-timeout") {
      if (!ParseSeconds(value, &opts->acceptTimeout)) return *error = "bad seconds " + value, false;
    } else if (arg == "--expect-status") {
      if (!ToLong(value, 0, 255, &n)) return *error = "bad exit status " + value, false;
      opts->expectStatus = static_cast<int>(n);
    } else if (arg == "--script") {
      if (!AddScriptFile(value, opts, error)) return false;
    } else if (arg == "-e" || arg == "--do") {
      if (!AddLine(value, "-e #" + std::to_string(++lineNo), opts, error)) return false;
    } else if (arg == "--request") {
      std::string where = "--request #" + std::to_string(++lineNo);
      if (!AddLine("request " + value, where, opts, error) || !AddLine("expect all", where, opts, error))
        return false;
    } else if (arg == "--task") {
      std::string quoted = "\"";
      for (char c : value) {
        if (c == '"' || c == '\\') quoted += '\\';
        quoted += c;
      }
      quoted += '"';
      std::string where = "--task #" + std::to_string(++lineNo);
      if (!AddLine("task " + quoted, where, opts, error) || !AddLine("expect all", where, opts, error))
        return false;
    } else if (arg == "--end") {
      if (value == "shutdown") opts->end = EndAction::kShutdown;
      else if (value == "close") opts->end = EndAction::kClose;
      else if (value == "wait") opts->end = EndAction::kWait;
      else if (value == "kill") opts->end = EndAction::kKill;
      else return *error = "--end takes shutdown, close, wait or kill", false;
    } else if (arg == "--wait-exit") {
      if (!ParseSeconds(value, &opts->waitExit)) return *error = "bad seconds " + value, false;
    } else if (arg == "--timeout") {
      if (!ParseSeconds(value, &opts->timeout)) return *error = "bad seconds " + value, false;
    } else if (arg == "--columns") {
      opts->columnsFile = value;
    } else if (arg == "--format") {
      if (value == "table") opts->format = Format::kTable;
      else if (value == "raw") opts->format = Format::kRaw;
      else if (value == "json") opts->format = Format::kJson;
      else return *error = "--format takes table, raw or json", false;
    } else if (arg == "--output") {
      opts->output = value;
    } else if (arg == "--bench-requests") {
      if (!ToLong(value, 1, 100000000, &opts->benchRequests)) return *error = "bad count " + value, false;
    } else if (arg == "--bench-bursts") {
      if (!ToLong(value, 1, 1000000, &opts->benchBursts)) return *error = "bad count " + value, false;
    } else if (arg == "--bench-unanswered") {
      if (!ToLong(value, 0, 100000000, &opts->benchUnanswered)) return *error = "bad count " + value, false;
    } else if (arg == "--soak") {
      if (!ParseSeconds(value, &opts->soakSeconds) || opts->soakSeconds <= 0)
        return *error = "bad seconds " + value, false;
    } else if (arg == "--soak-interval") {
      if (!ParseSeconds(value, &opts->soakInterval) || opts->soakInterval <= 0)
        return *error = "bad seconds " + value, false;
    } else if (arg == "--soak-change") {
      if (!ParseSeconds(value, &opts->soakChange)) return *error = "bad seconds " + value, false;
    } else if (arg == "--soak-event-every") {
      if (!ParseSeconds(value, &opts->soakEventEvery)) return *error = "bad seconds " + value, false;
    } else if (arg == "--soak-relay-kill") {
      if (!ParseSeconds(value, &opts->soakRelayKill)) return *error = "bad seconds " + value, false;
    } else if (arg == "--soak-pause") {
      if (!ParseSeconds(value, &opts->soakPause)) return *error = "bad seconds " + value, false;
    } else if (arg == "--soak-model") {
      opts->soakModel = value;
    } else if (arg == "--soak-feed") {
      opts->soakFeed = value;
    } else if (arg == "--soak-call-log") {
      opts->soakCallLog = value;
    } else if (arg == "--bench-replication-log") {
      if (!ToLong(value, 0, 10000000, &opts->benchReplicationLog)) return *error = "bad count " + value, false;
    } else if (arg == "--bench-group") {
      opts->benchGroups.push_back(value);
    } else if (arg == "--bench-slow-member") {
      size_t e = value.rfind('=');
      if (e == std::string::npos || e == 0 || !ToLong(value.substr(e + 1), 0, 600000, &n))
        return *error = "--bench-slow-member needs NAME=MS (0..600000), got " + value, false;
      opts->benchSlowMembers.emplace_back(value.substr(0, e), n);
    } else {
      *error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

}  // namespace agentsim
