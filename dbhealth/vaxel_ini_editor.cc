// VaxelIniEditor: in-place single-character edits of vaxel.ini.
#include "dbhealth/vaxel_ini_editor.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/vaxel_ini_editor");

VaxelIniEditor::VaxelIniEditor(const char* file_name) : file_name_(strdup(file_name ? file_name : "")) {}

VaxelIniEditor::~VaxelIniEditor() {
  freeBuff();
  std::free(file_name_);
}

void VaxelIniEditor::freeBuff() {
  std::free(content_);
  std::free(search_);
  content_ = nullptr;
  search_ = nullptr;
  buffer_size_ = 0;
  content_size_ = 0;
}

int VaxelIniEditor::loadFile() { return loadFile(file_name_); }

int VaxelIniEditor::loadFile(const char* name) {
  FILE* f = std::fopen(name, "r");
  if (f == nullptr) {
    int open_errno = errno;
    QVD_ALWAYS("Error: can not open file %s", name);
    QVD_ALWAYS("%s cannot be opened for reading: %s.%s", name, std::strerror(open_errno),
               open_errno == ENOENT || open_errno == ENOTDIR
                   ? " Check that QVD_VAXELINIPATH names the directory that "
                     "holds vaxel.ini."
                   : "");
    return 503;
  }
  QVD_DETAIL("%s is opened with r option successfully.", name);
  long size = -1;
  if (std::fseek(f, 0, SEEK_END) == 0) size = std::ftell(f);
  // A file we cannot measure, or one too large for the int sizes of this
  // editor, is treated as unreadable rather than overrunning a buffer.
  if (size < 0 || size >= INT_MAX - 1) {
    std::fclose(f);
    QVD_ALWAYS("Fail to read vaxel.ini");
    return 506;
  }
  QVD_DETAIL("Buffer size for file %s is %d", name, static_cast<int>(size));
  freeBuff();
  content_ = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  search_ = static_cast<char*>(std::malloc(static_cast<size_t>(size) + 1));
  if (content_ == nullptr || search_ == nullptr) {
    freeBuff();
    std::fclose(f);
    QVD_ALWAYS("Error: insufficient memory to be allocated.");
    return 2;
  }
  buffer_size_ = static_cast<int>(size) + 1;
  std::rewind(f);
  size_t got = std::fread(content_, 1, static_cast<size_t>(size), f);
  if (got < static_cast<size_t>(size)) {
    if (!std::feof(f)) {
      freeBuff();
      std::fclose(f);
      QVD_ALWAYS("Fail to read vaxel.ini");
      return 506;
    }
    QVD_DETAIL("Actual read count is %d, less than the value of position indicator %d.",
               static_cast<int>(got), static_cast<int>(size));
  }
  std::fclose(f);
  content_size_ = static_cast<int>(got);
  content_[got] = '\0';
  for (size_t i = 0; i < got; i++) {
    char c = content_[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    else if (c == '\0') c = ' ';
    search_[i] = c;
  }
  search_[got] = '\0';
  return 0;
}

int VaxelIniEditor::saveFile() { return saveFile(file_name_); }

namespace {

// Writes all of buf to fd; false on any failure.
bool WriteAll(int fd, const char* buf, size_t len) {
  while (len > 0) {
    ssize_t w = ::write(fd, buf, len);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    buf += w;
    len -= static_cast<size_t>(w);
  }
  return true;
}

}  // namespace

int VaxelIniEditor::saveFile(const char* name) {
  // Replace the file a link points at, not the link.
  char resolved[PATH_MAX];
  std::string target = realpath(name, resolved) != nullptr ? resolved : name;
  std::string tmp = target + ".qvdtmpXXXXXX";
  int fd = ::mkstemp(&tmp[0]);
  if (fd < 0) {
    int create_errno = errno;
    QVD_ALWAYS("Error: can not open file %s with write option.", name);
    size_t slash = target.find_last_of('/');
    std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
    QVD_ALWAYS(
        "No new file can be created in directory %s: %s. The directory must exist and be "
        "writable by the collector's user.",
        dir.c_str(), std::strerror(create_errno));
    return 503;
  }
  struct stat st;
  mode_t mode = 0644;
  if (::stat(target.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
    if (::fchown(fd, st.st_uid, st.st_gid) != 0) {
      // Not permitted for an ordinary user; the file then belongs to us.
    }
  }
  bool ok = WriteAll(fd, content_ ? content_ : "", static_cast<size_t>(content_size_)) &&
            ::fchmod(fd, mode) == 0 && ::fsync(fd) == 0;
  if (::close(fd) != 0) ok = false;
  if (!ok || ::rename(tmp.c_str(), target.c_str()) != 0) {
    ::unlink(tmp.c_str());
    QVD_ALWAYS("Error: can not flush to the vaxel.ini.");
    return 504;
  }
  // Make the rename itself durable.
  size_t slash = target.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : target.substr(0, slash == 0 ? 1 : slash);
  int dfd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dfd >= 0) {
    ::fsync(dfd);
    ::close(dfd);
  }
  QVD_DETAIL("Write the content to vaxel.ini successfully.");
  return 0;
}

int VaxelIniEditor::indexOfKeyValue(const char* key) {
  if (search_ == nullptr || key == nullptr || *key == '\0') {
    QVD_DETAIL("%s not found in vaxel.ini", key ? key : "");
    return -1;
  }
  const char* hit = std::strstr(search_, key);
  if (hit != nullptr) {
    long index = (hit - search_) + static_cast<long>(std::strlen(key)) + 1;
    if (index < content_size_) {
      QVD_DETAIL("Index of value for %s is %d ", key, static_cast<int>(index));
      return static_cast<int>(index);
    }
  }
  QVD_DETAIL("%s not found in vaxel.ini", key);
  return -1;
}

int VaxelIniEditor::getKeyValue(const char* key, char* value) {
  int index = indexOfKeyValue(key);
  if (index < 0) return 561;
  *value = content_[index];
  QVD_DETAIL("Value of %s is %c. ", key, *value);
  return 0;
}

int VaxelIniEditor::setKeyValue(const char* key, char value) {
  int index = indexOfKeyValue(key);
  if (index < 0) return 561;
  content_[index] = value;
  QVD_DETAIL("Value of %s is set to %c. ", key, value);
  return 0;
}
