// Replication analysis benchmark: models a server with 100 replication
// connections (one daily time, a list of four times, a range once and a
// range repeated hourly, 25 each) and an event log of 5,000 and of 50,000
// documents spread over the two days the first analysis reads (nine in ten
// replication log documents, one in ten event documents with five
// "Starting replication" lines).  Prints, per size:
//   - the time of the analysis in this process (get_replication_request),
//     best and median of 5 runs and the least processor time of a run
//     (the figure to compare on a busy machine), with the rows it found;
//   - the time of one Velora_Replication answer of the real collector, as
//     the stand-in agent measures it from request to answer (fresh
//     collector, first request), the rows' way through the agent link
//     included.
// Document counts may be given as arguments; the default is 5000 50000.
// REPL_BENCH_CALLS=1 also prints the server calls of one in-process run;
// REPL_BENCH_TRACE=<levels> runs the collector with those trace levels and
// prints the lines that mark the phases of its answer, e.g.
// "error,core/dispatch=detail,replication/request=detail".
#include <stdlib.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/globals.h"
#include "replication/repl_records.h"
#include "replication/repl_request.h"
#include "serverapi/qvd_api.h"
#include "sim/vaxel_sim.h"

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

constexpr int kConnections = 100;
const char kNow[] = "12/06/2026 10:00:00 AM";

std::string Stamp(int dayOffset, int secondOfDay) {
  // Days 4, 5 and 6 of December 2026.
  int day = 6 + dayOffset, h = secondOfDay / 3600, m = secondOfDay / 60 % 60, s = secondOfDay % 60;
  char text[40];
  snprintf(text, sizeof text, "12/%02d/2026 %02d:%02d:%02d %s", day, h % 12 == 0 ? 12 : h % 12, m, s,
           h < 12 ? "AM" : "PM");
  return text;
}

// A time from 12/04 10:00 AM to 12/06 10:00 AM, spread evenly.
std::string Spread(long i, long n) {
  long second = 10 * 3600 + (2L * 86400 - 60) * i / n;
  return Stamp(static_cast<int>(second / 86400) - 2, static_cast<int>(second % 86400));
}

Json Model(long documents) {
  Json names = Json::array(), ids = Json::array();
  for (int c = 0; c < kConnections; ++c) {
    Json items = {{"Form", "Connection"},
                  {"Source", "CN=srv1/O=acme"},
                  {"Destination", "CN=srv" + std::to_string(c + 2) + "/O=acme"},
                  {"Enabled", {{"number", 1}}},
                  {"RepTask", {{"number", 1}}},
                  {"WeekDays", {"1", "2", "3", "4", "5", "6", "7"}}};
    switch (c % 4) {
      case 0: items["Schedule"] = "08:00 AM"; break;
      case 1: items["Schedule"] = "06:00 AM;10:00 AM;02:00 PM;06:00 PM"; break;
      case 2: items["Schedule"] = "10:00 PM - 02:00 AM"; break;
      default:
        items["Schedule"] = "07:00 AM - 10:00 PM";
        items["Interval"] = {{"number", 60}};
    }
    names.push_back({{"id", 8193 + c}, {"items", items}});
    ids.push_back(8193 + c);
  }
  Json log = Json::array();
  for (long i = 0; i < documents; ++i) {
    std::string partner = "srv" + std::to_string(i % kConnections + 2) + "/acme";
    std::string start = Spread(i, documents);
    if (i % 10 == 9) {
      Json lines = Json::array();
      for (int k = 0; k < 5; ++k)
        lines.push_back(Spread(i - k, documents) + " Starting replication with server srv" +
                        std::to_string((i + k) % kConnections + 2) + "/acme");
      log.push_back({{"id", 4097 + i}, {"modified", start}, {"items", {{"Form", "Events"}, {"EventList", lines}}}});
      continue;
    }
    log.push_back({{"id", 4097 + i},
                   {"modified", start},
                   {"items",
                    {{"Form", "Replication"},
                     {"Server", "CN=srv1/O=acme"},
                     {"InitiatedBy", "CN=srv1/O=acme"},
                     {"SourceServer", partner},
                     {"StartTime", {{"time", start}}},
                     {"FinishTime", {{"time", start}}},
                     {"EventList", {"Pulling mail/user" + std::to_string(i % 300) + ".vdb", "Pulled 3 documents"}},
                     {"Body", "mail/user" + std::to_string(i % 300) + ".vdb: 3 added"}}}});
  }
  Json model;
  model["clock"]["fixed"] = kNow;
  model["databases"]["log.vdb"]["modified"] = kNow;
  model["databases"]["log.vdb"]["documents"] = log;
  model["databases"]["names.vdb"]["views"]["$Connections"]["documents"] = ids;
  model["databases"]["names.vdb"]["documents"] = names;
  return model;
}

double CpuMs() {
  struct timespec t;
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

double Ms(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// The analysis in this process: best and median of `runs`.
void InProcess(const std::string& dir, double* best, double* median, double* cpu, size_t* rows) {
  setenv("VAXEL_SIM_DIR", dir.c_str(), 1);
  vaxelsim_reset();
  _ServerInfoBlock info;
  memset(&info, 0, sizeof info);
  strcpy(info.serverNameCanonical, "CN=srv1/O=acme");
  strcpy(info.serverNameAbbr, "srv1/acme");
  QVD_VxGetIntlSettings(&info.intlSettings, sizeof info.intlSettings);
  VxDbHandle db = 0;  // reads the model before the clock starts
  if (QVD_VxDbOpen("log.vdb", &db) == 0) QVD_VxDbClose(db);
  std::vector<double> times, cpus;
  for (int run = 0; run < 5; ++run) {
    replRequest request = {};
    request.useStartDate = 1;
    QVD_VxCurrentTime(&request.startDate);
    QVD_VxTimeAdjust(&request.startDate, 0, 0, 0, -1, 0, 0);
    replResult* list = nullptr;
    double c0 = CpuMs();
    auto t0 = Clock::now();
    get_replication_request(&list, request, &info);
    auto t1 = Clock::now();
    cpus.push_back(CpuMs() - c0);
    times.push_back(Ms(t0, t1));
    *rows = 0;
    for (replResult* r = list; r != nullptr; r = r->next) ++*rows;
    free_replResult(list);
  }
  if (getenv("REPL_BENCH_CALLS") != nullptr) {
    for (const char* e : {"VxTextToTime", "VxTimeCompare", "VxTimeDifference", "VxTranslate",
                          "VxDocOpen", "VxItemScan", "VxItemGetText", "VxTimeToText",
                          "VxListEntryText", "VxNameAbbreviate", "VxShouldTerminate",
                          "VxTimeAdjust", "VxTimeBreakDown", "VxTimeAssemble", "VxDocClose"})
      fprintf(stderr, "%s %lu\n", e, vaxelsim_call_count(e) / 5);
  }
  std::sort(times.begin(), times.end());
  std::sort(cpus.begin(), cpus.end());
  *cpu = cpus.front();
  *best = times.front();
  *median = times[times.size() / 2];
}

// One answer of the real collector under agentsim; -1 when it failed.
double EndToEnd(const std::string& dir, size_t* rows) {
  std::string bin = getenv("QVD_BIN_DIR") ? getenv("QVD_BIN_DIR") : "build/bin";
  std::string root = dir + "/install";
  std::string cmd = "mkdir -p " + root + "/home/linux64/vd/bin " + root + "/home/config " + root +
                    "/ini && printf '[Vaxel]\\n' > " + root + "/ini/vaxel.ini && printf '#!/bin/sh\\n' > " +
                    root + "/home/linux64/vd/bin/qvdstart.sh";
  if (system(cmd.c_str()) != 0) return -1;
  std::ofstream env(root + "/run.env");
  env << "QVD_SERVER=srv1/acme\nQVD_VAXELINIPATH=" << root << "/ini\nHALCYONHOME=" << root
      << "/home\nQVD_BINARCH=linux64\nQVD_INSTANCE_NAME=bench\nVAXEL_SIM_DIR=" << dir
      << "\nQVD_LOG_VDB_MONITOR=ON\nQVD_TRACE_FILE=" << root << "/trace\nQVD_TRACE="
      << (getenv("REPL_BENCH_TRACE") ? getenv("REPL_BENCH_TRACE") : "error") << "\n";
  env.close();
  std::string report = root + "/report.json";
  cmd = bin + "/agentsim --format json --clean-env --env-file " + root + "/run.env --timeout 120 " +
        "--collector-output " + root + "/out -e registration -e 'request Velora_Replication' " +
        "-e 'expect all' --output " + report + " -- " + bin + "/qvdclient";
  if (system(cmd.c_str()) != 0) return -1;
  std::ifstream in(report);
  for (std::string line; std::getline(in, line);) {
    Json e = Json::parse(line, nullptr, false);
    if (e.is_object() && e.value("type", "") == "data" && e.value("group", "") == "Velora_Replication") {
      *rows = e["rows"].size();
      return e["ms"].get<double>();
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  setenv("TZ", "UTC", 1);
  std::vector<long> sizes;
  for (int i = 1; i < argc; ++i) sizes.push_back(atol(argv[i]));
  if (sizes.empty()) sizes = {5000, 50000};
  printf("%10s %10s %10s %10s %8s %13s %8s\n", "documents", "best ms", "median ms", "cpu ms",
         "rows", "collector ms", "rows");
  for (long n : sizes) {
    char tmpl[] = "/tmp/replbench-XXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::ofstream(dir + "/server.json") << Model(n).dump();
    double best = 0, median = 0, cpu = 0, collector = 0;
    size_t rows = 0, answerRows = 0;
    InProcess(dir, &best, &median, &cpu, &rows);
    collector = EndToEnd(dir, &answerRows);
    printf("%10ld %10.1f %10.1f %10.1f %8zu %13.1f %8zu\n", n, best, median, cpu, rows, collector,
           answerRows);
    fflush(stdout);
    if (getenv("REPL_BENCH_TRACE") != nullptr) {
      std::string show = "grep -E 'received request|DatabasePath|freeing logResult|timed wait' " +
                         dir + "/install/trace | tail -6";
      if (system(show.c_str()) != 0) perror("grep");
    }
    std::string rm = "rm -rf '" + dir + "'";
    if (getenv("REPL_BENCH_KEEP") != nullptr) {
      fprintf(stderr, "model kept in %s\n", dir.c_str());
    } else if (system(rm.c_str()) != 0) {
      perror("rm");
    }
  }
  return 0;
}
