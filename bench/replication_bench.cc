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
//
// Then the catch-up case: the same log with every one of the 100
// connections replicating every minute (the range 12:00 AM - 11:59 PM,
// interval 1), nothing of it logged, so each connection misses 1439 slots a
// day.  One collector is asked, request after request, until it has caught
// up with the day before its clock; then its clock moves on a week (the
// table not asked for a week) and it is asked until it has caught up again.
// Printed per phase: the answers, their rows (bounded per answer), the
// slowest and the total time as the stand-in agent measures them, and the
// collector's peak resident memory during the phase (VmHWM of
// /proc/<pid>/status, reset between the phases).  REPL_BENCH_CATCHUP=0 skips
// it.
//
// REPL_BENCH_CALLS=1 also prints the server calls of one in-process run;
// REPL_BENCH_TRACE=<levels> runs the collector with those trace levels and
// prints the lines that mark the phases of its answer, e.g.
// "error,core/dispatch=detail,replication/request=detail".
#include <stdlib.h>
#include <unistd.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <iterator>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "replication/repl_records.h"
#include "replication/repl_request.h"
#include "serverapi/qvd_api.h"
#include "sim/vaxel_sim.h"
#include "state/globals.h"
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

// --- The catch-up case -------------------------------------------------

// The replication log's model with every connection replicating every
// minute all day.
Json EveryMinuteModel(long documents) {
  Json model = Model(documents);
  for (Json& doc : model["databases"]["names.vdb"]["documents"]) {
    Json& items = doc["items"];
    if (items.value("Form", "") != "Connection") continue;
    items["Schedule"] = "12:00 AM - 11:59 PM";
    items["Interval"] = {{"number", 1}};
  }
  return model;
}

// A figure of /proc/<pid>/status in kB, or -1.
long StatusKb(pid_t pid, const char* field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  size_t n = strlen(field);
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
      return strtol(line.c_str() + n + 1, nullptr, 10);
  return -1;
}

// Starts the peak resident memory of `pid` afresh.
void ResetPeak(pid_t pid) {
  std::ofstream out("/proc/" + std::to_string(pid) + "/clear_refs");
  out << "5\n";
}

// Complete lines appended to a file since the last call.
class LineFollower {
 public:
  explicit LineFollower(std::string path) : path_(std::move(path)) {}
  std::vector<std::string> Next() {
    std::vector<std::string> lines;
    std::ifstream in(path_, std::ios::binary);
    if (!in) return lines;
    in.seekg(static_cast<std::streamoff>(offset_));
    std::string chunk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t start = 0;
    for (size_t end; (end = chunk.find('\n', start)) != std::string::npos; start = end + 1)
      lines.push_back(chunk.substr(start, end - start));
    offset_ += start;
    return lines;
  }

 private:
  std::string path_;
  size_t offset_ = 0;
};

struct Phase {
  std::vector<size_t> rows;
  std::vector<double> ms;
  long peakKb = -1;
};

void PrintPhase(const char* name, const Phase& p) {
  size_t total = 0;
  double slowest = 0, sum = 0;
  for (size_t r : p.rows) total += r;
  for (double m : p.ms) {
    slowest = std::max(slowest, m);
    sum += m;
  }
  printf("%-5s %8zu answers %9zu rows  slowest %8.1f ms  total %9.1f ms  peak %8ld kB\n", name,
         p.rows.size(), total, slowest, sum, p.peakKb);
  printf("      rows per answer:");
  for (size_t r : p.rows) printf(" %zu", r);
  printf("\n");
}

// Runs the catch-up case against a model of `documents` log documents.
void CatchUp(long documents) {
  char tmpl[] = "/tmp/replbench-XXXXXX";
  std::string dir = mkdtemp(tmpl);
  Json model = EveryMinuteModel(documents);
  std::ofstream(dir + "/server.json") << model.dump();
  std::string bin = getenv("QVD_BIN_DIR") ? getenv("QVD_BIN_DIR") : "build/bin";
  std::string root = dir + "/install";
  std::string cmd = "mkdir -p " + root + "/home/linux64/vd/bin " + root + "/home/config " + root +
                    "/ini && printf '[Vaxel]\\n' > " + root + "/ini/vaxel.ini && printf '#!/bin/sh\\n' > " +
                    root + "/home/linux64/vd/bin/qvdstart.sh";
  if (system(cmd.c_str()) != 0) return;
  std::ofstream env(root + "/run.env");
  env << "QVD_SERVER=srv1/acme\nQVD_VAXELINIPATH=" << root << "/ini\nHALCYONHOME=" << root
      << "/home\nQVD_BINARCH=linux64\nQVD_INSTANCE_NAME=bench\nVAXEL_SIM_DIR=" << dir
      << "\nQVD_LOG_VDB_MONITOR=ON\nQVD_TRACE_FILE=" << root << "/trace\nQVD_TRACE="
      << (getenv("REPL_BENCH_TRACE") ? getenv("REPL_BENCH_TRACE") : "error") << "\n";
  env.close();
  // More requests than the two phases need; the ones after the week has
  // been caught up with answer at once without rows.
  std::ofstream script(root + "/script");
  for (int i = 0; i < 90; ++i) script << "request Velora_Replication\nexpect all 900\nsleep 1\n";
  script.close();
  std::string report = root + "/report.json";
  cmd = bin + "/agentsim --format json --clean-env --env-file " + root + "/run.env --timeout 900 " +
        "--collector-output " + root + "/out --script " + root + "/script --output " + report +
        " -- " + bin + "/qvdclient";
  std::atomic<int> status{-1};
  std::thread agent([&] { status = system(cmd.c_str()); });

  // Phase 0: the day before the clock; phase 1: the week after it moved.
  Phase phases[2];
  int phase = 0;
  pid_t pid = 0;
  LineFollower follow(report);
  const size_t kCap = 20000;
  bool done = false;
  while (!done) {
    bool ended = status != -1;
    for (const std::string& line : follow.Next()) {
      Json e = Json::parse(line, nullptr, false);
      if (!e.is_object()) continue;
      if (e.value("type", "") == "started") pid = e.value("pid", 0);
      if (e.value("type", "") != "data" || e.value("group", "") != "Velora_Replication") continue;
      size_t rows = e["rows"].size();
      phases[phase].rows.push_back(rows);
      phases[phase].ms.push_back(e.value("ms", -1.0));
      if (rows >= kCap || done) continue;
      // Caught up.
      phases[phase].peakKb = pid > 0 ? StatusKb(pid, "VmHWM") : -1;
      if (phase == 0) {
        if (pid > 0) ResetPeak(pid);
        // The server has written its log meanwhile.
        model["clock"]["fixed"] = "12/13/2026 10:00:00 AM";
        model["databases"]["log.vdb"]["modified"] = "12/13/2026 09:59:00 AM";
        std::ofstream(dir + "/server.json.new") << model.dump();
        if (rename((dir + "/server.json.new").c_str(), (dir + "/server.json").c_str()) != 0) perror("rename");
        phase = 1;
      } else {
        done = true;
      }
    }
    if (ended) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  agent.join();
  if (!done) fprintf(stderr, "catch-up: the collector did not catch up (agentsim status %d)\n", status.load());
  printf("\ncatch-up: 100 connections every minute, %ld log documents; at most %zu rows an answer\n",
         documents, kCap);
  PrintPhase("day", phases[0]);
  PrintPhase("week", phases[1]);
  std::string rm = "rm -rf '" + dir + "'";
  if (getenv("REPL_BENCH_KEEP") != nullptr) {
    fprintf(stderr, "model kept in %s\n", dir.c_str());
  } else if (system(rm.c_str()) != 0) {
    perror("rm");
  }
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
  const char* catchUp = getenv("REPL_BENCH_CATCHUP");
  if (catchUp == nullptr || strcmp(catchUp, "0") != 0) CatchUp(5000);
  return 0;
}
