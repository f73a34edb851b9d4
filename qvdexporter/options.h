// qvdexporter's command line (see docs/exporter.md).
//
// Flags follow the Prometheus exporters' style: --web.listen-address,
// --web.telemetry-path, --collector.* for the collector, each as
// "--flag=value" or "--flag value".  Durations are a number with an
// optional unit: "30s", "1.5s", "500ms", "2m" (a plain number is seconds).
//
// Thread-safety: pure functions.
#ifndef QVD_QVDEXPORTER_OPTIONS_H_
#define QVD_QVDEXPORTER_OPTIONS_H_

#include <string>
#include <utility>
#include <vector>

#include "qvdexporter/number.h"

namespace qvdexporter {

// The port qvdexporter listens on unless told otherwise: in the range the
// Prometheus exporters use, and taken by none of the common ones.
constexpr int kDefaultPort = 9471;

struct Options {
  std::string listenAddress = "127.0.0.1:" + std::to_string(kDefaultPort);
  std::string telemetryPath = "/metrics";
  std::vector<std::string> envFiles;
  // --collector.env-file settings in order (CP_PORT removed).
  std::vector<std::pair<std::string, std::string>> envSets;
  bool cleanEnv = false;
  std::vector<std::string> command;  // empty: qvdclient beside qvdexporter
  std::string collectorOutput;
  double maxAge = 30;
  double answerTimeout = 5;
  double startTimeout = 60;
  double maxRestartPause = 60;
  NumberFormat numbers;
  std::string mappingFile;
  std::string logLevel = "info";
  bool once = false;
  bool help = false;
  bool version = false;
  // Warnings for the log (an env file that sets CP_PORT).
  std::vector<std::string> warnings;
};

// Parses argv; everything after "--" is the collector's command.  Returns
// false with *error set for a usage error or an unreadable env file.
bool ParseOptions(int argc, const char* const* argv, Options* options, std::string* error);

// "30s", "500ms", "2m", "1.5" into seconds; false for anything else or a
// negative value.
bool ParseDuration(const std::string& text, double* seconds);

// The civetweb form of a listen address: "127.0.0.1:9471" stays,
// "[::1]:9471" stays, ":9471" (every interface) becomes "9471".  False for
// an address without a port.
bool ListeningPorts(const std::string& address, std::string* ports);

const char* UsageText();

}  // namespace qvdexporter

#endif  // QVD_QVDEXPORTER_OPTIONS_H_
