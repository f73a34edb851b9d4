// FileLock: whole-file fcntl write lock.
#include "dbhealth/file_lock.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/file_lock");

FileLock::~FileLock() {
  if (file_descriptor_ > 0) ::close(file_descriptor_);
  std::free(file_name_);
}

void FileLock::init(const char* file_name) {
  std::free(file_name_);
  file_name_ = strdup(file_name ? file_name : "");
}

int FileLock::lock() {
  const char* name = file_name_ ? file_name_ : "";
  // Already held by this object: closing the descriptor would drop the lock
  // and opening another would leak it, so the lock simply stays.
  if (file_descriptor_ != 0) return 0;
  int fd = ::open(name, O_RDWR | O_CLOEXEC);
  int open_errno = errno;
  if (fd == 0) {
    // Descriptor 0 means "none held" here; move the file off it.
    int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    open_errno = errno;
    ::close(fd);
    fd = moved;
  }
  if (fd < 0) {
    QVD_ALWAYS("Error: failed to open file %s, and error code is %d.", name, fd);
    QVD_ALWAYS(
        "The lock file %s cannot be opened for reading and writing: %s. It must exist (it "
        "is never created) and be readable and writable by the collector's user.",
        name, std::strerror(open_errno));
    locked_ = false;
    return 501;
  }
  QVD_DETAIL("Open file %s successfully.", name);
  struct flock fl;
  std::memset(&fl, 0, sizeof fl);
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = 0;
  fl.l_len = 0;  // the whole file, however long it grows
  int rc;
  do {
    rc = ::fcntl(fd, F_SETLKW, &fl);
  } while (rc != 0 && errno == EINTR);
  if (rc != 0) {
    int lock_errno = errno;
    QVD_ALWAYS("Error: failed to lock file %s. errno is %d.", name, lock_errno);
    QVD_ALWAYS("The lock file %s cannot be locked: %s.", name, std::strerror(lock_errno));
    ::close(fd);
    locked_ = false;
    return 501;
  }
  QVD_DETAIL("Lock file %s successfully.", name);
  file_descriptor_ = fd;
  locked_ = true;
  return 0;
}

int FileLock::unlock() {
  const char* name = file_name_ ? file_name_ : "";
  if (file_descriptor_ != 0) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_UNLCK;
    fl.l_whence = SEEK_SET;
    if (::fcntl(file_descriptor_, F_SETLK, &fl) != 0) {
      QVD_ALWAYS("Error: failed to unlock file %s. errno is %d.", name, errno);
      return 502;
    }
    ::close(file_descriptor_);
    file_descriptor_ = 0;
    QVD_DETAIL("Unlocked file %s successfully.", name);
  } else {
    QVD_DETAIL("fileDescriptor is 0. There will be no unlock action.");
  }
  locked_ = false;
  return 0;
}
