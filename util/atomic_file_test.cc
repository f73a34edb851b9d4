// AtomicFile in a temporary tree: owner, group and mode kept, links
// replaced rather than followed, nothing left behind, and (as root) what
// another user may and may not do.
#include "util/atomic_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr uid_t kNobody = 65534;

std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

void writeFile(const std::string& path, const std::string& text, mode_t mode) {
  unlink(path.c_str());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0) << path;
  ASSERT_EQ(static_cast<ssize_t>(text.size()), write(fd, text.data(), text.size()));
  close(fd);
  ASSERT_EQ(0, chmod(path.c_str(), mode));
}

struct stat statOf(const std::string& path) {
  struct stat st;
  memset(&st, 0, sizeof st);
  EXPECT_EQ(0, lstat(path.c_str(), &st)) << path;
  return st;
}

std::vector<std::string> names(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (dirent* e = readdir(d))
      if (e->d_name[0] != '.') out.push_back(e->d_name);
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool replace(const std::string& path, const std::string& text, AtomicFile::Ownership ownership,
             const struct stat* like = nullptr) {
  AtomicFile file(path, ownership, like);
  return file.open() && file.write(text.data(), text.size()) && file.commit();
}

// Runs `body` in a child process as user nobody (no supplementary groups)
// and returns its result, or -1 when the child did not end normally.
int asNobody(const std::function<int()>& body) {
  pid_t pid = fork();
  if (pid == 0) {
    if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0) _exit(99);
    _exit(body());
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/qvd_atomic_XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(tmpl));
    dir_ = tmpl;
    old_umask_ = umask(022);
  }
  void TearDown() override {
    umask(old_umask_);
    std::string cmd = "rm -rf " + dir_;
    (void)system(cmd.c_str());
  }
  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  std::string dir_;
  mode_t old_umask_ = 0;
};

TEST_F(AtomicFileTest, ReplacementKeepsTheModeWhateverTheUmask) {
  writeFile(path("status.out"), "old\n", 0644);
  umask(077);
  ASSERT_TRUE(replace(path("status.out"), "new\n", AtomicFile::Ownership::kWherePossible));
  EXPECT_EQ("new\n", readFile(path("status.out")));
  EXPECT_EQ(0644u, statOf(path("status.out")).st_mode & 07777);

  // A private file stays private, even with no umask at all.
  writeFile(path("vaxel.ini"), "A=1\n", 0600);
  umask(0);
  ASSERT_TRUE(replace(path("vaxel.ini"), "A=0\n", AtomicFile::Ownership::kExact));
  EXPECT_EQ(0600u, statOf(path("vaxel.ini")).st_mode & 07777);

  // A new file is made as fopen makes one: 0666 less the umask.
  umask(027);
  ASSERT_TRUE(replace(path("fresh"), "x", AtomicFile::Ownership::kWherePossible));
  EXPECT_EQ(0640u, statOf(path("fresh")).st_mode & 07777);

  // A copy takes the mode of the file it copies.
  umask(022);
  struct stat source = statOf(path("vaxel.ini"));
  ASSERT_TRUE(replace(path("backup"), "A=1\n", AtomicFile::Ownership::kWherePossible, &source));
  EXPECT_EQ(0600u, statOf(path("backup")).st_mode & 07777);

  EXPECT_EQ((std::vector<std::string>{"backup", "fresh", "status.out", "vaxel.ini"}), names(dir_))
      << "no temporary file is left";
}

TEST_F(AtomicFileTest, LinksAreReplacedNeverWrittenThrough) {
  writeFile(path("victim"), "precious\n", 0644);
  ASSERT_EQ(0, symlink(path("victim").c_str(), path("template.out").c_str()));
  ASSERT_EQ(0, symlink(path("nowhere").c_str(), path("dangling").c_str()));
  ASSERT_TRUE(replace(path("template.out"), "template\n", AtomicFile::Ownership::kWherePossible));
  ASSERT_TRUE(replace(path("dangling"), "mine\n", AtomicFile::Ownership::kWherePossible));
  EXPECT_EQ("precious\n", readFile(path("victim")));
  EXPECT_TRUE(S_ISREG(statOf(path("template.out")).st_mode));
  EXPECT_EQ("template\n", readFile(path("template.out")));
  EXPECT_FALSE(S_ISLNK(statOf(path("dangling")).st_mode));
  EXPECT_NE(0, access(path("nowhere").c_str(), F_OK));

  // A directory at the name is reported before anything is written.
  ASSERT_EQ(0, mkdir(path("dir").c_str(), 0755));
  AtomicFile file(path("dir"), AtomicFile::Ownership::kWherePossible);
  EXPECT_FALSE(file.open());
  EXPECT_EQ(AtomicFile::Failure::kCreate, file.failure());
  EXPECT_NE(std::string::npos, file.reason().find("is a directory")) << file.reason();
}

TEST_F(AtomicFileTest, TemporaryFileIsPrivateToThisProcessAndRemovedWhenNotCommitted) {
  {
    AtomicFile file(path("target"), AtomicFile::Ownership::kWherePossible);
    ASSERT_TRUE(file.open());
    ASSERT_TRUE(file.write("abc", 3));
    EXPECT_EQ(0u, file.tempName().find(path("target") + ".qvdtmp")) << file.tempName();
    // Close-on-exec: a child started meanwhile does not inherit it.
    bool found = false;
    for (const std::string& fd : names("/proc/self/fd")) {
      char target[512];
      ssize_t n = readlink(("/proc/self/fd/" + fd).c_str(), target, sizeof target - 1);
      if (n <= 0 || std::string(target, static_cast<size_t>(n)) != file.tempName()) continue;
      found = true;
      EXPECT_TRUE(fcntl(std::stoi(fd), F_GETFD) & FD_CLOEXEC);
    }
    EXPECT_TRUE(found);
  }
  EXPECT_TRUE(names(dir_).empty()) << "the uncommitted temporary file is removed";

  // Writing into a stream works the same way.
  AtomicFile file(path("target"), AtomicFile::Ownership::kWherePossible);
  ASSERT_TRUE(file.open());
  ASSERT_NE(nullptr, file.stream());
  fprintf(file.stream(), "%d\n%d\n", 0, 8);
  ASSERT_TRUE(file.commit());
  EXPECT_EQ("0\n8\n", readFile(path("target")));
}

TEST_F(AtomicFileTest, OwnerAndGroupKeptOrTheFileLeftAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of other users";
  // The server's ini file: another user's, group-writable, in a directory
  // everyone may write.
  ASSERT_EQ(0, chmod(dir_.c_str(), 0777));
  const uid_t server = 4321;
  const gid_t group = 4322;
  writeFile(path("vaxel.ini"), "TRANSLOG_STATUS=1\n", 0660);
  ASSERT_EQ(0, chown(path("vaxel.ini").c_str(), server, group));

  // Root may give the new file its owner: it keeps owner, group and mode.
  ASSERT_TRUE(replace(path("vaxel.ini"), "TRANSLOG_STATUS=0\n", AtomicFile::Ownership::kExact));
  struct stat st = statOf(path("vaxel.ini"));
  EXPECT_EQ(server, st.st_uid);
  EXPECT_EQ(group, st.st_gid);
  EXPECT_EQ(0660u, st.st_mode & 07777);

  // Another user may not: the file stays as it is, and the reason is named.
  ASSERT_EQ(0, chmod(path("vaxel.ini").c_str(), 0666));
  std::string reasonFile = path("reason");
  int rc = asNobody([&] {
    AtomicFile file(path("vaxel.ini"), AtomicFile::Ownership::kExact);
    bool opened = file.open();
    std::ofstream(reasonFile) << file.reason();
    return opened ? 1 : file.failure() == AtomicFile::Failure::kKeep ? 0 : 2;
  });
  EXPECT_EQ(0, rc);
  EXPECT_NE(std::string::npos, readFile(reasonFile).find("belongs to uid 4321, gid 4322"))
      << readFile(reasonFile);
  st = statOf(path("vaxel.ini"));
  EXPECT_EQ(server, st.st_uid);
  EXPECT_EQ("TRANSLOG_STATUS=0\n", readFile(path("vaxel.ini")));

  // Nor when it may not write the file at all, though it may write the
  // directory.
  ASSERT_EQ(0, chmod(path("vaxel.ini").c_str(), 0644));
  rc = asNobody([&] {
    AtomicFile file(path("vaxel.ini"), AtomicFile::Ownership::kExact);
    bool opened = file.open();
    std::ofstream(reasonFile) << file.reason();
    return opened ? 1 : file.failure() == AtomicFile::Failure::kKeep ? 0 : 2;
  });
  EXPECT_EQ(0, rc);
  EXPECT_NE(std::string::npos, readFile(reasonFile).find("may not be written")) << readFile(reasonFile);
  EXPECT_EQ(server, statOf(path("vaxel.ini")).st_uid);

  // A file of the collector's own making is replaced even so, with its
  // mode; the owner is what this user may give.
  rc = asNobody([&] {
    return replace(path("vaxel.ini"), "other\n", AtomicFile::Ownership::kWherePossible) ? 0 : 1;
  });
  EXPECT_EQ(0, rc);
  EXPECT_EQ(0644u, statOf(path("vaxel.ini")).st_mode & 07777);
  EXPECT_EQ(kNobody, statOf(path("vaxel.ini")).st_uid);
  unlink(reasonFile.c_str());
  EXPECT_EQ((std::vector<std::string>{"vaxel.ini"}), names(dir_));
}

}  // namespace
