// agentsim: the stand-in monitoring agent.  See README.md.
#include <cstdio>
#include <string>

#include "tools/agentsim/bench_model.h"
#include "tools/agentsim/agentside.h"
#include "tools/agentsim/options.h"
#include "tools/agentsim/report.h"
#include "tools/agentsim/runner.h"

int main(int argc, char** argv) {
  agentsim::Options opts;
  std::string error;
  if (!agentsim::ParseOptions(argc, argv, &opts, &error)) {
    fprintf(stderr, "agentsim: %s\n%s", error.c_str(), agentsim::UsageText());
    return agentsim::kExitUsage;
  }
  if (opts.help) {
    fputs(agentsim::UsageText(), stdout);
    return agentsim::kExitOk;
  }
  agentsim::ColumnCatalogue columns;
  if (!opts.columnsFile.empty() && !columns.LoadOverrides(opts.columnsFile, &error)) {
    fprintf(stderr, "agentsim: %s\n", error.c_str());
    return agentsim::kExitUsage;
  }
  // Slow cluster members and a large replication log for a benchmark live
  // in a model of the run's own.
  agentsim::BenchModel benchModel;
  if (opts.bench && (!opts.benchSlowMembers.empty() || opts.benchReplicationLog > 0) &&
      (opts.command.empty() || !benchModel.Prepare(&opts, &error))) {
    if (opts.command.empty())
      error = "--bench-slow-member and --bench-replication-log need the collector's command after --";
    fprintf(stderr, "agentsim: %s\n", error.c_str());
    return agentsim::kExitUsage;
  }
  FILE* out = stdout;
  if (!opts.output.empty()) {
    out = fopen(opts.output.c_str(), "we");  // not inherited by the collector
    if (!out) {
      perror(opts.output.c_str());
      return agentsim::kExitUsage;
    }
  }
  int status;
  {
    agentsim::Reporter reporter(opts.format, out, opts.showSent, &columns);
    agentsim::Runner runner(opts, &reporter, &columns);
    status = runner.Run();
  }
  if (out != stdout) fclose(out);
  return status;
}
