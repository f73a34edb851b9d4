// How the real collector ends and what it survives on the way: no server
// call once the server runtime has ended, on each way out (status 30, 31,
// a start-up failure) with the add-in's threads busy; a reader of the trace
// that goes away; a wall clock set back while the collector waits.
#include <gtest/gtest.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// Waits up to `seconds` until `done` holds, checking every 50 ms.
template <typename Done>
bool waitFor(int seconds, Done done) {
  for (int i = 0; i < seconds * 20; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return done();
}

std::vector<std::string> lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

int count(const std::string& text, const std::string& what) {
  int n = 0;
  for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
  return n;
}

// The backups of vaxel.ini in the installation.
int backups(const Install& install) {
  int n = 0;
  if (DIR* dir = opendir((install.home() + "/config").c_str())) {
    while (dirent* e = readdir(dir))
      if (std::string(e->d_name).rfind("vaxel.ini.", 0) == 0) ++n;
    closedir(dir);
  }
  return n;
}

// Makes the collector load the test shim (tests/preload_shim.c).  Under
// AddressSanitizer the runtime would refuse a library loaded before it; the
// sanitizer options reach the collector from this process's environment.
void preloadShim(std::map<std::string, std::string>* env) {
  (*env)["LD_PRELOAD"] = builtBinDir() + "/libqvd_test_preload.so";
  std::string asan = getenv("ASAN_OPTIONS") ? getenv("ASAN_OPTIONS") : "";
  if (asan.find("verify_asan_link_order") == std::string::npos)
    setenv("ASAN_OPTIONS", (asan + (asan.empty() ? "" : ":") + "verify_asan_link_order=0").c_str(), 1);
}

// An installation with the add-in configured, whose server answers its own
// pings after 3 seconds: the MVConfigure thread is inside the server (its
// ping, then the parameter documents) while the collector ends.  The relay
// is left out (its thread reports that and ends): only the server calls
// matter here, and a relay started just before the collector ends would
// outlive it.
struct BusyAddIn {
  Install install;
  std::map<std::string, std::string> env;
  std::string callLog;

  BusyAddIn() {
    install.writeModel("server.json",
                       R"({"databases": {"mirvane/mvparam.vdb": {}},
                           "servers": {"CN=srv1/O=acme": {"ping": 0, "delayMs": 3000}}})");
    callLog = install.root() + "/calls.log";
    env = install.env();
    env["QVD_MVPORT"] = "1";  // written into the parameters, never connected to
    env["QVD_MVHOSTNAME"] = "127.0.0.1";
    env["VAXEL_SIM_LOG"] = callLog;
    env["QVD_TRACE"] = "error,core=detail,addin=detail";
  }
  // The server calls after VxTermRuntime (the exit line excepted), or
  // "(no VxTermRuntime)".
  std::vector<std::string> callsAfterTheRuntimeEnded() const {
    std::vector<std::string> all = lines(readFile(callLog));
    size_t term = all.size();
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].rfind("VxTermRuntime", 0) == 0) term = i;
    if (term == all.size()) return {"(no VxTermRuntime)"};
    std::vector<std::string> after;
    for (size_t i = term + 1; i < all.size(); ++i)
      if (all[i].rfind("exit ", 0) != 0) after.push_back(all[i]);
    return after;
  }
  // The trace lines after the last "Shutting down qvdclient" line other than
  // function exit events.
  std::vector<std::string> linesAfterTheLastWord(const Session& s) const {
    std::vector<std::string> all = lines(s.trace);
    size_t last = all.size();
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].find("Shutting down qvdclient with rc=") != std::string::npos) last = i;
    if (last == all.size()) return {"(no Shutting down line)"};
    std::vector<std::string> after;
    for (size_t i = last + 1; i < all.size(); ++i)
      if (all[i].find(" FLOW Exit ") == std::string::npos) after.push_back(all[i]);
    return after;
  }
  bool addInStarted() const { return readFile(callLog).find("VxInitThread") != std::string::npos; }
};

TEST(Exit, NoServerCallAfterTheRuntimeEndsWhenTheServerAsksToEnd) {
  BusyAddIn a;
  // The server asks its programs to end while MVConfigure waits for its ping.
  std::thread terminate([&] {
    waitFor(60, [&] { return a.addInStarted(); });
    a.install.writeModel("terminate", "");
  });
  Session s = runSession(a.install, a.env, {"registration"}, "wait", {"--wait-exit", "60"});
  terminate.join();
  ASSERT_EQ(31, s.collectorStatus()) << s.problems();
  EXPECT_EQ(std::vector<std::string>{}, a.callsAfterTheRuntimeEnded()) << readFile(a.callLog);
  EXPECT_EQ(std::vector<std::string>{}, a.linesAfterTheLastWord(s)) << s.trace;
}

TEST(Exit, NoServerCallAfterTheRuntimeEndsWhenTheAgentEndsTheConversation) {
  BusyAddIn a;
  Session s = runSession(a.install, a.env, {"registration", "sleep 1"}, "shutdown",
                         {"--wait-exit", "60"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(a.addInStarted()) << s.trace;
  EXPECT_EQ(std::vector<std::string>{}, a.callsAfterTheRuntimeEnded()) << readFile(a.callLog);
  EXPECT_EQ(std::vector<std::string>{}, a.linesAfterTheLastWord(s)) << s.trace;
  // MVConfigure's attempt under way was let finish, and no other began.
  EXPECT_EQ(1, count(s.trace, "VxInitThread: initing the Velora and Vaxel runtime system")) << s.trace;
}

TEST(Exit, NoServerCallAfterTheRuntimeEndsWhenStartUpFailsAfterTheAddInStarted) {
  BusyAddIn a;
  // The add-in's two threads start; the request intake's thread, the third,
  // cannot be created.
  preloadShim(&a.env);
  a.env["QVD_SHIM_FAIL_THREAD"] = "3";
  Session s = runSession(a.install, a.env, {"registration"}, "wait", {"--wait-exit", "60"});
  ASSERT_EQ(0, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Can't create pthread(waitForRequest)")) << s.trace;
  // MVConfigure may have begun its attempt or not: either way nothing of it
  // reaches the server after the runtime ended.
  EXPECT_TRUE(s.traced("Started MV Configure thread")) << s.trace;
  EXPECT_EQ(std::vector<std::string>{}, a.callsAfterTheRuntimeEnded()) << readFile(a.callLog);
}

TEST(Signals, AReaderOfTheTraceThatGoesAwayEndsNothing) {
  Install install;
  const std::string original = "[Vaxel]\nTRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  {
    FILE* f = fopen((install.iniDir() + "/vaxel.ini").c_str(), "w");
    fputs(original.c_str(), f);
    fclose(f);
  }
  // The trace goes to standard error, a pipe whose reader stops reading
  // once the transaction log is switched off.
  std::string fifo = install.root() + "/stderr.fifo";
  ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
  auto env = install.env();
  env.erase("QVD_TRACE_FILE");
  std::atomic<bool> sawSwitch{false};
  // Opened for reading and writing, which does not wait for the collector's
  // side (it would wait forever if agentsim never got to open it); closing
  // it leaves the pipe without a reader (no child inherits it).
  int fd = open(fifo.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  std::thread reader([&] {
    std::string seen;
    char buf[4096];
    pollfd ready{fd, POLLIN, 0};
    for (ssize_t n; poll(&ready, 1, 60000) == 1 && (n = read(fd, buf, sizeof buf)) > 0;) {
      seen.append(buf, static_cast<size_t>(n));
      if (seen.find("Transaction log is disabled successfully") != std::string::npos) {
        sawSwitch = true;
        break;
      }
    }
    close(fd);
  });
  Session s = runSession(install, env, {"registration", "request Velora_Server", "expect 1"},
                         "shutdown", {"--collector-output", fifo});
  reader.join();
  EXPECT_TRUE(sawSwitch);
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(1u, s.answers("Velora_Server").size());
  EXPECT_EQ(original, readFile(install.iniDir() + "/vaxel.ini"));
  EXPECT_EQ(0, backups(install));
}

TEST(Clock, WaitsFollowAClockThatTheWallClockDoesNotMove) {
  Install install;
  install.writeModel("server.json", R"({"databases": {"a.vdb": {}, "b.vdb": {}}})");
  auto env = install.env();
  env["QVD_TRACE"] = "error,core=detail,dbhealth=detail";
  env["QVD_CHECK_DB_INTERVAL"] = "3600";
  env["QVD_CHECK_DB_INCLUDE_PATH"] = "*";
  // Every wall-clock reading is an hour ahead: a deadline taken from it
  // lies an hour away.
  preloadShim(&env);
  env["QVD_SHIM_CLOCK_SHIFT"] = "3600";
  std::atomic<bool> published{false};
  std::thread server([&] {
    // The check pauses a second after each database before it publishes.
    published = waitFor(60, [&] {
      return readFile(install.traceFile()).find("Database whitespace information list saved successfully.") !=
             std::string::npos;
    });
    // Then the server asks its programs to end while the dispatch loop idles.
    install.writeModel("terminate", "");
  });
  Session s = runSession(install, env, {"registration"}, "wait", {"--wait-exit", "60"});
  server.join();
  EXPECT_TRUE(published) << s.trace;
  EXPECT_EQ(31, s.collectorStatus()) << s.problems();
}

}  // namespace
}  // namespace e2e
