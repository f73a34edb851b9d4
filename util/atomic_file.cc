// AtomicFile: temporary file beside the target, renamed into place.
#include "util/atomic_file.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>

namespace {

// A name no earlier call of this process produced; O_EXCL makes the
// creation safe whatever the name, this only keeps collisions rare.
std::string uniqueSuffix() {
  static std::atomic<uint64_t> counter{0};
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  uint64_t x = counter.fetch_add(1) + (static_cast<uint64_t>(getpid()) << 40) +
               static_cast<uint64_t>(now.tv_nsec) * 0x9E3779B97F4A7C15ull +
               static_cast<uint64_t>(now.tv_sec);
  // splitmix64
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  x ^= x >> 31;
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  std::string out;
  for (int i = 0; i < 6; ++i, x /= 62) out += kChars[x % 62];
  return out;
}

std::string ids(uid_t uid, gid_t gid) {
  return "uid " + std::to_string(uid) + ", gid " + std::to_string(gid);
}

}  // namespace

std::string directoryOf(const std::string& path) {
  size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

AtomicFile::AtomicFile(std::string target, Ownership ownership, const struct stat* like)
    : target_(std::move(target)), ownership_(ownership), like_(like) {}

AtomicFile::~AtomicFile() { discard(); }

void AtomicFile::discard() {
  if (stream_ != nullptr) {
    std::fclose(stream_);
    stream_ = nullptr;
    fd_ = -1;
  }
  if (fd_ >= 0) {
    ::close(fd_);
    fd_ = -1;
  }
  if (!temp_.empty()) {
    ::unlink(temp_.c_str());
    temp_.clear();
  }
}

bool AtomicFile::fail(Failure failure, int error, const std::string& reason) {
  failure_ = failure;
  error_ = error;
  reason_ = reason;
  discard();
  return false;
}

bool AtomicFile::open() {
  discard();
  failure_ = Failure::kNone;
  error_ = 0;
  reason_.clear();
  struct stat existing;
  bool found = ::lstat(target_.c_str(), &existing) == 0;
  if (found && S_ISDIR(existing.st_mode))
    return fail(Failure::kCreate, EISDIR, target_ + " is a directory");
  bool replaces = found && S_ISREG(existing.st_mode);
  if (replaces && ownership_ == Ownership::kExact &&
      ::faccessat(AT_FDCWD, target_.c_str(), W_OK, AT_EACCESS) != 0) {
    int e = errno;
    return fail(Failure::kKeep, e,
                target_ + " may not be written by the collector's user (" +
                    ids(geteuid(), getegid()) + "): " + std::strerror(e) +
                    "; it is left unchanged");
  }
  // A file that takes another file's mode starts private and gets that mode
  // before any content is in it; a plain new file gets what the umask gives.
  mode_t createMode = (replaces || like_ != nullptr) ? 0600 : 0666;
  int e = 0;
  for (int tries = 0; tries < 100; ++tries) {
    std::string name = target_ + ".qvdtmp" + uniqueSuffix();
    int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, createMode);
    if (fd >= 0) {
      fd_ = fd;
      temp_ = name;
      break;
    }
    e = errno;
    if (e != EEXIST) break;
  }
  if (fd_ < 0) {
    return fail(Failure::kCreate, e,
                "no new file can be created in directory " + directoryOf(target_) + ": " +
                    std::strerror(e));
  }
  return settleOwnerAndMode();
}

bool AtomicFile::settleOwnerAndMode() {
  struct stat existing;
  const struct stat* model = nullptr;
  bool replaces = ::lstat(target_.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
  if (replaces) {
    model = &existing;
  } else if (like_ != nullptr) {
    model = like_;
  } else {
    return true;
  }
  bool exact = replaces && ownership_ == Ownership::kExact;
  struct stat mine;
  if (::fstat(fd_, &mine) != 0) return fail(Failure::kCreate, errno, "cannot inspect " + temp_);
  if (mine.st_uid != model->st_uid || mine.st_gid != model->st_gid) {
    if (::fchown(fd_, model->st_uid, model->st_gid) != 0) {
      int e = errno;
      if (exact) {
        return fail(Failure::kKeep, e,
                    target_ + " belongs to " + ids(model->st_uid, model->st_gid) +
                        ", an owner and group the collector's user (" +
                        ids(geteuid(), getegid()) +
                        ") cannot give a new file (" + std::strerror(e) +
                        "); it is left unchanged");
      }
      // Of owner and group, keep what this user may: the group, when it is
      // one of the user's groups.
      if (mine.st_gid != model->st_gid && ::fchown(fd_, static_cast<uid_t>(-1), model->st_gid) != 0) {
        // The user's own group stays.
      }
    }
  }
  // After fchown, which clears the set-id bits.
  if (::fchmod(fd_, model->st_mode & 07777) != 0 && exact) {
    int e = errno;
    return fail(Failure::kKeep, e,
                "the mode of " + target_ + " cannot be given to its replacement (" +
                    std::strerror(e) + "); it is left unchanged");
  }
  return true;
}

bool AtomicFile::write(const void* data, size_t size) {
  const char* p = static_cast<const char*>(data);
  while (size > 0) {
    ssize_t n = ::write(fd_, p, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      int e = errno;
      return fail(Failure::kWrite, e, "writing " + temp_ + " failed: " + std::strerror(e));
    }
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

FILE* AtomicFile::stream() {
  if (stream_ == nullptr && fd_ >= 0) stream_ = ::fdopen(fd_, "w");
  return stream_;
}

bool AtomicFile::commit() {
  if (fd_ < 0) return fail(Failure::kWrite, EBADF, "no file to commit for " + target_);
  if (stream_ != nullptr) {
    bool flushed = std::fflush(stream_) == 0 && !std::ferror(stream_);
    int e = errno;
    if (!flushed) return fail(Failure::kWrite, e, "writing " + temp_ + " failed: " + std::strerror(e));
  }
  if (::fsync(fd_) != 0) {
    int e = errno;
    return fail(Failure::kWrite, e, "syncing " + temp_ + " failed: " + std::strerror(e));
  }
  int closed = stream_ != nullptr ? std::fclose(stream_) : ::close(fd_);
  int closeError = errno;
  stream_ = nullptr;
  fd_ = -1;
  if (closed != 0) {
    return fail(Failure::kWrite, closeError,
                "writing " + temp_ + " failed: " + std::strerror(closeError));
  }
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    int e = errno;
    return fail(Failure::kPlace, e,
                "renaming " + temp_ + " to " + target_ + " failed: " + std::strerror(e));
  }
  temp_.clear();
  // Make the rename itself durable.
  int dir = ::open(directoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}
