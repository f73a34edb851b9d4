// AtomicFile: writes a file whole or not at all, beside the server's own
// files, without following a link and without changing who may read it.
//
// The content goes to a temporary file "<target>.qvdtmpXXXXXX" that open()
// creates exclusively (O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC) in the target's
// directory: it is never opened through a name or link someone else put
// there, and a child process started meanwhile never inherits it.  commit()
// syncs it to disk, moves it over the target with rename() (a reader sees
// the old file or the new one, never a mixture) and syncs the directory.
// Until commit() succeeds the target is untouched; the destructor removes a
// temporary file that was not committed.
//
// The target's name is used as given: a link standing at that name is
// replaced, not followed.  A caller that means to replace the file a link
// points at resolves the link first (the vaxel.ini editor does).
//
// Owner and mode of the new file, settled by open() before any content is
// written:
// - target is an existing regular file: its owner, group and mode.  With
//   Ownership::kExact a target the process may not write, or whose owner
//   and group the process cannot give the new file (fchown refused), fails
//   open() with Failure::kKeep and the target stays as it is.  With
//   kWherePossible the mode is kept, and of owner and group what the
//   process may give.
// - otherwise, when `like` is given: like's mode, and of its owner and group
//   what the process may give (a copy of another file);
// - otherwise: a new file as fopen(..., "w") makes it, 0666 less the umask,
//   owned by the process.
//
// Thread-safety: an object belongs to one thread; objects for different
// targets may be used at the same time.
#ifndef QVD_UTIL_ATOMIC_FILE_H_
#define QVD_UTIL_ATOMIC_FILE_H_

#include <sys/stat.h>

#include <cstddef>
#include <cstdio>
#include <string>

class AtomicFile {
 public:
  enum class Ownership { kExact, kWherePossible };

  // Which step failed; each comes with errno() and reason().
  enum class Failure {
    kNone,
    kCreate,  // the temporary file could not be created (directory)
    kKeep,    // owner, group or mode of the target cannot be kept
    kWrite,   // writing, flushing or syncing the content failed
    kPlace,   // the rename into place failed
  };

  // `like`, when not null, is copied (see above); it must outlive open().
  AtomicFile(std::string target, Ownership ownership, const struct stat* like = nullptr);
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Creates the temporary file and gives it its owner and mode.  False on
  // kCreate or kKeep (nothing is left behind).
  bool open();

  // Appends bytes; false on kWrite.  REQUIRES: open() succeeded.
  bool write(const void* data, size_t size);

  // A stdio stream on the temporary file, owned by this object (null when
  // not open or out of memory).  Its errors are seen by commit().
  FILE* stream();

  // Flushes, syncs and renames the file into place, then syncs the
  // directory.  False on kWrite or kPlace (temporary file removed, target
  // untouched).  REQUIRES: open() succeeded.
  bool commit();

  Failure failure() const { return failure_; }
  int error() const { return error_; }
  // What failed and why, in words for a trace line ("" when nothing did).
  const std::string& reason() const { return reason_; }
  const std::string& target() const { return target_; }
  const std::string& tempName() const { return temp_; }

 private:
  bool fail(Failure failure, int error, const std::string& reason);
  bool settleOwnerAndMode();
  void discard();

  std::string target_;
  Ownership ownership_;
  const struct stat* like_;
  std::string temp_;
  int fd_ = -1;
  FILE* stream_ = nullptr;  // on fd_ when made
  Failure failure_ = Failure::kNone;
  int error_ = 0;
  std::string reason_;
};

// The directory part of `path` ("." for a bare name, "/" for the root).
std::string directoryOf(const std::string& path);

#endif  // QVD_UTIL_ATOMIC_FILE_H_
