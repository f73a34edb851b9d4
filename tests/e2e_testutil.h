// Support for the end-to-end tests: a throw-away installation (install
// home, ini directory, simulated server model) and a session of the real
// qvdclient driven by agentsim, with agentsim's JSON report and the
// collector's trace at hand.
#ifndef QVD_TESTS_E2E_TESTUTIL_H_
#define QVD_TESTS_E2E_TESTUTIL_H_

#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace e2e {

using Json = nlohmann::json;

// A temporary installation, removed again by the destructor:
//   <root>/home/<arch>/vd/bin/     install bin (status file, keyword files)
//   <root>/home/config/            backups of vaxel.ini
//   <root>/ini/vaxel.ini           the server's ini file
//   <root>/model/                  the simulated server (VAXEL_SIM_DIR)
class Install {
 public:
  Install();
  ~Install();
  Install(const Install&) = delete;
  Install& operator=(const Install&) = delete;

  const std::string& root() const { return root_; }
  std::string home() const { return root_ + "/home"; }
  std::string binDir() const { return home() + "/" + arch() + "/vd/bin"; }
  std::string iniDir() const { return root_ + "/ini"; }
  std::string modelDir() const { return root_ + "/model"; }
  std::string arch() const { return "linux64"; }
  std::string instance() const { return "inst1"; }
  std::string statusFile() const;
  std::string traceFile() const { return root_ + "/trace.log"; }

  // Writes `content` to <model>/<name> (directories created).
  void writeModel(const std::string& name, const std::string& content) const;

  // The environment of a collector that starts cleanly against the model:
  // every required value set, tracing at detail level to traceFile().
  std::map<std::string, std::string> env() const;

 private:
  std::string root_;
};

// Everything one agentsim run produced.
struct Session {
  int agentsimStatus = -1;
  std::vector<Json> events;  // agentsim's JSON lines, in order
  std::string trace;         // the collector's trace file

  // The collector's exit status, or -1 when it did not exit by itself.
  int collectorStatus() const;
  // The events of a type, in order.
  std::vector<Json> ofType(const std::string& type) const;
  // The registered groups as "name" in order, and their versions.
  std::vector<std::string> registeredGroups() const;
  int registeredVersion(const std::string& group) const;
  // The data answers for `group`, in order.
  std::vector<Json> answers(const std::string& group) const;
  // The data answer with request id `id`, or null.
  Json answer(const std::string& id) const;
  // True when the collector's trace holds `text`.
  bool traced(const std::string& text) const;
  // Protocol violations and failed expectations, for failure messages.
  std::string problems() const;
};

// Runs agentsim with `script` (one script line per element) and the end
// action `end`, starting qvdclient with `env`.  Extra agentsim options go
// in `extraArgs`; `collector` names another qvdclient binary than the
// build's.  Never throws; failures show in the returned session.
Session runSession(const Install& install, const std::map<std::string, std::string>& env,
                   const std::vector<std::string>& script, const std::string& end = "shutdown",
                   const std::vector<std::string>& extraArgs = {}, const std::string& collector = "");

// Reads a whole file; empty when it cannot be read.
std::string readFile(const std::string& path);

// The folder of the built programs (QVD_BIN_DIR), and a program in it.
std::string builtBinDir();
std::string builtProgram(const std::string& name);

// A loopback port that nothing listens on at the moment: connecting to it
// is refused, and a program may take it.
int freePort();

// This process's sanitizer settings that are set (ASAN_OPTIONS,
// UBSAN_OPTIONS, TSAN_OPTIONS, LSAN_OPTIONS): what a program started in an
// environment of its own needs beside its settings.
std::map<std::string, std::string> sanitizerOptions();

// What a program run to its end left.
struct Outcome {
  int status = -1;  // exit status, or -1 when it did not exit normally
  std::string out;  // standard output
  std::string err;  // standard error
  bool has(const std::string& text) const { return out.find(text) != std::string::npos; }
  bool errHas(const std::string& text) const { return err.find(text) != std::string::npos; }
};

// How runProgram starts a program, beyond its command line and environment.
struct RunOptions {
  std::string workDir;  // working directory; empty: this process's
  int user = -1;        // user and group id to run as (needs root); -1: this process's
};

// Runs `argv` (argv[0] a path) in exactly `env` plus sanitizerOptions(),
// with its outputs in files under `scratchDir`, and waits for it.  Exit
// status 125: it could not become `options.user`; 126: it could not be
// started (the reason on its standard error).
Outcome runProgram(const std::string& scratchDir, const std::vector<std::string>& argv,
                   std::map<std::string, std::string> env, const RunOptions& options = {});

// The add-in's relay for a collector of `install`: links the build's
// qvdmvevent into the installation's bin directory, where the collector
// looks for it.  Returns false when the link could not be made.
bool installRelay(const Install& install);

// Points a collector's settings at a relay: QVD_MVPORT (a free loopback
// port), QVD_MVHOSTNAME, QVD_MVEVENT_FILE (the feed the relay reads events
// from) and QVD_MVEVENT_LOG.
void setRelaySettings(std::map<std::string, std::string>* env, const std::string& feed, const std::string& log);

}  // namespace e2e

#endif  // QVD_TESTS_E2E_TESTUTIL_H_
