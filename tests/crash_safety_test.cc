// The files the collector writes survive its sudden end: vaxel.ini is
// always whole (the original or the switched bytes, with its permissions),
// a reader never sees a half-written status file, and a backup left by a
// killed run is reported at the next start without touching anything.
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <chrono>
#include <cstdlib>
#include <random>
#include <regex>
#include <set>
#include <thread>
#include <ctime>
#include <map>

#include "e2e_testutil.h"

namespace e2e {
namespace {

using Clock = std::chrono::steady_clock;

std::string iniPath(const Install& install) { return install.iniDir() + "/vaxel.ini"; }

void writeIni(const Install& install, const std::string& text, mode_t mode) {
  std::string path = iniPath(install);
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ((ssize_t)text.size(), write(fd, text.data(), text.size()));
  close(fd);
  ASSERT_EQ(0, chmod(path.c_str(), mode));
}

std::vector<std::string> backups(const Install& install) {
  std::vector<std::string> names;
  if (DIR* d = opendir((install.home() + "/config").c_str())) {
    while (dirent* e = readdir(d))
      if (strncmp(e->d_name, "vaxel.ini.", 10) == 0 &&
          strspn(e->d_name + 10, "0123456789") == strlen(e->d_name + 10) && e->d_name[10] != '\0')
        names.push_back(e->d_name);
    closedir(d);
  }
  return names;
}

// Starts qvdclient directly with `env` (and the sanitizer settings).
pid_t startCollector(const std::map<std::string, std::string>& env) {
  std::vector<std::string> vars;
  for (const auto& [name, value] : env) vars.push_back(name + "=" + value);
  for (const auto& [name, value] : sanitizerOptions()) vars.push_back(name + "=" + value);
  std::string bin = builtProgram("qvdclient");
  pid_t pid = fork();
  if (pid == 0) {
    std::vector<char*> envp;
    for (std::string& v : vars) envp.push_back(v.data());
    envp.push_back(nullptr);
    char* argv[] = {bin.data(), nullptr};
    int devnull = open("/dev/null", O_WRONLY);
    dup2(devnull, 1);
    dup2(devnull, 2);
    execve(argv[0], argv, envp.data());
    _exit(127);
  }
  return pid;
}

TEST(CrashSafety, IniIsWholeWhenTheCollectorIsKilledAtAnyMoment) {
  Install install;
  // A large file makes every write take long enough to be hit.
  std::string original;
  for (int i = 0; original.size() < (2u << 20); ++i)
    original += "; filler line " + std::to_string(i) + " keeps the file large\n";
  original += "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\nTRANSLOG_Path=/log\n";
  std::string switched = original;
  switched[switched.find("\nTRANSLOG_STATUS=1") + 17] = '0';
  switched[switched.find("PREVIOUS_TRANSLOG_STATUS=1") + 25] = '0';
  const mode_t mode = 0640;

  auto env = install.env();
  // Nothing listens there: the collector ends at its agent connection,
  // right after the runtime start.
  env["CP_PORT"] = std::to_string(freePort());
  env["QVD_TRACE"] = "error";

  // How long the switch around the runtime start takes here, up to the
  // restored file: the kills are spread over that time.
  writeIni(install, original, mode);
  unlink(install.traceFile().c_str());
  auto t0 = Clock::now();
  pid_t pid = startCollector(env);
  ASSERT_GT(pid, 0);
  while (readFile(install.traceFile()).find("Transaction log is restored successfully") ==
             std::string::npos &&
         Clock::now() - t0 < std::chrono::seconds(60))
    std::this_thread::sleep_for(std::chrono::microseconds(200));
  long runUs = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - t0).count();
  int status = 0;
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  ASSERT_EQ(original, readFile(iniPath(install))) << "a whole switch restores the file";
  env["QVD_TRACE"] = "none";

  std::mt19937 random(12345);
  std::uniform_int_distribution<long> moment(0, runUs);
  int sawOriginal = 0, sawSwitched = 0;
  for (int round = 0; round < 100; ++round) {
    writeIni(install, original, mode);
    pid = startCollector(env);
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(moment(random)));
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    std::string now = readFile(iniPath(install));
    if (now == original) {
      ++sawOriginal;
    } else if (now == switched) {
      ++sawSwitched;
    } else {
      FAIL() << "round " << round << ": vaxel.ini is neither the original nor the switched file ("
             << now.size() << " bytes)";
    }
    struct stat st;
    ASSERT_EQ(0, stat(iniPath(install).c_str(), &st));
    EXPECT_EQ(mode, st.st_mode & 07777) << "round " << round;
  }
  std::cout << "kills: " << sawOriginal << " left the original, " << sawSwitched
            << " the switched file; whole run " << runUs << " us\n";

  // A backup left by a killed run is reported at the next start and both
  // files stay as they are.
  std::vector<std::string> left = backups(install);
  if (!left.empty()) {
    std::string ini = readFile(iniPath(install));
    Session s = runSession(install, install.env(), {"registration"});
    EXPECT_EQ(30, s.collectorStatus()) << s.problems();
    for (const std::string& name : left)
      EXPECT_TRUE(s.traced("Warning: found backup file " + install.home() + "/config/" + name)) << name;
    EXPECT_EQ(left.size(), backups(install).size());
    EXPECT_EQ(ini, readFile(iniPath(install)));
  }
}

TEST(CrashSafety, LeftoverBackupIsReportedAndNothingChanged) {
  Install install;
  // What a run killed after switching the log off leaves behind.
  const std::string backup = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=2\n";
  const std::string ini = "TRANSLOG_STATUS=0\nPREVIOUS_TRANSLOG_STATUS=0\n";
  writeIni(install, ini, 0644);
  std::string backupPath = install.home() + "/config/vaxel.ini.1796603462";
  {
    FILE* f = fopen(backupPath.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs(backup.c_str(), f);
    fclose(f);
  }
  // Files that are not backups of vaxel.ini are not reported.
  for (const char* other : {"/config/vaxel.ini.123.qvdtmpAbCdEf", "/config/vaxel.ini.old"})
    fclose(fopen((install.home() + other).c_str(), "w"));

  auto env = install.env();
  env["QVD_TRACE"] = "error";
  Session s = runSession(install, env, {"registration"});
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Warning: found backup file " + backupPath +
                       " left by a collector that ended before it restored the transaction log. " +
                       iniPath(install) +
                       " may still have TRANSLOG_STATUS and PREVIOUS_TRANSLOG_STATUS switched off: "
                       "compare the two files, set both values in " +
                       iniPath(install) +
                       " back to what the backup holds, then delete the backup. The collector "
                       "changes neither file."))
      << s.trace;
  // Once per start, not once per thread that starts the runtime.
  size_t first = s.trace.find("Warning: found backup file");
  EXPECT_EQ(std::string::npos, s.trace.find("Warning: found backup file", first + 1));
  EXPECT_EQ(std::string::npos, s.trace.find("vaxel.ini.old"));
  EXPECT_EQ(ini, readFile(iniPath(install)));
  EXPECT_EQ(backup, readFile(backupPath));
  EXPECT_TRUE(s.traced("Transaction log is not enabled"));
}

TEST(CrashSafety, NewBackupNeverReplacesOneLeftBehind) {
  Install install;
  const std::string ini = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  writeIni(install, ini, 0644);
  // Backups left by killed runs under the names of this second and the next
  // few, each with its own content.
  long now = static_cast<long>(time(nullptr));
  std::map<std::string, std::string> left;
  for (long t = now; t < now + 4; ++t) {
    std::string path = install.home() + "/config/vaxel.ini." + std::to_string(t);
    left[path] = "left at " + std::to_string(t) + "\n";
    FILE* f = fopen(path.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fputs(left[path].c_str(), f);
    fclose(f);
  }
  Session s = runSession(install, install.env(), {"registration"});
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_TRUE(s.traced("Transaction log is restored successfully"));
  EXPECT_EQ(ini, readFile(iniPath(install)));
  for (const auto& [path, content] : left) EXPECT_EQ(content, readFile(path)) << path;
  EXPECT_EQ(left.size(), backups(install).size());
}

TEST(CrashSafety, StatusFileReaderNeverSeesItEmptyOrPartial) {
  Install install;
  install.writeModel("server.json",
                     R"({"servers": {"CN=m2/O=acme": 2566}, "cluster": {"name": "c1", "members": ["CN=m1/O=acme", "CN=m2/O=acme"]}})");
  std::atomic<bool> done{false};
  std::atomic<long> reads{0}, rewrites{0}, bad{0};
  std::string badContent;
  std::thread reader([&] {
    const std::regex whole("-?[0-9]+\n-?[0-9]+\n");
    std::pair<ino_t, long> last{0, 0};
    while (!done.load()) {
      int fd = open(install.statusFile().c_str(), O_RDONLY);
      if (fd < 0) continue;  // before start-up wrote it
      struct stat st;
      fstat(fd, &st);
      char buf[64];
      ssize_t n = read(fd, buf, sizeof buf);
      close(fd);
      std::string text(buf, n > 0 ? static_cast<size_t>(n) : 0);
      ++reads;
      std::pair<ino_t, long> version{st.st_ino, st.st_mtim.tv_nsec};
      if (version != last) ++rewrites;
      last = version;
      if (!std::regex_match(text, whole) && bad++ == 0) badContent = text;
    }
  });
  // Requests one after another make the loop run a check every 31 passes.
  Session s = runSession(install, install.env(), {}, "shutdown",
                         {"--bench", "--bench-requests", "60000", "--bench-bursts", "1"});
  done = true;
  reader.join();
  EXPECT_EQ(30, s.collectorStatus()) << s.problems();
  EXPECT_EQ(0, bad.load()) << "first bad content: \"" << badContent << "\"";
  std::cout << reads.load() << " reads saw " << rewrites.load() << " versions of the status file\n";
  // How many rewrites a reader sees depends on the machine's load; a few
  // dozen already show that it never met a half-written file.
  EXPECT_GT(rewrites.load(), 20);
  EXPECT_EQ("0\n8\n", readFile(install.statusFile()));
}

}  // namespace
}  // namespace e2e
