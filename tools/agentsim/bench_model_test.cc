// A benchmark's slow cluster members go into a model of the run's own; the
// collector's model stays as it was.
#include "tools/agentsim/bench_model.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include <nlohmann/json.hpp>

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

}  // namespace
}  // namespace agentsim
