// Scrapes of qvdexporter with every table fresh: the exporter runs the real
// collector against the example model with --collector.max-age=0s, so that
// each scrape is a full round (one request for every registered table, the
// answers converted), made one after another.  Prints the p50, p99 and
// maximum of a scrape, the size of the exposition and the exporter's
// resident memory.  A benchmark, not a test: it asserts nothing.
//
// usage: exporter_bench [SCRAPES]   (default 1000)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "e2e_testutil.h"
#include "exporter_testutil.h"

namespace {

long StatusKb(pid_t pid, const std::string& field) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(in, line);)
    if (line.compare(0, field.size() + 1, field + ":") == 0) return std::strtol(line.c_str() + field.size() + 1, nullptr, 10);
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  int scrapes = argc > 1 ? std::atoi(argv[1]) : 1000;
  setenv("QVD_SOURCE_DIR", QVD_BENCH_SOURCE_DIR, 0);
  setenv("QVD_BIN_DIR", QVD_BENCH_BIN_DIR, 0);
  e2e::Install install;
  e2e::CopyExampleModel(install);
  auto env = install.env();
  env["QVD_TRACE"] = "error";
  env["QVD_LOG_VDB_MONITOR"] = "ON";
  env["QVD_VELORA_GROUP_MONITOR"] = "ON";
  std::string envFile = install.root() + "/collector.env";
  e2e::WriteEnvFile(envFile, env);
  int port = e2e::freePort();
  e2e::ExporterProcess exporter(install, {"--web.listen-address=127.0.0.1:" + std::to_string(port),
                                          "--collector.env-file", envFile, "--collector.max-age=0s",
                                          "--collector.command=" + std::string(QVD_BENCH_BIN_DIR) + "/qvdclient"});
  std::string body;
  if (!e2e::WaitUntil([&] { return e2e::HttpGet(port, "/metrics", &body) == 200 && e2e::SampleOf(body, "velora_up") == 1; },
                      60)) {
    fprintf(stderr, "exporter_bench: the exporter did not come up\n%s", exporter.log().c_str());
    return 1;
  }
  long rssStart = StatusKb(exporter.pid(), "VmRSS");
  for (int i = 0; i < 20; ++i) e2e::HttpGet(port, "/metrics", &body);
  double roundsBefore = e2e::SampleOf(body, "qvdexporter_collector_rounds_total");
  std::vector<double> ms;
  int failed = 0;
  for (int i = 0; i < scrapes; ++i) {
    auto t0 = std::chrono::steady_clock::now();
    int code = e2e::HttpGet(port, "/metrics", &body);
    auto t1 = std::chrono::steady_clock::now();
    if (code != 200) ++failed;
    ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
  }
  std::sort(ms.begin(), ms.end());
  auto at = [&ms](double q) { return ms[std::min(ms.size() - 1, static_cast<size_t>(q * ms.size()))]; };
  double rounds = e2e::SampleOf(body, "qvdexporter_collector_rounds_total") - roundsBefore;
  printf("exporter_bench: %d scrapes with every table fresh (%.0f rounds of requests), %d failed\n", scrapes, rounds,
         failed);
  size_t samples = 0;
  for (size_t p = 0; p < body.size(); p = body.find('\n', p) + 1) {
    if (body[p] != '#' && body[p] != '\n') ++samples;
    if (body.find('\n', p) == std::string::npos) break;
  }
  printf("exporter_bench: scrape p50 %.2f ms  p99 %.2f ms  max %.2f ms  (%zu bytes, %zu samples)\n", at(0.50),
         at(0.99), ms.back(), body.size(), samples);
  printf("exporter_bench: exporter resident memory %ld kB at the start, %ld kB after, peak %ld kB\n", rssStart,
         StatusKb(exporter.pid(), "VmRSS"), StatusKb(exporter.pid(), "VmHWM"));
  printf("exporter_bench: collector resident memory %ld kB\n", StatusKb(exporter.collectorPid(), "VmRSS"));
  exporter.Stop();
  return failed == 0 ? 0 : 1;
}
