// agentsim's benchmark with a large replication log: the collector runs
// against a copy of the model holding the log, answers Velora_Replication
// requests beside the measured requests of the other tables, and the
// benchmark reports both apart.  No timing is judged here.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

TEST(BenchReplicationLog, ReplicationAnswersRunBesideTheMeasuredRequests) {
  Install install;
  const std::string model = R"({"cluster": {"name": "c1", "members": []}})";
  install.writeModel("server.json", model);
  Session s = runSession(install, install.env(), {}, "shutdown",
                         {"--bench", "--bench-requests", "300", "--bench-bursts", "5", "--bench-replication-log",
                          "2000", "--bench-slow-member", "CN=srv2/O=acme=50"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  std::vector<Json> bench = s.ofType("bench");
  ASSERT_EQ(1u, bench.size()) << s.problems();
  const Json& b = bench[0];
  // Only the other tables are measured, the replication answers on their own.
  EXPECT_EQ(300, b["sequential"]["count"]);
  EXPECT_EQ(5, b["burst"]["count"]);
  const Json& r = b["replication"];
  EXPECT_EQ(2000, r["log_documents"]);
  ASSERT_GE(r["count"].get<size_t>(), 1u);
  EXPECT_EQ(r["count"], r["ms"].size());
  EXPECT_GT(r["sequential_during_first"]["count"].get<size_t>() + r["burst_during_first"]["count"].get<size_t>(), 0u);
  EXPECT_EQ(Json::array({{{"name", "CN=srv2/O=acme"}, {"delay_ms", 50}}}), b["slow_members"]);

  // The collector monitored the log (it registered the table).
  std::vector<std::string> groups = s.registeredGroups();
  EXPECT_NE(std::find(groups.begin(), groups.end(), "Velora_Replication"), groups.end());
  EXPECT_EQ(static_cast<size_t>(b["groups_burst"].get<long>()), groups.size() - 2);  // less events and replication
  // The installation's own model is left as it was.
  EXPECT_EQ(model, readFile(install.modelDir() + "/server.json"));
}

}  // namespace
}  // namespace e2e
