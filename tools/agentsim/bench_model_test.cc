// A benchmark's slow cluster members and large replication log go into a
// model of the run's own; the collector's model stays as it was.
#include "tools/agentsim/bench_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

#include "tools/agentsim/replication_log_model.h"

namespace agentsim {
namespace {

std::string Read(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class BenchModelTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/agentsim-model-test-XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    model_ = tmpl;
  }
  void TearDown() override {
    unlink((model_ + "/server.json").c_str());
    unlink((model_ + "/stats.txt").c_str());
    rmdir(model_.c_str());
  }
  void Write(const std::string& name, const std::string& text) { std::ofstream(model_ + "/" + name) << text; }
  std::string model_;
};

TEST_F(BenchModelTest, SlowMembersJoinTheModelsClusterInACopy) {
  const std::string original =
      R"({"servers": {"CN=srv3/O=acme": 2566}, "cluster": {"name": "c1", "members": ["CN=srv3/O=acme", "CN=srv2/O=acme"]}, "initRuntime": 0})";
  Write("server.json", original);
  Write("stats.txt", "Server.Users\t3\n");
  Options opts;
  opts.cleanEnv = true;
  opts.envSets = {{"VAXEL_SIM_DIR", model_}};
  opts.benchSlowMembers = {{"CN=srv2/O=acme", 200}, {"CN=srv4/O=acme", 5}};
  std::string dir;
  {
    BenchModel bench;
    std::string error;
    ASSERT_TRUE(bench.Prepare(&opts, &error)) << error;
    dir = bench.dir();
    // The collector is pointed at the copy (the last setting wins).
    EXPECT_EQ(dir, CollectorEnv(opts, "VAXEL_SIM_DIR"));
    EXPECT_EQ("Server.Users\t3\n", Read(dir + "/stats.txt"));
    nlohmann::json server = nlohmann::json::parse(Read(dir + "/server.json"));
    EXPECT_EQ(2566, server["servers"]["CN=srv3/O=acme"]);
    EXPECT_EQ(nlohmann::json({{"ping", 0}, {"delayMs", 200}}), server["servers"]["CN=srv2/O=acme"]);
    EXPECT_EQ(nlohmann::json({{"ping", 0}, {"delayMs", 5}}), server["servers"]["CN=srv4/O=acme"]);
    // A member already listed is not listed twice.
    EXPECT_EQ(nlohmann::json({"CN=srv3/O=acme", "CN=srv2/O=acme", "CN=srv4/O=acme"}), server["cluster"]["members"]);
    EXPECT_EQ("c1", server["cluster"]["name"]);
    EXPECT_EQ(0, server["initRuntime"]);
  }
  // The copy is gone, the model untouched.
  struct stat st;
  EXPECT_NE(0, stat(dir.c_str(), &st));
  EXPECT_EQ(original, Read(model_ + "/server.json"));
}

TEST_F(BenchModelTest, AModelWithoutClusterGetsOneAndABadModelIsRefused) {
  Write("server.json", "{}");
  Options opts;
  opts.cleanEnv = true;
  opts.envSets = {{"VAXEL_SIM_DIR", model_}};
  opts.benchSlowMembers = {{"CN=srv2/O=acme", 200}};
  BenchModel bench;
  std::string error;
  ASSERT_TRUE(bench.Prepare(&opts, &error)) << error;
  nlohmann::json server = nlohmann::json::parse(Read(bench.dir() + "/server.json"));
  EXPECT_EQ(nlohmann::json({{"name", "benchcluster"}, {"members", {"CN=srv2/O=acme"}}}), server["cluster"]);

  Write("server.json", "[1, 2]");
  Options again = opts;
  again.envSets = {{"VAXEL_SIM_DIR", model_}};
  BenchModel refused;
  EXPECT_FALSE(refused.Prepare(&again, &error));
  EXPECT_NE(std::string::npos, error.find("not a JSON object")) << error;
}

TEST_F(BenchModelTest, AReplicationLogReplacesTheLogAndAddsConnectionsBesideTheModelsOwn) {
  const std::string original = R"({"databases": {
      "log.vdb": {"space": {"freeBytes": 7}, "documents": [{"id": 4097, "items": {"Form": "Events"}}]},
      "names.vdb": {"views": {"People": {"open": 0}, "$Connections": {"documents": [8193]}},
                    "documents": [{"id": 8193, "items": {"Form": "Connection"}}, {"id": 9000, "items": {"Form": "Person"}}]},
      "mail/a.vdb": {"space": {"freeBytes": 1}}},
    "cluster": {"name": "c1", "members": ["CN=srv3/O=acme"]}})";
  Write("server.json", original);
  Options opts;
  opts.cleanEnv = true;
  opts.envSets = {{"VAXEL_SIM_DIR", model_}, {"QVD_LOG_VDB_MONITOR", "OFF"}};
  opts.benchReplicationLog = 40;
  opts.benchSlowMembers = {{"CN=srv2/O=acme", 200}};
  {
    BenchModel bench;
    std::string error;
    ASSERT_TRUE(bench.Prepare(&opts, &error)) << error;
    EXPECT_EQ(bench.dir(), CollectorEnv(opts, "VAXEL_SIM_DIR"));
    EXPECT_EQ("ON", CollectorEnv(opts, "QVD_LOG_VDB_MONITOR"));
    nlohmann::json server = nlohmann::json::parse(Read(bench.dir() + "/server.json"));
    EXPECT_EQ(kReplicationLogNow, server["clock"]["fixed"]);
    // Both additions, and what the model had beside them.
    EXPECT_EQ(nlohmann::json({"CN=srv3/O=acme", "CN=srv2/O=acme"}), server["cluster"]["members"]);
    EXPECT_EQ(1, server["databases"]["mail/a.vdb"]["space"]["freeBytes"]);
    const nlohmann::json& log = server["databases"]["log.vdb"];
    EXPECT_EQ(7, log["space"]["freeBytes"]);
    EXPECT_EQ(kReplicationLogNow, log["modified"]);
    ASSERT_EQ(40u, log["documents"].size());
    size_t replication = 0, events = 0;
    for (const auto& d : log["documents"]) {
      std::string form = d["items"]["Form"];
      if (form == "Replication") {
        ++replication;
        EXPECT_EQ("CN=srv1/O=acme", d["items"]["Server"]);
        EXPECT_EQ(d["modified"], d["items"]["StartTime"]["time"]);
      } else {
        ++events;
        EXPECT_EQ("Events", form);
        EXPECT_EQ(5u, d["items"]["EventList"].size());
      }
    }
    EXPECT_EQ(36u, replication);
    EXPECT_EQ(4u, events);
    // The first and last documents span the two days before the clock.
    EXPECT_EQ("12/04/2026 10:00:00 AM", log["documents"][0]["modified"]);
    EXPECT_EQ(4097, log["documents"][0]["id"]);
    std::string last = log["documents"][39]["modified"];
    EXPECT_EQ("12/06/2026 0", last.substr(0, 12)) << last;

    // The model's names documents stay; the connections get ids above them
    // and are exactly the view's documents.
    const nlohmann::json& names = server["databases"]["names.vdb"];
    ASSERT_EQ(2u + kReplicationLogConnections, names["documents"].size());
    EXPECT_EQ("Person", names["documents"][1]["items"]["Form"]);
    EXPECT_EQ(nlohmann::json({{"open", 0}}), names["views"]["People"]);
    const nlohmann::json& view = names["views"]["$Connections"]["documents"];
    ASSERT_EQ(static_cast<size_t>(kReplicationLogConnections), view.size());
    std::set<std::string> destinations;
    for (size_t c = 0; c < view.size(); ++c) {
      const nlohmann::json& doc = names["documents"][2 + c];
      EXPECT_EQ(9001 + static_cast<long>(c), doc["id"]);
      EXPECT_EQ(doc["id"], view[c]);
      EXPECT_EQ("Connection", doc["items"]["Form"]);
      EXPECT_EQ("CN=srv1/O=acme", doc["items"]["Source"]);
      destinations.insert(doc["items"]["Destination"].get<std::string>());
    }
    EXPECT_EQ(static_cast<size_t>(kReplicationLogConnections), destinations.size());
    EXPECT_EQ(1u, destinations.count("CN=srv101/O=acme"));
  }
  EXPECT_EQ(original, Read(model_ + "/server.json"));
}

TEST(ReplicationLogModelTest, AnEmptyModelGetsTheWholeShape) {
  nlohmann::json model = nlohmann::json::object();
  AddReplicationLog(&model, 3);
  EXPECT_EQ(3u, model["databases"]["log.vdb"]["documents"].size());
  EXPECT_EQ(8193, model["databases"]["names.vdb"]["views"]["$Connections"]["documents"][0]);
  // Every schedule kind is there, 25 of each.
  std::map<std::string, int> schedules;
  for (const auto& d : model["databases"]["names.vdb"]["documents"])
    ++schedules[d["items"]["Schedule"].get<std::string>() + (d["items"].contains("Interval") ? " every" : "")];
  EXPECT_EQ((std::map<std::string, int>{{"08:00 AM", 25},
                                        {"06:00 AM;10:00 AM;02:00 PM;06:00 PM", 25},
                                        {"10:00 PM - 02:00 AM", 25},
                                        {"07:00 AM - 10:00 PM every", 25}}),
            schedules);
}

}  // namespace
}  // namespace agentsim
