// The simulated server a benchmark runs against, with slow cluster members
// (--bench-slow-member) and a large replication log (--bench-replication-log)
// added for the run.
//
// The collector's model directory (its VAXEL_SIM_DIR) is left as it is: the
// run uses a temporary directory whose entries are symbolic links to the
// model's, except server.json, which holds the model's settings plus, for
// each slow member, a server entry {"ping": 0, "delayMs": MS} and the
// member's name in the cluster's member list (a cluster "benchcluster" is
// made when the model has none); with a replication log, server.json also
// holds the log and its connections (replication_log_model.h) and the
// collector monitors the log (QVD_LOG_VDB_MONITOR=ON).
#ifndef QVD_TOOLS_AGENTSIM_BENCH_MODEL_H_
#define QVD_TOOLS_AGENTSIM_BENCH_MODEL_H_

#include <string>

#include "tools/agentsim/options.h"

namespace agentsim {

// The value the collector's environment will give `name` (the --env and
// --env-file settings, then agentsim's own environment unless --clean-env,
// less --unset); empty when unset.
std::string CollectorEnv(const Options& opts, const std::string& name);

// Owns the temporary model directory of one run; removes it when destroyed.
class BenchModel {
 public:
  BenchModel() = default;
  ~BenchModel();
  BenchModel(const BenchModel&) = delete;
  BenchModel& operator=(const BenchModel&) = delete;

  // When opts->benchSlowMembers is not empty or opts->benchReplicationLog is
  // above 0, builds the temporary model and points the collector's
  // VAXEL_SIM_DIR at it (an --env setting added to *opts; with a
  // replication log also QVD_LOG_VDB_MONITOR=ON).  Returns false with *error set when the model cannot be read or
  // the directory cannot be made.
  bool Prepare(Options* opts, std::string* error);

  const std::string& dir() const { return dir_; }

 private:
  std::string dir_;
};

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_BENCH_MODEL_H_
