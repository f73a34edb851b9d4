// qvdexporter's flags: durations, listen addresses, the collector's env file.
#include "qvdexporter/options.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

namespace qvdexporter {
namespace {

bool Parse(std::vector<std::string> args, Options* o, std::string* error) {
  std::vector<const char*> argv = {"qvdexporter"};
  for (const auto& a : args) argv.push_back(a.c_str());
  return ParseOptions(static_cast<int>(argv.size()), argv.data(), o, error);
}

TEST(Options, DurationsAddressesAndDefaults) {
  double s = 0;
  EXPECT_TRUE(ParseDuration("30s", &s) && s == 30);
  EXPECT_TRUE(ParseDuration("500ms", &s) && s == 0.5);
  EXPECT_TRUE(ParseDuration("2m", &s) && s == 120);
  EXPECT_TRUE(ParseDuration("1.5", &s) && s == 1.5);
  for (const char* bad : {"", "s", "-1s", "3 s", "3d", "abc"}) EXPECT_FALSE(ParseDuration(bad, &s)) << bad;
  std::string ports;
  EXPECT_TRUE(ListeningPorts("127.0.0.1:9471", &ports) && ports == "127.0.0.1:9471");
  EXPECT_TRUE(ListeningPorts("[::1]:9471", &ports) && ports == "[::1]:9471");
  EXPECT_TRUE(ListeningPorts(":9471", &ports) && ports == "9471");
  for (const char* bad : {"127.0.0.1", "127.0.0.1:", "host:http"}) EXPECT_FALSE(ListeningPorts(bad, &ports)) << bad;

  Options o;
  std::string error;
  ASSERT_TRUE(Parse({}, &o, &error)) << error;
  EXPECT_EQ(o.listenAddress, "127.0.0.1:9471");  // loopback unless told otherwise
  EXPECT_EQ(o.telemetryPath, "/metrics");
  EXPECT_EQ(o.maxAge, 30);
  Options p;
  ASSERT_TRUE(Parse({"--web.listen-address", ":9500", "--collector.max-age=1s", "--once", "--", "qvdclient", "-x"}, &p,
                    &error))
      << error;
  EXPECT_EQ(p.listenAddress, ":9500");
  EXPECT_EQ(p.maxAge, 1);
  EXPECT_TRUE(p.once);
  EXPECT_EQ(p.command, (std::vector<std::string>{"qvdclient", "-x"}));
}

TEST(Options, FaultsAreUsageErrors) {
  std::string error;
  for (std::vector<std::string> bad :
       {std::vector<std::string>{"--web.listen-address=9471"}, {"--web.telemetry-path=metrics"},
        {"--collector.max-age=soon"}, {"--nonsense=1"}, {"--collector.decimal-separator=,"},
        {"--collector.thousands-separator=ab"}, {"--log.level=loud"}, {"--collector.env-file=/nonexistent/x.env"},
        {"stray"}, {"--collector.timeout"}}) {
    Options o;
    EXPECT_FALSE(Parse(bad, &o, &error)) << bad[0];
    EXPECT_FALSE(error.empty());
  }
}

TEST(Options, EnvFileFollowsTheAgentsRulesButNeverSetsThePort) {
  char path[] = "/tmp/qvdexporter_envXXXXXX";
  int fd = mkstemp(path);
  ASSERT_GE(fd, 0);
  close(fd);
  std::ofstream(path) << "# settings\nQVD_SERVER=CN=srv1/O=acme\nCP_PORT=1\nQVD_TRACE= spaced \n";
  Options o;
  std::string error;
  ASSERT_TRUE(Parse({"--collector.env-file", path}, &o, &error)) << error;
  EXPECT_EQ(o.envSets, (std::vector<std::pair<std::string, std::string>>{{"QVD_SERVER", "CN=srv1/O=acme"},
                                                                          {"QVD_TRACE", " spaced "}}));
  ASSERT_EQ(o.warnings.size(), 1u);
  EXPECT_NE(o.warnings[0].find("CP_PORT is ignored"), std::string::npos);
  unlink(path);
}

}  // namespace
}  // namespace qvdexporter
