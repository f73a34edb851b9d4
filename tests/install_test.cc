// The installed collector: `cmake --install` of this build into a throw-away
// install home lays out what an administrator copies into the agent's
// install tree, and the collector started from there serves the agent
// against the simulated server, finding the server library through
// LD_LIBRARY_PATH as on a real host.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "e2e_testutil.h"
#include "exporter_testutil.h"

namespace e2e {
namespace {

// Every file under `dir`, as paths relative to it, sorted.
std::vector<std::string> FilesUnder(const std::string& dir) {
  std::vector<std::string> files;
  std::string command = "cd '" + dir + "' && find . -type f | sort";
  if (FILE* p = popen(command.c_str(), "r")) {
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
      std::string name(line);
      if (!name.empty() && name.back() == '\n') name.pop_back();
      files.push_back(name.substr(2));
    }
    pclose(p);
  }
  return files;
}

// The run path of an ELF file (its RUNPATH or RPATH, as readelf shows it)
// split into its entries, empty ones included: "$ORIGIN:" is {"$ORIGIN", ""}.
// None when it has no run path.
std::vector<std::string> RunPathOf(const std::string& file) {
  std::vector<std::string> entries;
  std::string command = "readelf -d '" + file + "' 2>/dev/null";
  if (FILE* p = popen(command.c_str(), "r")) {
    char line[4096];
    while (std::fgets(line, sizeof line, p) != nullptr) {
      std::string text(line);
      if (text.find("(RUNPATH)") == std::string::npos && text.find("(RPATH)") == std::string::npos) continue;
      size_t open = text.find('['), close = text.rfind(']');
      if (open == std::string::npos || close == std::string::npos || close < open) continue;
      std::string path = text.substr(open + 1, close - open - 1);
      for (size_t start = 0;;) {
        size_t colon = path.find(':', start);
        entries.push_back(path.substr(start, colon == std::string::npos ? std::string::npos : colon - start));
        if (colon == std::string::npos) break;
        start = colon + 1;
      }
    }
    pclose(p);
  }
  return entries;
}

// Installs the build into `prefix`; true when cmake succeeded.
bool InstallInto(const std::string& prefix) {
  std::string command = std::string("'") + QVD_CMAKE_COMMAND + "' --install '" + QVD_BUILD_DIR + "' --prefix '" +
                        prefix + "' >'" + prefix + "/../install.log' 2>&1";
  return std::system(command.c_str()) == 0;
}

TEST(Install, LaysOutTheCollectorAndItsGuideAndNothingOfTheStandIns) {
  Install install;
  std::string prefix = install.root() + "/prefix";
  ASSERT_EQ(0, mkdir(prefix.c_str(), 0755));
  ASSERT_TRUE(InstallInto(prefix)) << readFile(install.root() + "/install.log");

  const std::string arch = QVD_BINARCH;
  std::vector<std::string> expected = {arch + "/vd/bin/qvdclient", arch + "/vd/doc/qvdclient/collector.md",
                                       arch + "/vd/doc/qvdclient/examples/qvdclient.env",
                                       arch + "/vd/doc/qvdclient/examples/qvdstart.sh",
                                       arch + "/vd/doc/qvdclient/keyword-overrides.md"};
  // The exporter and its files, in a build that has it.
  if (access((std::string(QVD_TEST_BIN_DIR) + "/qvdexporter").c_str(), X_OK) == 0) {
    expected.insert(expected.begin() + 1, arch + "/vd/bin/qvdexporter");
    for (const char* doc : {"exporter.md", "mapping.txt", "prometheus.yml", "qvdexporter-dashboard.json"})
      expected.push_back(arch + "/vd/doc/qvdexporter/" + doc);
  }
  EXPECT_EQ(expected, FilesUnder(prefix));
  // The sample start script comes ready to copy into vd/bin.
  EXPECT_EQ(0, access((prefix + "/" + arch + "/vd/doc/qvdclient/examples/qvdstart.sh").c_str(), X_OK));
  EXPECT_EQ(0, access((prefix + "/" + arch + "/vd/bin/qvdclient").c_str(), X_OK));
  EXPECT_EQ(readFile(std::string(QVD_TEST_SOURCE_DIR) + "/docs/collector.md"),
            readFile(prefix + "/" + arch + "/vd/doc/qvdclient/collector.md"));

  // The programs that ship look for libraries only where an installation
  // puts them, in the build tree as installed: qvdclient beside itself
  // ($ORIGIN alone), the exporter in the system's folders (no run path).
  // An empty entry would be the caller's working directory, and a folder
  // of the build tree would reach back into it.
  ASSERT_EQ(0, std::system("readelf --version >/dev/null 2>&1")) << "readelf (binutils) is needed";
  for (const std::string& dir : {std::string(QVD_TEST_BIN_DIR), prefix + "/" + arch + "/vd/bin"}) {
    EXPECT_EQ(std::vector<std::string>{"$ORIGIN"}, RunPathOf(dir + "/qvdclient")) << dir;
    if (access((dir + "/qvdexporter").c_str(), X_OK) == 0) {
      EXPECT_EQ(std::vector<std::string>{}, RunPathOf(dir + "/qvdexporter")) << dir;
    }
  }
}

TEST(Install, InstalledCollectorServesTheAgentWithTheServerLibraryOnTheLibraryPath) {
  Install install;
  // Installed into the install home itself, beside the lock file, as an
  // administrator would.
  ASSERT_TRUE(InstallInto(install.home())) << readFile(install.root() + "/install.log");
  const std::string collector = install.home() + "/" + QVD_BINARCH + "/vd/bin/qvdclient";
  install.writeModel("stats.txt", readFile(std::string(QVD_TEST_SOURCE_DIR) + "/examples/server/stats.txt"));

  // Without the server library on the library path the system refuses to
  // start it: nothing of the build is baked into the installed binary.
  Session missing = runSession(install, install.env(), {}, "wait", {"--wait-exit", "20"}, collector);
  EXPECT_EQ(127, missing.collectorStatus()) << missing.problems();
  EXPECT_TRUE(missing.ofType("connected").empty());

  auto env = install.env();
  env["LD_LIBRARY_PATH"] = QVD_TEST_BIN_DIR;  // where this build's libvaxel.so is
  Session s = runSession(install, env, {"registration", "request Velora_Server Velora_Tasks", "expect all"},
                         "shutdown", {}, collector);
  ASSERT_EQ(0, s.agentsimStatus) << s.problems();
  EXPECT_EQ(30, s.collectorStatus());
  std::vector<std::string> groups = s.registeredGroups();
  EXPECT_NE(groups.end(), std::find(groups.begin(), groups.end(), "Velora_Server"));
  auto server = s.answers("Velora_Server");
  ASSERT_EQ(1u, server.size());
  ASSERT_EQ(1u, server[0]["rows"].size());
  EXPECT_EQ("CN=srv1/O=acme", server[0]["rows"][0][0]);
  auto tasks = s.answers("Velora_Tasks");
  ASSERT_EQ(1u, tasks.size());
  EXPECT_GE(tasks[0]["rows"].size(), 3u);
  EXPECT_FALSE(readFile(install.statusFile()).empty());

  // The installed exporter starts the installed collector beside it.
  const std::string exporter = install.home() + "/" + QVD_BINARCH + "/vd/bin/qvdexporter";
  if (access(exporter.c_str(), X_OK) != 0) return;
  std::string envFile = install.root() + "/exporter.env";
  WriteEnvFile(envFile, env);
  std::string out;
  EXPECT_EQ(0, RunWithInput({exporter, "--once", "--collector.env-file", envFile}, "", &out, nullptr,
                            ExporterEnvironment()))
      << out;
  EXPECT_NE(out.find("\nvelora_up 1\n"), std::string::npos) << out;
}

}  // namespace
}  // namespace e2e
