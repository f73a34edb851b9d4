// The availability check as other programs see it: the status file with
// the server's and the cluster's state, written before the agent
// connection exists and rewritten at the ping cadence.
#include <gtest/gtest.h>
#include <dirent.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// Starts the collector against `serverJson`, lets it register, shuts it
// down, and returns the session.
Session runWithModel(const Install& install, const std::string& serverJson) {
  install.writeModel("server.json", serverJson);
  unlink(install.statusFile().c_str());
  return runSession(install, install.env(), {"registration"});
}

// The names in the install's bin directory (to find stray temporary files).
std::vector<std::string> binFiles(const Install& install) {
  std::vector<std::string> names;
  if (DIR* dir = opendir(install.binDir().c_str())) {
    while (dirent* e = readdir(dir))
      if (e->d_name[0] != '.') names.push_back(e->d_name);
    closedir(dir);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(StatusFile, ServerAlone) {
  Install install;
  struct Case {
    const char* model;
    const char* file;
    const char* line;  // a trace line the run must hold, or null
  } cases[] = {
      {"{}", "0\n2\n", "VxPingServer succeeded on server:CN=srv1/O=acme"},
      {R"({"servers": {"CN=srv1/O=acme": 2566}})", "1\n2\n",
       "VxPingServer failed on server:CN=srv1/O=acme with rc:2566, Message:"},
      // Reachable though access is refused, also with high bits set.
      {R"({"servers": {"CN=srv1/O=acme": 2526}})", "0\n2\n", nullptr},
      {R"({"servers": {"CN=srv1/O=acme": 18910}})", "0\n2\n", nullptr},
      // Reachable but too busy to serve.
      {R"({"servers": {"CN=srv1/O=acme": 2556}})", "7\n2\n", nullptr},
      // A server that is down reports no cluster, whatever the model holds.
      {R"({"servers": {"CN=srv1/O=acme": 2566}, "cluster": {"name": "c1", "members": ["CN=m1/O=acme"]}})",
       "1\n2\n", nullptr},
  };
  for (const Case& c : cases) {
    Session s = runWithModel(install, c.model);
    EXPECT_EQ(30, s.collectorStatus()) << c.model << "\n" << s.problems();
    EXPECT_EQ(c.file, readFile(install.statusFile())) << c.model;
    if (c.line) {
      EXPECT_TRUE(s.traced(c.line)) << c.line;
    }
    // The file is complete before the agent connection is opened.
    size_t written = s.trace.find("Writing server status:");
    size_t opened = s.trace.find("cp_OpenConnection for Velora Server:");
    EXPECT_NE(std::string::npos, written) << c.model;
    EXPECT_LT(written, opened) << c.model;
  }
  // Only the status file, the lock file and the keyword template remain:
  // no temporary file is left behind.
  EXPECT_EQ((std::vector<std::string>{"qvd_inst1_status.out", "qvdstart.sh", "qvdtbl_inst1.out"}),
            binFiles(install));
}

TEST(StatusFile, ClusterOfThree) {
  Install install;
  const std::string members =
      R"("cluster": {"name": "c1", "members": ["CN=m1/O=acme", "CN=m2/O=acme", "CN=m3/O=acme"]})";
  struct Case {
    const char* servers;
    const char* file;
  } cases[] = {
      {R"({})", "0\n0\n"},
      {R"({"CN=m3/O=acme": 2566})", "0\n7\n"},
      {R"({"CN=m2/O=acme": 2566, "CN=m3/O=acme": 2567})", "0\n8\n"},
      {R"({"CN=m1/O=acme": 2566, "CN=m2/O=acme": 2566, "CN=m3/O=acme": 2566})", "0\n1\n"},
      // Busy or access-refused members are reachable members.
      {R"({"CN=m1/O=acme": 2556, "CN=m2/O=acme": 2526})", "0\n0\n"},
      // The server itself busy: 7, and its cluster is still looked at.
      {R"({"CN=srv1/O=acme": 2556, "CN=m1/O=acme": 2566})", "7\n7\n"},
  };
  for (const Case& c : cases) {
    std::string model = std::string("{\"servers\": ") + c.servers + ", " + members + "}";
    Session s = runWithModel(install, model);
    EXPECT_EQ(30, s.collectorStatus()) << model << "\n" << s.problems();
    EXPECT_EQ(c.file, readFile(install.statusFile())) << model;
  }
  Session s = runWithModel(install, "{" + members + "}");
  EXPECT_TRUE(s.traced("There are 3 Servers, as server CN=srv1/O=acme is a member of the c1 cluster."));
  EXPECT_TRUE(s.traced("Calling API to ping server CN=m3/O=acme."));
}

TEST(StatusFile, SmallClusters) {
  Install install;
  struct Case {
    const char* cluster;
    const char* file;
  } cases[] = {
      // Only the cluster's name: no other member to miss.
      {R"({"name": "c1", "members": []})", "0\n0\n"},
      {R"({"name": "c1", "members": ["CN=m1/O=acme"]})", "0\n0\n"},
      {R"({"name": "c1", "members": ["CN=down/O=acme"]})", "0\n1\n"},
      {R"({"name": "c1", "members": ["CN=m1/O=acme", "CN=down/O=acme"]})", "0\n8\n"},
  };
  for (const Case& c : cases) {
    std::string model = std::string(R"({"servers": {"CN=down/O=acme": 2566}, "cluster": )") +
                        c.cluster + "}";
    Session s = runWithModel(install, model);
    EXPECT_EQ(30, s.collectorStatus()) << model << "\n" << s.problems();
    EXPECT_EQ(c.file, readFile(install.statusFile())) << model;
  }
}

TEST(StatusFile, RewrittenAtThePingCadence) {
  Install install;
  install.writeModel("server.json", "{}");
  std::thread change([&] {
    // Once start-up has written the first file, take the server down.
    for (int i = 0; i < 300 && access(install.statusFile().c_str(), F_OK) != 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    install.writeModel("server.json", R"({"servers": {"CN=srv1/O=acme": 2566}})");
  });
  // The check runs every 31st pass of the loop; idle passes last a second.
  Session s = runSession(install, install.env(), {"registration", "sleep 36"});
  change.join();
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ("1\n2\n", readFile(install.statusFile()));
  EXPECT_TRUE(s.traced("Velora Server and Cluster status cycle"));
}

}  // namespace
}  // namespace e2e
