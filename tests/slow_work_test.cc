// Requests are answered while the availability check waits for a slow
// cluster member: the check runs on a thread of its own, keeps its results
// (status file, trace), stops cleanly at shutdown, and falls back to the
// dispatch thread when its thread cannot start the server runtime.  The
// slow tables' workers likewise; neither kind of thread makes the dispatch
// loop wait while it starts its runtime behind another process's hold on
// the installation's lock file; and a worker whose answer could not be sent
// for lack of memory releases the request's id.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e_testutil.h"

namespace e2e {
namespace {

// A cluster whose member CN=slow/O=acme answers after `delayMs`.
std::string slowCluster(int delayMs, const std::string& extra = "") {
  return R"({"servers": {"CN=slow/O=acme": {"ping": 0, "delayMs": )" + std::to_string(delayMs) +
         R"(}, "CN=down/O=acme": 2566}, "cluster": {"name": "c1", "members": ["CN=slow/O=acme", "CN=down/O=acme"]})" +
         extra + "}";
}

// `n` requests for Velora_Server, one after another: each is one pass of the
// dispatch loop, so 35 of them make the loop due for a check.
std::vector<std::string> requests(int n) {
  std::vector<std::string> script = {"registration"};
  for (int i = 0; i < n; ++i) {
    script.push_back("request Velora_Server");
    script.push_back("expect 1");
  }
  return script;
}

// Positions of every occurrence of `text` in the trace.
std::vector<size_t> all(const Session& s, const std::string& text) {
  std::vector<size_t> at;
  for (size_t p = s.trace.find(text); p != std::string::npos; p = s.trace.find(text, p + 1))
    at.push_back(p);
  return at;
}

TEST(SlowMember, RequestsAreAnsweredWhileItsPingIsUnderway) {
  Install install;
  install.writeModel("server.json", slowCluster(3000));
  // 40 requests make the loop start a check; the next five come while it
  // waits for the slow member.
  std::vector<std::string> script = requests(40);
  script.push_back("sleep 0.5");
  for (int i = 0; i < 5; ++i) script.insert(script.end(), {"request Velora_Server", "expect 1"});
  script.push_back("sleep 4");  // the check in progress completes
  Session s = runSession(install, install.env(), script);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(45u, s.answers("Velora_Server").size());
  EXPECT_TRUE(s.traced("Started availability monitor thread"));

  // Start-up's check, then one from the loop.
  std::vector<size_t> pings = all(s, "Calling API to ping server CN=slow/O=acme.");
  std::vector<size_t> times = all(s, "Server CN=slow/O=acme response time in seconds");
  ASSERT_EQ(2u, pings.size()) << s.trace;
  ASSERT_EQ(2u, times.size());
  // While the loop's ping of the slow member was underway, requests were
  // taken and answered.
  std::vector<size_t> answered = all(s, "Main(CN=srv1/O=acme) received request");
  size_t during = 0;
  for (size_t a : answered)
    if (a > pings[1] && a < times[1]) ++during;
  EXPECT_GE(during, 5u) << s.trace;
  // The check still ends with the status file: one member of two answers.
  EXPECT_EQ(2u, all(s, "Writing server status:0, cluster status:8").size());
  EXPECT_EQ("0\n8\n", readFile(install.statusFile()));
}

TEST(SlowMember, ShutdownEndsTheCheckAfterThePingAtHand) {
  Install install;
  install.writeModel("server.json", slowCluster(3000));
  // The agent ends the conversation while the loop's check waits for the
  // slow member (the monitor starts beside the loop, so its ping begins a
  // moment after the check is due).
  std::vector<std::string> script = requests(40);
  script.push_back("sleep 1.5");
  Session s = runSession(install, install.env(), script);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  std::vector<size_t> pings = all(s, "Calling API to ping server CN=slow/O=acme.");
  ASSERT_EQ(2u, pings.size()) << s.trace;
  // The member after the slow one is not pinged again, and the half-done
  // run writes no status file: the file keeps start-up's complete result.
  EXPECT_EQ(1u, all(s, "Calling API to ping server CN=down/O=acme.").size());
  EXPECT_EQ(1u, all(s, "Writing server status:").size());
  EXPECT_EQ("0\n8\n", readFile(install.statusFile()));
  // The server runtime ends only after the ping returned.
  size_t pingDone = s.trace.rfind("Server CN=slow/O=acme response time in seconds");
  size_t term = s.trace.find("calling VxTermRuntime...");
  ASSERT_NE(std::string::npos, term);
  EXPECT_LT(pingDone, term);
}

TEST(SlowMember, ChecksRunOnTheDispatchThreadWhenTheMonitorCannotStart) {
  Install install;
  install.writeModel("server.json", slowCluster(0, R"(, "initThread": 421)"));
  // Whether the requests' passes alone bring the loop's check due depends on
  // timing (passes made while the monitor thread tries to start are not
  // counted); idle passes, one a second, make up the rest.  So the session
  // goes on until the loop's check has written the status file.
  std::vector<std::string> script = requests(40);
  script.push_back("expect-file \"" + install.traceFile() + "\" 2 \"Writing server status:0, cluster status:8\" 120");
  Session s = runSession(install, install.env(), script);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("availability monitor: VxInitThread failed with rc: 421"));
  EXPECT_TRUE(s.traced("availability monitor: the dispatch loop runs the availability checks itself"));
  EXPECT_EQ(40u, s.answers("Velora_Server").size());
  // Start-up's check and the loop's.
  EXPECT_EQ(2u, all(s, "Writing server status:0, cluster status:8").size()) << s.trace;
}

// Requests for the replication and group-update tables, each table three
// times, among requests for another table.
Session slowTables(const Install& install, const std::string& model) {
  install.writeModel("server.json", model);
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "on";
  env["QVD_VELORA_GROUP_MONITOR"] = "ON";
  std::vector<std::string> script = {"registration"};
  for (int round = 0; round < 3; ++round) {
    script.push_back("request Velora_Replication Velora_Group_Updates Velora_Server");
    script.push_back("expect all");
  }
  return runSession(install, env, script);
}

// The ids of the answers for `group`, in the order they arrived.
std::vector<std::string> answerIds(const Session& s, const std::string& group) {
  std::vector<std::string> ids;
  for (const Json& a : s.answers(group)) ids.push_back(a["id"].get<std::string>());
  return ids;
}

TEST(SlowTables, AnsweredInOrderByAWorkerOfTheirOwn) {
  Install install;
  Session s = slowTables(install, "{}");
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ((std::vector<std::string>{"1", "4", "7"}), answerIds(s, "Velora_Replication"));
  EXPECT_EQ((std::vector<std::string>{"2", "5", "8"}), answerIds(s, "Velora_Group_Updates"));
  EXPECT_EQ(3u, s.answers("Velora_Server").size());
  // One worker per table, started with its first request.
  EXPECT_EQ(2u, all(s, "Started worker thread").size());
  for (const char* table : {"Velora_Replication", "Velora_Group_Updates"}) {
    EXPECT_EQ(1u, all(s, std::string(" for ") + table + "\n").size()) << table;
    EXPECT_EQ(3u, all(s, std::string(" for ") + table + " handed to its worker").size()) << table;
  }
}

TEST(SlowTables, AnsweredByTheLoopWhenTheirWorkerCannotStart) {
  Install install;
  Session s = slowTables(install, R"({"initThread": 421})");
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("worker of Velora_Replication: VxInitThread failed with rc: 421"));
  EXPECT_TRUE(s.traced("worker of Velora_Replication: the dispatch loop answers Velora_Replication itself"));
  // At most the first request of each table went to the starting worker
  // (the worker may have failed before it was handed over), and what it
  // took it gave back; the later ones stay with the loop.
  for (const char* table : {"Velora_Replication", "Velora_Group_Updates"}) {
    size_t handed = all(s, std::string(" for ") + table + " handed to its worker").size();
    EXPECT_LE(handed, 1u) << table;
    EXPECT_EQ(handed, all(s, std::string(" for ") + table + " given back to the dispatch loop").size())
        << table;
  }
  EXPECT_EQ((std::vector<std::string>{"1", "4", "7"}), answerIds(s, "Velora_Replication"));
  EXPECT_EQ((std::vector<std::string>{"2", "5", "8"}), answerIds(s, "Velora_Group_Updates"));
  // The worker is tried once per table, not once per request.
  EXPECT_EQ(2u, all(s, "Started worker thread").size());
}


// Holds the installation's lock file as another collector's start does,
// from take() until release() (or the end of the object).
class InstallLock {
 public:
  explicit InstallLock(const Install& install) : path_(install.binDir() + "/qvdstart.sh") {}
  ~InstallLock() { release(); }
  bool take() {
    fd_ = open(path_.c_str(), O_RDWR);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    return fd_ >= 0 && fcntl(fd_, F_SETLKW, &fl) == 0;
  }
  void release() {
    if (fd_ < 0) return;
    close(fd_);  // ends the record lock
    fd_ = -1;
  }

 private:
  std::string path_;
  int fd_ = -1;
};

// The answers for `group` that agentsim has reported so far in the running
// session of `install` (it writes its report line by line).
size_t answersSoFar(const Install& install, const std::string& group) {
  size_t n = 0;
  DIR* dir = opendir(install.root().c_str());
  if (dir == nullptr) return 0;
  while (dirent* e = readdir(dir)) {
    std::string name = e->d_name;
    if (name.rfind("session", 0) != 0 || name.size() < 5 || name.substr(name.size() - 5) != ".json")
      continue;
    std::istringstream report(readFile(install.root() + "/" + name));
    for (std::string line; std::getline(report, line);) {
      Json e = Json::parse(line, nullptr, false);
      if (!e.is_discarded() && e.value("type", "") == "data" && e.value("group", "") == group) ++n;
    }
  }
  closedir(dir);
  return n;
}

// Runs `script` (after the registration and a pause in which this test
// takes the installation's lock file) while the lock is held until agentsim
// has reported `wanted` answers for Velora_Server or 30 seconds have passed.
// `waiterStarted` is the trace line of the thread that then waits for the
// lock.  True in *whileHeld when every wanted answer came while it was held.
Session whileAnotherProcessHoldsTheLock(const Install& install, std::map<std::string, std::string> env,
                                        const std::vector<std::string>& script, size_t wanted,
                                        const std::string& waiterStarted, bool* whileHeld) {
  env["QVD_TRACE"] = "error,core=detail,dbhealth=detail";
  std::vector<std::string> full = {"registration", "sleep 3"};
  full.insert(full.end(), script.begin(), script.end());
  InstallLock lock(install);
  std::atomic<bool> answered{false}, waiterBeforeLock{false}, waiterDuringLock{false};
  std::thread holder([&] {
    // Taken once start-up's own use of the lock is over.
    for (int i = 0; i < 600 && readFile(install.traceFile()).find("cp_RegistrationComplete") ==
                                  std::string::npos;
         ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    waiterBeforeLock = readFile(install.traceFile()).find(waiterStarted) != std::string::npos;
    lock.take();
    for (int i = 0; i < 600 && !answered; ++i) {
      answered = answersSoFar(install, "Velora_Server") >= wanted;
      if (!answered) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    waiterDuringLock = readFile(install.traceFile()).find(waiterStarted) != std::string::npos;
    lock.release();
  });
  Session s = runSession(install, env, full);
  holder.join();
  EXPECT_FALSE(waiterBeforeLock) << "the lock was taken too late to be waited for";
  EXPECT_TRUE(waiterDuringLock) << s.trace;
  *whileHeld = answered;
  return s;
}

TEST(LockFile, OtherTablesAreAnsweredWhileAWorkerWaitsForIt) {
  Install install;
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "on";
  bool whileHeld = false;
  Session s = whileAnotherProcessHoldsTheLock(
      install, env, {"request Velora_Replication", "request Velora_Server", "expect 1 60", "expect all 60"},
      1, "Started worker thread", &whileHeld);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(whileHeld) << s.trace;
  // The replication request waited for its worker, which answered it once
  // the lock was free.
  EXPECT_EQ(1u, s.answers("Velora_Replication").size());
  EXPECT_EQ(1u, all(s, "Velora_Replication handed to its worker").size());
}

TEST(LockFile, RequestsAreAnsweredWhileTheAvailabilityMonitorWaitsForIt) {
  Install install;
  // 40 requests one after another make the loop due for its first check,
  // which starts the monitor.
  std::vector<std::string> script;
  for (int i = 0; i < 40; ++i) script.insert(script.end(), {"request Velora_Server", "expect 1 60"});
  script.push_back("sleep 1");
  bool whileHeld = false;
  Session s = whileAnotherProcessHoldsTheLock(install, install.env(), script, 40,
                                              "Started availability monitor thread", &whileHeld);
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(whileHeld) << s.trace;
  EXPECT_EQ(40u, s.answers("Velora_Server").size());
}

TEST(SlowTables, AnIdWhoseAnswerCouldNotBeSentForLackOfMemoryIsReleased) {
  Install install;
  auto env = install.env();
  env["QVD_LOG_VDB_MONITOR"] = "on";
  // No table's answer buffer can be had: every answer fails for lack of
  // memory (CP_ERR_MEMORY, -10).
  env["CDP_CPCI_INITIAL_SIZE"] = "2147483647";
  // The agent sends each id again once the first request had its turn; a
  // released id is taken as a new request, an outstanding one is skipped.
  Session s = runSession(install, env,
                         {"registration", "request Velora_Replication id=5", "request Velora_Server id=6",
                          "expect-none 5", "request Velora_Replication id=5", "request Velora_Server id=6",
                          "expect-none 5"});
  ASSERT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_FALSE(s.traced("already outstanding, request skipped")) << s.trace;
  EXPECT_EQ(2u, all(s, "cp_SendData(5) for Velora_Replication failed: -10").size()) << s.trace;
  EXPECT_EQ(2u, all(s, "cp_SendData(6) for Velora_Server failed: -10").size()) << s.trace;
}

}  // namespace
}  // namespace e2e
