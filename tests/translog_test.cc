// The transaction-log switch of the real collector: vaxel.ini is switched
// off around the server runtime's start and restored byte for byte, the
// installation's lock file serialises collectors, and a damaged setup stops
// start-up without touching the server's file.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <dirent.h>
#include <thread>

#include "e2e_testutil.h"

namespace e2e {
namespace {

const char kTransLogTrace[] = "error,core=detail,dbhealth=detail,serverapi=detail";

std::map<std::string, std::string> envWithTransLogTrace(const Install& install) {
  auto env = install.env();
  env["QVD_TRACE"] = kTransLogTrace;
  return env;
}

void writeIni(const Install& install, const std::string& text) {
  FILE* f = fopen((install.iniDir() + "/vaxel.ini").c_str(), "wb");
  ASSERT_NE(nullptr, f);
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

std::string ini(const Install& install) { return readFile(install.iniDir() + "/vaxel.ini"); }

int countBackups(const Install& install) {
  int n = 0;
  DIR* d = opendir((install.home() + "/config").c_str());
  if (d == nullptr) return -1;
  while (dirent* e = readdir(d))
    if (strncmp(e->d_name, "vaxel.ini.", 10) == 0) n++;
  closedir(d);
  return n;
}

// Position of `text` in the trace, or npos.
size_t at(const Session& s, const std::string& text) { return s.trace.find(text); }

// Runs the collector with transaction-log tracing through registration.
Session runToRegistration(const Install& install) {
  return runSession(install, envWithTransLogTrace(install), {"registration"});
}

// Runs the collector with transaction-log tracing and waits for it to exit.
Session runUntilExit(const Install& install) {
  return runSession(install, envWithTransLogTrace(install), {}, "wait", {"--wait-exit", "20"});
}

TEST(TransLog, SwitchedOffAroundRuntimeStartAndRestored) {
  Install install;
  const std::string original =
      "[Vaxel]\nKitType=1\nTRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=2\nTRANSLOG_Path=/log\n";
  writeIni(install, original);
  Session s = runToRegistration(install);
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  size_t disabled = at(s, "Transaction log is disabled successfully in vaxel.ini.");
  size_t init = at(s, "Redirected to call Orlan C API VxInitRuntime.");
  size_t restored = at(s,
                       "Transaction log is restored successfully in vaxel.ini. TRANSLOG_STATUS is "
                       "1, PREVIOUS_TRANSLOG_STATUS is 2.");
  ASSERT_NE(std::string::npos, disabled) << s.trace;
  ASSERT_NE(std::string::npos, init);
  ASSERT_NE(std::string::npos, restored);
  EXPECT_LT(disabled, init);
  EXPECT_LT(init, restored);
  EXPECT_EQ(original, ini(install));
  EXPECT_EQ(0, countBackups(install));
}

TEST(TransLog, LowerCaseKeysAndFirstMatchInsideLongerName) {
  Install install;
  // Lower-case keys are found; the first match of TRANSLOG_STATUS is the
  // one inside PREVIOUS_TRANSLOG_STATUS, whose value the switch then uses.
  const std::string original = "previous_translog_status=1\ntranslog_status=0\n";
  writeIni(install, original);
  Session s = runToRegistration(install);
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Transaction log is enabled."));
  EXPECT_TRUE(s.traced("Transaction log is disabled successfully in vaxel.ini."));
  EXPECT_EQ(original, ini(install));
  EXPECT_EQ(0, countBackups(install));
}

TEST(TransLog, BlankAfterTwoCharacterSeparatorIsNotEnabled) {
  Install install;
  const std::string original = "TRANSLOG_STATUS= 1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  writeIni(install, original);
  Session s = runToRegistration(install);
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Transaction log is not enabled"));
  EXPECT_FALSE(s.traced("Copying vaxel.ini"));
  EXPECT_EQ(original, ini(install));
}

TEST(TransLog, MissingLockFileStopsStartUp) {
  Install install;
  const std::string original = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  writeIni(install, original);
  unlink((install.binDir() + "/qvdstart.sh").c_str());
  Session s = runUntilExit(install);
  EXPECT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Error: failed to get the file lock."));
  EXPECT_FALSE(s.traced("Redirected to call Orlan C API VxInitRuntime."));
  EXPECT_TRUE(s.ofType("connected").empty());
  EXPECT_EQ(original, ini(install));
}

TEST(TransLog, MissingIniFileStopsStartUp) {
  Install install;
  unlink((install.iniDir() + "/vaxel.ini").c_str());
  Session s = runUntilExit(install);
  EXPECT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Error: can not load vaxel.ini"));
  EXPECT_FALSE(s.traced("Redirected to call Orlan C API VxInitRuntime."));
}

TEST(TransLog, FailedRuntimeStartStillRestoresTheIni) {
  Install install;
  const std::string original = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=0\n";
  writeIni(install, original);
  install.writeModel("server.json", R"({"initRuntime": 421})");
  Session s = runUntilExit(install);
  EXPECT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Velora VxInitRuntime failed with rc: 421"));
  EXPECT_TRUE(s.traced("Transaction log is restored successfully in vaxel.ini."));
  EXPECT_EQ(original, ini(install));
  EXPECT_EQ(0, countBackups(install));
}

TEST(TransLog, CollectorWaitsWhileAnotherProcessHoldsTheInstallationLock) {
  Install install;
  const std::string original = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  writeIni(install, original);
  // This test process plays another collector of the same installation.
  int fd = open((install.binDir() + "/qvdstart.sh").c_str(), O_RDWR);
  ASSERT_GE(fd, 0);
  struct flock fl = {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  ASSERT_EQ(0, fcntl(fd, F_SETLK, &fl));

  Session s;
  std::thread run([&] { s = runToRegistration(install); });
  // Wait until the collector is at the lock, then check it stays there.
  std::string traced;
  for (int i = 0; i < 100 && traced.find("Open file") == std::string::npos; i++) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    traced = readFile(install.traceFile());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(1000));
  traced = readFile(install.traceFile());
  EXPECT_NE(std::string::npos, traced.find("Open file")) << traced;
  EXPECT_EQ(std::string::npos, traced.find("Lock file")) << traced;
  EXPECT_EQ(std::string::npos, traced.find("Redirected to call Orlan C API VxInitRuntime."));
  EXPECT_EQ(original, ini(install));

  fl.l_type = F_UNLCK;
  fcntl(fd, F_SETLK, &fl);
  close(fd);
  run.join();
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Transaction log is disabled successfully in vaxel.ini."));
  EXPECT_EQ(original, ini(install));
  EXPECT_EQ(0, countBackups(install));
}

TEST(TransLog, TwoCollectorsOfOneInstallationTakeTurns) {
  Install install;
  const std::string original = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  writeIni(install, original);
  // Both collectors append to one trace file of their own (a session
  // starts by removing the install's usual trace file).
  auto env = envWithTransLogTrace(install);
  std::string shared = install.root() + "/both.log";
  env["QVD_TRACE_FILE"] = shared;
  Session a, b;
  std::thread ta([&] { a = runSession(install, env, {"registration"}); });
  std::thread tb([&] { b = runSession(install, env, {"registration"}); });
  ta.join();
  tb.join();
  EXPECT_EQ(30, a.collectorStatus()) << a.problems();
  EXPECT_EQ(30, b.collectorStatus()) << b.problems();
  EXPECT_EQ(original, ini(install));
  EXPECT_EQ(0, countBackups(install));
  // In the shared trace, each collector's disable is followed by its own
  // restore before the other's disable (the thread id column tells them
  // apart).
  std::string trace = readFile(shared);
  std::vector<std::string> order;
  size_t pos = 0;
  while (pos < trace.size()) {
    size_t end = trace.find('\n', pos);
    if (end == std::string::npos) end = trace.size();
    std::string line = trace.substr(pos, end - pos);
    pos = end + 1;
    size_t lb = line.find('['), rb = line.find(']');
    if (lb == std::string::npos || rb == std::string::npos) continue;
    std::string tid = line.substr(lb + 1, rb - lb - 1);
    if (line.find("Transaction log is disabled successfully") != std::string::npos)
      order.push_back("off:" + tid);
    if (line.find("Transaction log is restored successfully") != std::string::npos)
      order.push_back("on:" + tid);
  }
  // Each collector starts the runtime once: the availability monitor's
  // thread starts its own only with the loop's first check, which a short
  // conversation never reaches.
  ASSERT_EQ(4u, order.size()) << trace;
  for (size_t i = 0; i < order.size(); i += 2) {
    EXPECT_EQ("off:", order[i].substr(0, 4)) << trace;
    EXPECT_EQ(order[i].substr(4), order[i + 1].substr(3)) << trace;
  }
}

}  // namespace
}  // namespace e2e
