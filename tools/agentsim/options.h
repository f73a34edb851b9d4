// agentsim's command line (see README.md).
//
// Thread-safety: pure functions.
#ifndef QVD_TOOLS_AGENTSIM_OPTIONS_H_
#define QVD_TOOLS_AGENTSIM_OPTIONS_H_

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tools/agentsim/report.h"
#include "tools/agentsim/script.h"

namespace agentsim {

enum class EndAction { kShutdown, kClose, kWait, kKill };

struct Options {
  int port = 0;
  std::string portFile;
  std::vector<std::pair<std::string, std::string>> envSets;  // --env and --env-file, in order
  std::vector<std::string> envUnsets;
  bool cleanEnv = false;
  std::string collectorOutput;
  double acceptTimeout = 30;
  std::optional<int> expectStatus;
  std::vector<ScriptCommand> script;
  EndAction end = EndAction::kShutdown;
  double waitExit = 30;
  double timeout = 30;
  std::string columnsFile;
  Format format = Format::kTable;
  bool showSent = false;
  std::string output;
  bool bench = false;
  long benchRequests = 10000;
  long benchBursts = 100;
  std::vector<std::string> benchGroups;
  // --bench-slow-member NAME=MS: cluster members whose ping takes MS ms.
  std::vector<std::pair<std::string, long>> benchSlowMembers;
  long benchUnanswered = 0;  // requests that get no answer (MV_Server), after the bursts
  double soakSeconds = 0;  // 0: no soak
  double soakInterval = 60;
  std::string soakModel;    // model directory the soak changes (a copy)
  double soakChange = 20;   // seconds between model changes
  std::string soakFeed;     // relay feed file (default: the collector's QVD_MVEVENT_FILE)
  double soakEventEvery = 0.5;
  double soakRelayKill = 120;  // seconds between kills of the relay; 0: never
  std::string soakCallLog;  // simulator call log (default: the collector's VAXEL_SIM_LOG)
  double soakPause = 0.1;   // pause between rounds
  // --bench-replication-log N: a replication log of N documents in the model,
  // and Velora_Replication requests kept going during the measured requests.
  long benchReplicationLog = 0;
  std::vector<std::string> command;  // after "--"
  bool help = false;
};

// Parses argv.  Returns false with *error set for a usage error, an
// unreadable script or env file, or a faulty script line.
bool ParseOptions(int argc, const char* const* argv, Options* opts, std::string* error);

// The usage text printed for --help and after a usage error.
const char* UsageText();

}  // namespace agentsim

#endif  // QVD_TOOLS_AGENTSIM_OPTIONS_H_
