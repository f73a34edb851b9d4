// qvdexporter: plays the monitoring agent for one qvdclient collector and
// serves what it answers as Prometheus metrics.  See docs/exporter.md.
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include <prometheus/exposer.h>
#include <prometheus/text_serializer.h>

#include "agentside/collector_process.h"
#include "agentside/columns.h"
#include "agentside/file_text.h"
#include "qvdexporter/collector_link.h"
#include "qvdexporter/exporter.h"
#include "qvdexporter/log.h"
#include "qvdexporter/mapping.h"
#include "qvdexporter/options.h"
#include "qvdexporter/status_file.h"
#include "state/version.h"

namespace {

using namespace qvdexporter;

// Worker threads of the HTTP server: scrapes that arrive together share one
// round, so a few threads serve many; a slow client holds one for at most
// the request timeout.
constexpr const char* kHttpThreads = "8";
constexpr const char* kRequestTimeoutMs = "10000";
constexpr const char* kMaxRequestBytes = "16384";

std::string BesideMe(const std::string& program) {
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return program;
  std::string path(self, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/') + 1) + program;
}

bool LoadMapping(const Options& o, const agentside::ColumnCatalogue& columns, Mapping* mapping) {
  std::string text = BuiltInMappingText(), where = "built-in mapping";
  if (!o.mappingFile.empty()) {
    if (!agentside::ReadFileText(o.mappingFile, &text)) {
      Log(Level::kError, "cannot read the mapping file " + o.mappingFile);
      return false;
    }
    where = o.mappingFile;
  }
  std::string error;
  if (!mapping->Parse(text, where, [&columns](const std::string& t) { return columns.Names(t); }, &error)) {
    Log(Level::kError, "mapping refused: " + error);
    return false;
  }
  return true;
}

Level ToLevel(const std::string& name) {
  if (name == "debug") return Level::kDebug;
  if (name == "warn") return Level::kWarn;
  if (name == "error") return Level::kError;
  return Level::kInfo;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  std::string error;
  if (!ParseOptions(argc, argv, &o, &error)) {
    fprintf(stderr, "qvdexporter: %s\n%s", error.c_str(), UsageText());
    return 1;
  }
  if (o.help) {
    fputs(UsageText(), stdout);
    return 0;
  }
  if (o.version) {
    printf("qvdexporter %s\n", qvdVersion());
    return 0;
  }
  SetLogLevel(ToLevel(o.logLevel));
  for (const std::string& w : o.warnings) Log(Level::kWarn, w);
  agentside::ColumnCatalogue columns;
  Mapping mapping;
  if (!LoadMapping(o, columns, &mapping)) return 1;

  // The signals that stop the exporter are taken by sigwait() below, so
  // every thread started from here on has them blocked; the collector
  // starts with them unblocked again.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  signal(SIGPIPE, SIG_IGN);

  LinkOptions link;
  link.command = o.command.empty() ? std::vector<std::string>{BesideMe("qvdclient")} : o.command;
  link.envSets = o.envSets;
  link.cleanEnv = o.cleanEnv;
  link.collectorOutput = o.collectorOutput;
  link.startTimeout = o.startTimeout;
  link.answerTimeout = o.answerTimeout;
  link.maxPause = o.maxRestartPause;
  link.restart = !o.once;

  ExporterOptions eo;
  eo.maxAge = o.once ? 1e9 : o.maxAge;
  eo.scrapeWait = o.answerTimeout + 1;
  eo.numbers = o.numbers;
  eo.statusFile = StatusFilePath(agentside::BuildEnvironment(o.cleanEnv, 0, o.envSets, {}));
  auto exporter = std::make_shared<Exporter>(&mapping, eo);
  CollectorLink collectorLink(link, exporter.get(), &columns);
  exporter->SetLink(&collectorLink);

  if (o.once) {
    if (!collectorLink.Start(&error)) {
      Log(Level::kError, error);
      return 1;
    }
    bool answered = exporter->WaitFirstRound(o.startTimeout + o.answerTimeout + 5);
    std::vector<prometheus::MetricFamily> families = exporter->Collect();
    collectorLink.Stop();
    prometheus::TextSerializer().Serialize(std::cout, families);
    std::cout.flush();
    return answered ? 0 : 1;
  }

  std::string ports;
  ListeningPorts(o.listenAddress, &ports);
  std::unique_ptr<prometheus::Exposer> exposer;
  try {
    exposer = std::make_unique<prometheus::Exposer>(std::vector<std::string>{
        "listening_ports", ports, "num_threads", kHttpThreads, "request_timeout_ms", kRequestTimeoutMs,
        "max_request_size", kMaxRequestBytes});
    exposer->RegisterCollectable(exporter, o.telemetryPath);
  } catch (const std::exception& e) {
    Log(Level::kError, "cannot serve on " + o.listenAddress + ": " + e.what());
    return 1;
  }
  Log(Level::kInfo, "qvdexporter " + std::string(qvdVersion()) + " serving " + o.telemetryPath + " on " +
                        o.listenAddress + "; collector " + link.command[0]);
  if (!collectorLink.Start(&error)) {
    Log(Level::kError, error);
    return 1;
  }
  int sig = 0;
  sigwait(&stopSignals, &sig);
  Log(Level::kInfo, std::string("stopping on ") + strsignal(sig));
  exposer.reset();
  Log(Level::kDebug, "HTTP server stopped");
  collectorLink.Stop();
  Log(Level::kInfo, "stopped");
  return 0;
}
