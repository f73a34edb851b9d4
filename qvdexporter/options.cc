#include "qvdexporter/options.h"

#include <cstdlib>

#include "agentside/collector_process.h"

namespace qvdexporter {

const char* UsageText() {
  return "usage: qvdexporter [FLAGS] [-- COLLECTOR [ARGS...]]\n"
         "Serves what one qvdclient collector answers as Prometheus metrics.\n"
         "  --web.listen-address=ADDR        where to serve (default 127.0.0.1:9471; :9471 is every interface)\n"
         "  --web.telemetry-path=PATH        the metrics path (default /metrics)\n"
         "  --collector.env-file=FILE        the collector's settings, NAME=VALUE lines (repeatable)\n"
         "  --collector.clean-env            start the collector with only the env files' settings\n"
         "  --collector.command=PATH         the collector (default: qvdclient beside qvdexporter)\n"
         "  --collector.output=FILE          the collector's output (default: standard error)\n"
         "  --collector.max-age=DURATION     answers younger than this are served again (default 30s)\n"
         "  --collector.timeout=DURATION     how long a scrape waits for the answers (default 5s)\n"
         "  --collector.start-timeout=DURATION  from the collector's start to its registration (default 60s)\n"
         "  --collector.max-restart-pause=DURATION  longest pause before starting it again (default 60s)\n"
         "  --collector.thousands-separator=C, --collector.decimal-separator=C  the server's (default , and .)\n"
         "  --mapping.file=FILE              another mapping of tables to metrics (default: built in)\n"
         "  --log.level=debug|info|warn|error\n"
         "  --once                           print the metrics of one round and exit (0: the collector answered)\n"
         "  --help, --version\n"
         "See docs/exporter.md.\n";
}

bool ParseDuration(const std::string& text, double* seconds) {
  if (text.empty()) return false;
  char* end = nullptr;
  double v = std::strtod(text.c_str(), &end);
  if (end == text.c_str() || v < 0) return false;
  std::string unit = end;
  double factor;
  if (unit.empty() || unit == "s") factor = 1;
  else if (unit == "ms") factor = 0.001;
  else if (unit == "m") factor = 60;
  else if (unit == "h") factor = 3600;
  else return false;
  *seconds = v * factor;
  return true;
}

bool ListeningPorts(const std::string& address, std::string* ports) {
  size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon + 1 == address.size()) return false;
  for (size_t i = colon + 1; i < address.size(); ++i)
    if (address[i] < '0' || address[i] > '9') return false;
  *ports = colon == 0 ? address.substr(1) : address;
  return true;
}

bool ParseOptions(int argc, const char* const* argv, Options* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg == "--") {
      for (++i; i < argc; ++i) o->command.push_back(argv[i]);
      break;
    }
    if (arg == "-h" || arg == "--help") {
      o->help = true;
      continue;
    }
    if (arg == "--version") {
      o->version = true;
      continue;
    }
    if (arg == "--once") {
      o->once = true;
      continue;
    }
    if (arg == "--collector.clean-env") {
      o->cleanEnv = true;
      continue;
    }
    std::string value;
    size_t eq = arg.find('=');
    if (eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    } else if (arg.compare(0, 2, "--") == 0 && i + 1 < argc) {
      value = argv[++i];
    } else {
      *error = arg.compare(0, 2, "--") == 0 ? arg + " needs a value" : "unexpected argument " + arg;
      return false;
    }
    auto duration = [&](double* out) {
      if (ParseDuration(value, out)) return true;
      *error = arg + ": not a duration: " + value;
      return false;
    };
    auto separator = [&](char* out) {
      if (value.size() == 1 && (value[0] < '0' || value[0] > '9') && value[0] != '-') {
        *out = value[0];
        return true;
      }
      *error = arg + " takes one character that is not a digit or '-'";
      return false;
    };
    if (arg == "--web.listen-address") {
      std::string ports;
      if (!ListeningPorts(value, &ports)) return *error = "--web.listen-address needs HOST:PORT or :PORT", false;
      o->listenAddress = value;
    } else if (arg == "--web.telemetry-path") {
      if (value.empty() || value[0] != '/') return *error = "--web.telemetry-path must start with /", false;
      o->telemetryPath = value;
    } else if (arg == "--collector.env-file") {
      std::vector<std::pair<std::string, std::string>> sets;
      if (!agentside::ReadEnvFile(value, &sets, error)) return false;
      for (auto& s : sets) {
        if (s.first == "CP_PORT") {
          o->warnings.push_back(value + ": CP_PORT is ignored: the exporter sets it to the port it listens on");
          continue;
        }
        o->envSets.push_back(std::move(s));
      }
      o->envFiles.push_back(value);
    } else if (arg == "--collector.command") {
      o->command = {value};
    } else if (arg == "--collector.output") {
      o->collectorOutput = value;
    } else if (arg == "--collector.max-age") {
      if (!duration(&o->maxAge)) return false;
    } else if (arg == "--collector.timeout") {
      if (!duration(&o->answerTimeout)) return false;
    } else if (arg == "--collector.start-timeout") {
      if (!duration(&o->startTimeout)) return false;
    } else if (arg == "--collector.max-restart-pause") {
      if (!duration(&o->maxRestartPause)) return false;
    } else if (arg == "--collector.thousands-separator") {
      if (!separator(&o->numbers.thousands)) return false;
    } else if (arg == "--collector.decimal-separator") {
      if (!separator(&o->numbers.decimal)) return false;
    } else if (arg == "--mapping.file") {
      o->mappingFile = value;
    } else if (arg == "--log.level") {
      if (value != "debug" && value != "info" && value != "warn" && value != "error")
        return *error = "--log.level takes debug, info, warn or error", false;
      o->logLevel = value;
    } else {
      *error = "unknown flag " + arg;
      return false;
    }
  }
  if (o->numbers.thousands == o->numbers.decimal) {
    *error = "the thousands and decimal separators must differ";
    return false;
  }
  return true;
}

}  // namespace qvdexporter
