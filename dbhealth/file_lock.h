// FileLock: an exclusive fcntl record lock on a whole existing file.
//
// The lock is held by the process, not by a thread: two threads of one
// process both "get" it.  Callers that need in-process exclusion add their
// own mutex (VeloraTransLogChecker does).  Not thread-safe.
//
// Result codes: 0 success, 501 open or lock failed, 502 unlock failed.
#ifndef QVD_DBHEALTH_FILE_LOCK_H_
#define QVD_DBHEALTH_FILE_LOCK_H_

class FileLock {
 public:
  FileLock() = default;
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Keeps a copy of `file_name` as the file to lock.
  void init(const char* file_name);

  // Opens the existing file read-write (never creates it) and waits, without
  // a time limit, for an exclusive write lock on the whole file.  Returns 0,
  // or 501 (the file could not be opened or locked; nothing is held).
  int lock();

  // Releases the lock and closes the file when one is held.  Returns 0, or
  // 502 when the unlock failed (the descriptor is kept).
  int unlock();

  bool locked() const { return locked_; }
  const char* fileName() const { return file_name_; }

 private:
  bool locked_ = false;
  char* file_name_ = nullptr;  // owned
  int file_descriptor_ = 0;    // 0 when none is held
};

#endif  // QVD_DBHEALTH_FILE_LOCK_H_
