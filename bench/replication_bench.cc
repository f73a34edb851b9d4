// Replication analysis benchmark: models a server with 100 replication
// connections and an event log of 5,000 and of 50,000 documents spread over
// the two days the first analysis reads (tools/agentsim/
// replication_log_model.h tells the model's shape).  Prints, per size:
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
#include "tools/agentsim/replication_log_model.h"

namespace {

using Json = nlohmann::json;
using Clock = std::chrono::steady_clock;

Json Model(long documents) {
  Json model = Json::object();
  agentsim::AddReplicationLog(&model, documents);
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
