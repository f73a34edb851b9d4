// The collector on the server's host: files it replaces keep their owner
// and mode (and when it cannot keep them it leaves the file alone), nothing
// it writes goes through a link it did not make, and the relay it starts
// inherits no descriptor of its own.  The ownership cases run the real
// collector as user nobody in a temporary tree, which needs root.
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <netinet/in.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

constexpr uid_t kNobody = 65534;

void writeText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

struct stat statOf(const std::string& path) {
  struct stat st;
  memset(&st, 0, sizeof st);
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st;
}

std::vector<std::string> namesIn(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  return out;
}

// Runs the built qvdclient with `args` in exactly the environment `env`,
// as user nobody; status 125 or 126 when it cannot be run so here.
Outcome runAsNobody(const Install& install, const std::vector<std::string>& args,
                    const std::map<std::string, std::string>& env) {
  std::vector<std::string> argv = {builtProgram("qvdclient")};
  argv.insert(argv.end(), args.begin(), args.end());
  RunOptions options;
  options.user = kNobody;
  return runProgram(install.root(), argv, env, options);
}

// True when the collector could not be run as nobody at all.
bool skipped(const Outcome& run) { return run.status == 125 || run.status == 126; }

// An installation that user nobody may use: every directory open to it, the
// lock file writable.  The server's vaxel.ini belongs to another user.
struct SharedInstall {
  Install install;
  std::string ini;
  static constexpr uid_t kServerUser = 4321;
  static constexpr gid_t kServerGroup = 4322;

  SharedInstall() {
    ini = install.iniDir() + "/vaxel.ini";
    for (const std::string& dir : {install.root(), install.home(), install.home() + "/config",
                                   install.iniDir(), install.binDir()})
      chmod(dir.c_str(), 0777);
    chmod((install.binDir() + "/qvdstart.sh").c_str(), 0666);
  }
  void writeIni(const std::string& text, mode_t mode, uid_t uid, gid_t gid) const {
    unlink(ini.c_str());
    writeText(ini, text);
    chmod(ini.c_str(), mode);
    EXPECT_EQ(0, chown(ini.c_str(), uid, gid));
  }
  // Start-up stops at the agent connection, which does not exist.
  std::map<std::string, std::string> env() const {
    auto e = install.env();
    e["QVD_TRACE"] = "error";
    return e;
  }
};

TEST(HostFiles, IniOfAnotherOwnerIsLeftAloneAndStartUpStops) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of another user and to run as nobody";
  SharedInstall s;
  const std::string text = "[Vaxel]\nTRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  // Group-writable and more: nobody may write the file, but it is not
  // nobody's to take over.
  s.writeIni(text, 0666, SharedInstall::kServerUser, SharedInstall::kServerGroup);
  Outcome run = runAsNobody(s.install, {}, s.env());
  if (skipped(run)) GTEST_SKIP() << "qvdclient cannot be run as nobody here: " << run.err;
  EXPECT_EQ(0, run.status);
  std::string trace = readFile(s.install.traceFile());
  EXPECT_NE(std::string::npos, trace.find("Error: can not open file " + s.ini + " with write option."))
      << trace;
  EXPECT_NE(std::string::npos,
            trace.find(s.ini + " belongs to uid 4321, gid 4322, an owner and group the collector's "
                       "user (uid 65534, gid 65534) cannot give a new file"))
      << trace;
  EXPECT_NE(std::string::npos, trace.find("Error: failed to save vaxel.ini.")) << trace;
  EXPECT_EQ(std::string::npos, trace.find("Velora VxInitRuntime succeeded")) << trace;
  struct stat st = statOf(s.ini);
  EXPECT_EQ(SharedInstall::kServerUser, st.st_uid);
  EXPECT_EQ(SharedInstall::kServerGroup, st.st_gid);
  EXPECT_EQ(0666u, st.st_mode & 07777);
  EXPECT_EQ(text, readFile(s.ini));
  EXPECT_TRUE(namesIn(s.install.home() + "/config").empty()) << "the backup is removed";
  EXPECT_EQ(1u, namesIn(s.install.iniDir()).size()) << "no temporary file is left";

  // --check says so before a start.
  Outcome check = runAsNobody(s.install, {"--check"}, s.env());
  EXPECT_EQ(1, check.status) << check.out;
  EXPECT_NE(std::string::npos,
            check.out.find("problem  vaxel.ini: " + s.ini +
                           ": it belongs to uid 4321, gid 4322, which the collector's user (uid "
                           "65534) cannot give a new file"))
      << check.out;

  // Not writable by nobody at all, though the directory is: the same.
  s.writeIni(text, 0644, SharedInstall::kServerUser, SharedInstall::kServerGroup);
  unlink(s.install.traceFile().c_str());
  run = runAsNobody(s.install, {}, s.env());
  EXPECT_EQ(0, run.status);
  trace = readFile(s.install.traceFile());
  EXPECT_NE(std::string::npos,
            trace.find(s.ini + " may not be written by the collector's user (uid 65534, gid 65534): "
                       "Permission denied; it is left unchanged"))
      << trace;
  EXPECT_EQ(SharedInstall::kServerUser, statOf(s.ini).st_uid);
  EXPECT_EQ(text, readFile(s.ini));
  check = runAsNobody(s.install, {"--check"}, s.env());
  EXPECT_EQ(1, check.status);
  EXPECT_NE(std::string::npos,
            check.out.find("problem  vaxel.ini: " + s.ini +
                           ": the collector's user (uid 65534) may not write it (Permission denied)"))
      << check.out;

  // With the transaction log off nothing is written, and --check warns only.
  s.writeIni("[Vaxel]\nTRANSLOG_STATUS=0\n", 0644, SharedInstall::kServerUser,
             SharedInstall::kServerGroup);
  check = runAsNobody(s.install, {"--check"}, s.env());
  EXPECT_NE(std::string::npos, check.out.find("warning  vaxel.ini: ")) << check.out;
  EXPECT_EQ(std::string::npos, check.out.find("problem  vaxel.ini")) << check.out;

  // The collector's own file is switched and restored, and stays its own.
  s.writeIni(text, 0640, kNobody, kNobody);
  unlink(s.install.traceFile().c_str());
  run = runAsNobody(s.install, {}, s.env());
  trace = readFile(s.install.traceFile());
  EXPECT_NE(std::string::npos, trace.find("Transaction log is restored successfully")) << trace;
  st = statOf(s.ini);
  EXPECT_EQ(kNobody, st.st_uid);
  EXPECT_EQ(0640u, st.st_mode & 07777);
  EXPECT_EQ(text, readFile(s.ini));
}

TEST(HostFiles, StatusFileAndTemplateKeepTheirModesAndFollowNoLink) {
  Install install;
  // The status file as an agent of another user reads it, and a link left
  // at the template's name.
  writeText(install.statusFile(), "1\n2\n");
  chmod(install.statusFile().c_str(), 0644);
  std::string victim = install.root() + "/victim";
  writeText(victim, "precious\n");
  std::string templ = install.binDir() + "/qvdtbl_" + install.instance() + ".out";
  ASSERT_EQ(0, symlink(victim.c_str(), templ.c_str()));

  mode_t old = umask(077);
  Session s = runSession(install, install.env(), {"registration"});
  umask(old);
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(0644u, statOf(install.statusFile()).st_mode & 07777);
  EXPECT_EQ("0\n2\n", readFile(install.statusFile()));
  EXPECT_EQ("precious\n", readFile(victim));
  EXPECT_TRUE(S_ISREG(statOf(templ).st_mode));
  EXPECT_EQ(0u, readFile(templ).find("#---")) << "the template itself is written";
  for (const std::string& name : namesIn(install.binDir()))
    EXPECT_EQ(std::string::npos, name.find("qvdtmp")) << name;
}

// The event thread starts the relay at any moment, also while other
// threads hold files open: the switch of a large vaxel.ini by the add-in's
// configuration thread, the database check and the two slow tables' workers,
// the status file.  The relay lists what it inherited before it closes it.
TEST(HostFiles, RelayInheritsNoDescriptorOfTheCollector) {
  // Whatever this test process inherited itself (from a shell or a test
  // runner) is not the collector's to pass on: keep it out of the chain.
  for (const std::string& fd : namesIn("/proc/self/fd"))
    if (std::stoi(fd) > 2) fcntl(std::stoi(fd), F_SETFD, fcntl(std::stoi(fd), F_GETFD) | FD_CLOEXEC);
  Install install;
  ASSERT_TRUE(installRelay(install));
  install.writeModel("server.json",
                     R"({"databases": {"mirvane/mvparam.vdb": {}, "names.vdb": {}}})");
  // Large enough that every switch keeps the file open for a while.
  std::string ini = "[Vaxel]\n";
  while (ini.size() < (24u << 20)) ini += "; a comment line that only makes the file larger\n";
  ini += "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  writeText(install.iniDir() + "/vaxel.ini", ini);
  std::string feed = install.root() + "/feed";
  std::string fds = install.root() + "/fds";
  writeText(feed, "");
  auto env = install.env();
  env["QVD_TRACE"] = "error";
  setRelaySettings(&env, feed, install.root() + "/relay.log");
  env["QVD_MVEVENT_FDS"] = fds;
  env["QVD_CHECK_DB_INTERVAL"] = "3600";
  env["QVD_CHECK_DB_INCLUDE_PATH"] = "names.vdb";
  env["QVD_LOG_VDB_MONITOR"] = "ON";
  env["QVD_VELORA_GROUP_MONITOR"] = "ON";

  // Once the first relay has registered, end it: the collector starts the
  // next one while the slow tables' workers switch vaxel.ini.
  std::atomic<bool> done{false};
  std::thread ender([&] {
    while (!done && readFile(install.root() + "/relay.log").find("registered server") ==
                        std::string::npos)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::ofstream(feed, std::ios::app) << "!exit\n";
  });
  std::vector<std::string> script = {"registration", "sleep 9"};
  for (int i = 0; i < 30; ++i) {
    script.push_back("request Velora_Replication Velora_Group_Updates Velora_Server64");
    script.push_back("sleep 0.1");
  }
  script.push_back("sleep 3");
  Session s = runSession(install, env, script, "shutdown", {"--timeout", "60"});
  done = true;
  ender.join();
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();

  std::string listed = readFile(fds);
  std::set<std::string> relays;
  std::regex line(R"(qvdmvevent\[(\d+)\] fd (\d+) (.*))");
  std::istringstream in(listed);
  for (std::string text; std::getline(in, text);) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(text, m, line)) << text;
    relays.insert(m[1]);
    EXPECT_LE(std::stoi(m[2]), 2) << "inherited: " << text;
  }
  EXPECT_GE(relays.size(), 2u) << listed << s.trace;
}

}  // namespace
}  // namespace e2e
