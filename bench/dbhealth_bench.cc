// Database health: the cost of one check cycle over many databases (pauses
// off, so the figure is the collector's and the simulated server's work),
// of comparing large group snapshots, and of publishing a full list.
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "dbhealth/check_database.h"
#include "dbhealth/check_updates.h"
#include "dbhealth/vaxel_api_util.h"
#include "framework/trace.h"
#include "sim/vaxel_sim.h"

namespace {

const char kServer[] = "CN=srv1/O=acme";

// A model of `n` databases in 100 folders, every tenth one not a database.
std::string MakeModel(int n) {
  char dir[] = "/tmp/qvd-dbbench-XXXXXX";
  std::string path = mkdtemp(dir);
  std::string json = "{\"databases\": {";
  for (int i = 0; i < n; ++i) {
    json += (i ? ",\"" : "\"") + std::string("mail") + std::to_string(i % 100) + "/db" +
            std::to_string(i) + ".vdb\": " + (i % 10 == 0 ? "{\"open\": 513}" : "{}");
  }
  json += "}}";
  FILE* f = fopen((path + "/server.json").c_str(), "w");
  fputs(json.c_str(), f);
  fclose(f);
  setenv("VAXEL_SIM_DIR", path.c_str(), 1);
  vaxelsim_reset();
  return path;
}

void BM_CheckCycle(benchmark::State& state) {
  setenv("QVD_TRACE", "none", 1);
  TraceReload();
  std::string dir = MakeModel((int)state.range(0));
  DbCheckPace pace{0, 15};
  for (auto _ : state) {
    VeloraConfigParser parser(kServer, "*", "mail7");
    benchmark::DoNotOptimize(runDatabaseCheckCycle(kServer, &parser, nullptr, pace));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  std::string cmd = "rm -rf '" + dir + "'";
  if (system(cmd.c_str()) != 0) perror("rm");
}
BENCHMARK(BM_CheckCycle)->Arg(100)->Arg(1000)->Arg(10240)->Unit(benchmark::kMillisecond);

void BM_GroupDiff(benchmark::State& state) {
  int n = (int)state.range(0);
  QVD::StringList before(kMaxGroupCount), after(kMaxGroupCount);
  for (int i = 0; i < n; ++i) {
    before.add(("Group" + std::to_string(i)).c_str());
    after.add(("Group" + std::to_string(i + 100)).c_str());  // 100 added, 100 deleted
  }
  for (auto _ : state) {
    GroupUpdateInfoList updates;
    benchmark::DoNotOptimize(CheckUpdates::check(&before, &after, &updates));
  }
  state.SetItemsProcessed(state.iterations() * n);
}
BENCHMARK(BM_GroupDiff)->Arg(500)->Arg(65535)->Unit(benchmark::kMillisecond);

void BM_PublishFullList(benchmark::State& state) {
  DbStatisticsInfo info;
  info.setValues("mail/some/database.vdb", 1 << 20, 1 << 16, 1024, 0, 0, 0);
  DbStatisticsInfoList published(maxDbCount);
  for (auto _ : state) {
    state.PauseTiming();
    DbStatisticsInfoList local(maxDbCount);
    for (int i = 0; i < maxDbCount; ++i) local.add(&info);
    state.ResumeTiming();
    pthread_mutex_lock(&checkDBResultMutex);
    published.snatchFrom(&local);
    pthread_mutex_unlock(&checkDBResultMutex);
  }
}
BENCHMARK(BM_PublishFullList)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
