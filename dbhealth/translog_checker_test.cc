// The transaction-log switch against temporary installations.
#include "dbhealth/translog_checker.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dbhealth/file_lock.h"
#include "dbhealth/vaxel_ini_editor.h"
#include "framework/trace.h"

namespace {

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void WriteFile(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << data;
}

std::vector<std::string> ListDir(const std::string& dir) {
  std::vector<std::string> names;
  std::string cmd = "ls -A " + dir;
  FILE* p = popen(cmd.c_str(), "r");
  char buf[512];
  while (p && fgets(buf, sizeof buf, p)) {
    std::string s(buf);
    if (!s.empty() && s.back() == '\n') s.pop_back();
    names.push_back(s);
  }
  if (p) pclose(p);
  return names;
}

// A temporary installation: <home>/<arch>/vd/bin/qvdstart.sh as the lock
// file, <home>/config for backups and <ini>/vaxel.ini.
class TransLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvd_translog_XXXXXX";
    root_ = mkdtemp(tmpl);
    home_ = root_ + "/home";
    ini_dir_ = root_ + "/server";
    std::string cmd = "mkdir -p " + home_ + "/linux/vd/bin " + home_ + "/config " + ini_dir_;
    ASSERT_EQ(0, system(cmd.c_str()));
    WriteFile(home_ + "/linux/vd/bin/qvdstart.sh", "#!/bin/sh\n");
    VeloraTransLogChecker::setupEnv(ini_dir_.c_str(), home_.c_str(), "linux");
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + root_;
    (void)system(cmd.c_str());
  }
  std::string ini() const { return ini_dir_ + "/vaxel.ini"; }
  std::vector<std::string> backups() const { return ListDir(home_ + "/config"); }

  std::string root_, home_, ini_dir_;
};

TEST_F(TransLogTest, FileWithoutKeyIsLeftAlone) {
  const std::string text = "[Vaxel]\nKITTYPE=1\nDIRECTORY=/data\n";
  WriteFile(ini(), text);
  EXPECT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_FALSE(VeloraTransLogChecker::isChanged());
  EXPECT_EQ(text, ReadFile(ini()));
  EXPECT_TRUE(backups().empty());
  EXPECT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  EXPECT_EQ(text, ReadFile(ini()));
}

TEST_F(TransLogTest, DisableThenRestoreKeepsEveryOtherByte) {
  const std::string text =
      "[Vaxel]\r\nKITTYPE=1\r\nTRANSLOG_STATUS=1\r\nPREVIOUS_TRANSLOG_STATUS=2\r\nX=\xe9\r\n";
  WriteFile(ini(), text);
  chmod(ini().c_str(), 0640);
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_TRUE(VeloraTransLogChecker::isChanged());
  std::string disabled = text;
  disabled[disabled.find("TRANSLOG_STATUS=1") + 16] = '0';
  disabled[disabled.find("PREVIOUS_TRANSLOG_STATUS=2") + 25] = '0';
  EXPECT_EQ(disabled, ReadFile(ini()));

  // The backup is the original, named by the prefix, a dot and the time.
  std::vector<std::string> names = backups();
  ASSERT_EQ(1u, names.size());
  EXPECT_EQ(0u, names[0].rfind("vaxel.ini.", 0));
  long stamp = std::strtol(names[0].c_str() + 10, nullptr, 10);
  EXPECT_LE(std::labs(stamp - static_cast<long>(time(nullptr))), 5);
  EXPECT_EQ(text, ReadFile(home_ + "/config/" + names[0]));

  ASSERT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  EXPECT_EQ(text, ReadFile(ini()));
  EXPECT_TRUE(backups().empty());
  struct stat st;
  ASSERT_EQ(0, stat(ini().c_str(), &st));
  EXPECT_EQ(0640u, st.st_mode & 07777);
  // No temporary file is left beside the ini file.
  EXPECT_EQ(1u, ListDir(ini_dir_).size());
}

// The backup holds what vaxel.ini holds, so no one may read it who may not
// read vaxel.ini; and an administrator's link to the ini file stays a link.
TEST_F(TransLogTest, BackupHasTheIniFilesModeAndOwnerAndALinkedIniStaysLinked) {
  const std::string text = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  std::string real = root_ + "/elsewhere.ini";
  WriteFile(real, text);
  ASSERT_EQ(0, chmod(real.c_str(), 0600));
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(0, chown(real.c_str(), 4321, 4322));
  }
  ASSERT_EQ(0, symlink(real.c_str(), ini().c_str()));
  mode_t old_umask = umask(022);

  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  std::vector<std::string> names = backups();
  ASSERT_EQ(1u, names.size());
  struct stat st;
  ASSERT_EQ(0, stat((home_ + "/config/" + names[0]).c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  if (root) {
    EXPECT_EQ(4321u, st.st_uid);
    EXPECT_EQ(4322u, st.st_gid);
  }
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  umask(old_umask);

  ASSERT_EQ(0, lstat(ini().c_str(), &st));
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(text, ReadFile(real));
  ASSERT_EQ(0, stat(real.c_str(), &st));
  EXPECT_EQ(0600u, st.st_mode & 07777);
  if (root) {
    EXPECT_EQ(4321u, st.st_uid);
  }
  EXPECT_TRUE(backups().empty());
}

TEST_F(TransLogTest, LowerCaseKeyIsChangedInPlace) {
  const std::string text = "translog_status=1\nprevious_translog_status=1\n";
  WriteFile(ini(), text);
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_EQ("translog_status=0\nprevious_translog_status=0\n", ReadFile(ini()));
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  EXPECT_EQ(text, ReadFile(ini()));
}

TEST_F(TransLogTest, FirstMatchInsidePreviousKeyIsTheOneUsed) {
  // The plain substring search finds TRANSLOG_STATUS inside the longer name
  // first; the server's own file is restored byte for byte all the same.
  const std::string text = "PREVIOUS_TRANSLOG_STATUS=1\nTRANSLOG_STATUS=0\n";
  WriteFile(ini(), text);
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_TRUE(VeloraTransLogChecker::isChanged());
  EXPECT_EQ("PREVIOUS_TRANSLOG_STATUS=0\nTRANSLOG_STATUS=0\n", ReadFile(ini()));
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  EXPECT_EQ(text, ReadFile(ini()));
}

TEST_F(TransLogTest, FileWithoutPreviousKeyIsSwitchedAndRestored) {
  const std::string text = "[Vaxel]\nTRANSLOG_STATUS=1\nTRANSLOG_PATH=/log\n";
  WriteFile(ini(), text);
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_EQ("[Vaxel]\nTRANSLOG_STATUS=0\nTRANSLOG_PATH=/log\n", ReadFile(ini()));
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  EXPECT_EQ(text, ReadFile(ini()));
  EXPECT_TRUE(backups().empty());
}

TEST_F(TransLogTest, TwoCharacterSeparatorMeansNotEnabled) {
  const std::string text = "TRANSLOG_STATUS= 1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  WriteFile(ini(), text);
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_FALSE(VeloraTransLogChecker::isChanged());
  EXPECT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
  EXPECT_EQ(text, ReadFile(ini()));
}

TEST_F(TransLogTest, KeyAtEndOfFileWithoutValueIsNotFound) {
  WriteFile(ini(), "TRANSLOG_STATUS=");
  ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_FALSE(VeloraTransLogChecker::isChanged());
  EXPECT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
}

TEST_F(TransLogTest, MissingLockFileFailsAtOnce) {
  WriteFile(ini(), "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n");
  unlink((home_ + "/linux/vd/bin/qvdstart.sh").c_str());
  EXPECT_EQ(501, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_EQ("TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n", ReadFile(ini()));
  // A second thread fails the same way instead of waiting forever.
  int rc = -1;
  std::thread t([&] { rc = VeloraTransLogChecker::checkAndDisableTransLog(); });
  t.join();
  EXPECT_EQ(501, rc);
}

TEST_F(TransLogTest, MissingIniFileFailsAndReleasesTheLock) {
  EXPECT_EQ(503, VeloraTransLogChecker::checkAndDisableTransLog());
  // The lock was released: another process can take it at once.
  WriteFile(ini(), "TRANSLOG_STATUS=0\n");
  EXPECT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
}

TEST_F(TransLogTest, MissingBackupFolderFailsWithoutTouchingTheIni) {
  const std::string text = "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n";
  WriteFile(ini(), text);
  ASSERT_EQ(0, system(("rm -rf " + home_ + "/config").c_str()));
  EXPECT_EQ(503, VeloraTransLogChecker::checkAndDisableTransLog());
  EXPECT_FALSE(VeloraTransLogChecker::isChanged());
  EXPECT_EQ(text, ReadFile(ini()));
}

TEST_F(TransLogTest, ThreadsOfOneProcessDoNotOverlap) {
  WriteFile(ini(), "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=0\n");
  std::atomic<int> inside{0};
  std::atomic<int> overlaps{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < 4; i++) {
    threads.emplace_back([&] {
      for (int j = 0; j < 5; j++) {
        ASSERT_EQ(0, VeloraTransLogChecker::checkAndDisableTransLog());
        if (inside.fetch_add(1) != 0) overlaps++;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        inside.fetch_sub(1);
        ASSERT_EQ(0, VeloraTransLogChecker::checkAndEnableTransLog());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(0, overlaps.load());
  EXPECT_EQ("TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=0\n", ReadFile(ini()));
}

TEST_F(TransLogTest, ProcessesOfOneInstallationAreSerialised) {
  WriteFile(ini(), "TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n");
  // Each child disables, holds for a while, notes what it saw, and restores.
  std::string log = root_ + "/order.log";
  std::vector<pid_t> kids;
  for (int i = 0; i < 2; i++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      VeloraTransLogChecker::setupEnv(ini_dir_.c_str(), home_.c_str(), "linux");
      if (VeloraTransLogChecker::checkAndDisableTransLog() != 0) _exit(2);
      std::string seen = ReadFile(ini());
      int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
      std::string line = "begin " + std::to_string(getpid()) + " " +
                         (seen.find("TRANSLOG_STATUS=0") != std::string::npos ? "off" : "on") +
                         "\n";
      (void)!write(fd, line.data(), line.size());
      usleep(200000);
      line = "end " + std::to_string(getpid()) + "\n";
      (void)!write(fd, line.data(), line.size());
      close(fd);
      _exit(VeloraTransLogChecker::checkAndEnableTransLog() == 0 ? 0 : 3);
    }
    kids.push_back(pid);
  }
  for (pid_t k : kids) {
    int status = 0;
    waitpid(k, &status, 0);
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(0, WEXITSTATUS(status));
  }
  // begin/end pairs never interleave, and each child saw the log off.
  std::istringstream in(ReadFile(log));
  std::string word, pid, state;
  std::vector<std::string> seq;
  while (in >> word) {
    in >> pid;
    if (word == "begin") {
      in >> state;
      EXPECT_EQ("off", state);
    }
    seq.push_back(word + pid);
  }
  ASSERT_EQ(4u, seq.size());
  EXPECT_EQ("begin", seq[0].substr(0, 5));
  EXPECT_EQ(seq[0].substr(5), seq[1].substr(3));
  EXPECT_EQ(seq[2].substr(5), seq[3].substr(3));
  EXPECT_EQ("TRANSLOG_STATUS=1\nPREVIOUS_TRANSLOG_STATUS=1\n", ReadFile(ini()));
}

// Whether another process could take the write lock on `path` now.
bool OtherProcessCanLock(const char* path) {
  pid_t pid = fork();
  if (pid == 0) {
    int other = open(path, O_RDWR);
    struct flock fl = {};
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    _exit(fcntl(other, F_SETLK, &fl) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(FileLock, LockOnDescriptorZeroIsReleased) {
  char tmpl[] = "/tmp/qvd_lock_XXXXXX";
  int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  close(fd);
  // With descriptor 0 free the lock file lands on it, and 0 means "none".
  int saved_stdin = dup(0);
  close(0);
  {
    FileLock lock;
    lock.init(tmpl);
    EXPECT_EQ(0, lock.lock());
    EXPECT_FALSE(OtherProcessCanLock(tmpl));
    EXPECT_EQ(0, lock.unlock());
    EXPECT_TRUE(OtherProcessCanLock(tmpl));

    // Locking twice keeps the one lock; one unlock releases it.
    EXPECT_EQ(0, lock.lock());
    EXPECT_EQ(0, lock.lock());
    EXPECT_TRUE(lock.locked());
    EXPECT_EQ(0, lock.unlock());
    EXPECT_TRUE(OtherProcessCanLock(tmpl));
  }
  dup2(saved_stdin, 0);
  close(saved_stdin);
  unlink(tmpl);
}

TEST(VaxelIniEditor, ReadsAndWritesSingleCharacterValues) {
  char tmpl[] = "/tmp/qvd_ini_XXXXXX";
  int fd = mkstemp(tmpl);
  ASSERT_GE(fd, 0);
  std::string text("A=1\nkey_two:x\nNUL\0HERE=5\n", 25);
  ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);
  VaxelIniEditor ed(tmpl);
  ASSERT_EQ(0, ed.loadFile());
  EXPECT_EQ(static_cast<int>(text.size()), ed.contentSize());
  char v = 0;
  EXPECT_EQ(0, ed.getKeyValue("KEY_TWO", &v));
  EXPECT_EQ('x', v);
  // A NUL byte in the file does not hide the keys after it.
  EXPECT_EQ(0, ed.getKeyValue("HERE", &v));
  EXPECT_EQ('5', v);
  v = '?';
  EXPECT_EQ(561, ed.getKeyValue("ABSENT", &v));
  EXPECT_EQ('?', v);
  EXPECT_EQ(561, ed.setKeyValue("ABSENT", '1'));
  EXPECT_EQ(0, ed.setKeyValue("A", '9'));
  ASSERT_EQ(0, ed.saveFile());
  std::string expect = text;
  expect[2] = '9';
  EXPECT_EQ(expect, ReadFile(tmpl));
  EXPECT_EQ(503, ed.loadFile("/nonexistent/dir/vaxel.ini"));
  unlink(tmpl);
}

}  // namespace
