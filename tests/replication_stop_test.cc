// A collector asked to end while its worker runs a long replication
// analysis (a large event log on a slow server): the analysis ends early,
// its answer is not sent, and the server runtime ends before the exit.
// A worker held inside one server call that does not return in time
// instead leaves the runtime to end with the process, and the exit still
// comes after the time the end waits.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "e2e_testutil.h"
#include "tools/agentsim/replication_log_model.h"

namespace e2e {
namespace {

// Lines of `text` that start with `prefix`.
size_t linesStartingWith(const std::string& text, const std::string& prefix) {
  size_t n = 0;
  for (size_t at = 0; at < text.size();) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    if (text.compare(at, prefix.size(), prefix) == 0) ++n;
    at = end + 1;
  }
  return n;
}

// Writes a model with a replication log of `documents` documents and the
// simulator's `delays` (entry point -> milliseconds) into `install`, and
// returns the collector's settings: the replication table on, the
// simulator's call log at `*calls`.
std::map<std::string, std::string> slowReplicationSetup(Install& install, long documents,
                                                        const Json& delays, std::string* calls) {
  Json model = Json::object();
  agentsim::AddReplicationLog(&model, documents);
  model["delays"] = delays;
  install.writeModel("server.json", model.dump());
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "ON";
  *calls = install.root() + "/calls.log";
  env["VAXEL_SIM_LOG"] = *calls;
  return env;
}

TEST(ReplicationStop, AnEndDuringALongAnalysisEndsItAndTheServerRuntime) {
  Install install;
  // 3000 log documents, each taking 10 ms to open: the analysis would
  // run for more than 30 seconds, twice the longest the end waits for the
  // collector's threads.
  constexpr long kDocuments = 3000;
  std::string calls;
  auto env = slowReplicationSetup(install, kDocuments, {{"VxDocOpen", 10}}, &calls);

  // The agent ends the conversation while the worker reads the log.
  Session s = runSession(install, env,
                         {"registration", "request Velora_Replication id=r1", "sleep 5"}, "shutdown");
  ASSERT_EQ(30, s.collectorStatus()) << s.problems() << s.trace;
  std::string log = readFile(calls);
  size_t opened = linesStartingWith(log, "VxDocOpen ");
  EXPECT_GT(opened, 0u) << "the analysis had not begun when the end came";
  EXPECT_LT(opened, static_cast<size_t>(kDocuments)) << "the analysis ran to its end";

  // No answer, not even one without rows: the analysis did not finish.
  EXPECT_TRUE(s.answer("r1").is_null()) << s.problems();
  EXPECT_TRUE(s.traced("The collector is ending: the answer to request id=r1 for Velora_Replication "
                       "is abandoned"))
      << s.trace;
  // Every thread left the server in time, and the runtime ended.
  EXPECT_FALSE(s.traced("still inside the server")) << s.trace;
  EXPECT_EQ(1u, linesStartingWith(log, "VxTermRuntime")) << s.trace;
  EXPECT_EQ(1u, linesStartingWith(log, "exit handles_held=0 ")) << log.substr(log.rfind("exit"));
}

TEST(ReplicationStop, AServerCallThatDoesNotReturnInTimeLeavesTheRuntimeToTheExit) {
  Install install;
  // The worker's look for the connections' view takes 40 seconds.
  std::string calls;
  auto env = slowReplicationSetup(install, 100, {{"VxFindDesignNote", 40000}}, &calls);

  Session s = runSession(install, env,
                         {"registration", "request Velora_Replication id=r1", "sleep 2"}, "shutdown",
                         {"--wait-exit", "35"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems() << s.trace;
  EXPECT_TRUE(s.traced("1 collector thread(s) still inside the server after 15 seconds; the server "
                       "runtime is left to end with the process"))
      << s.trace;
  EXPECT_TRUE(s.answer("r1").is_null()) << s.problems();
  std::string log = readFile(calls);
  EXPECT_EQ(0u, linesStartingWith(log, "VxFindDesignNote ")) << "the call returned";
  EXPECT_EQ(0u, linesStartingWith(log, "VxTermRuntime")) << s.trace;
}

}  // namespace
}  // namespace e2e
