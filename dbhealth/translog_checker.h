// VeloraTransLogChecker: keeps the server's transaction log switched off in
// vaxel.ini while a collector thread initialises the server runtime, and
// restores it afterwards exactly as it was.
//
// Usage, on one thread:
//   if (VeloraTransLogChecker::checkAndDisableTransLog() != 0) end thread;
//   QVD_VxInitRuntime(...) or QVD_VxInitThread();
//   if (VeloraTransLogChecker::checkAndEnableTransLog() != 0) end thread;
// setupEnv runs once, at start-up, before any of these.
//
// Serialisation: the installation's lock file (<home>/<platform>/vd/bin/
// qvdstart.sh) is locked with an fcntl record lock, which serialises
// collector processes of one installation.  Threads of one process share
// this class's state, so an in-process mutex is held from a successful
// checkAndDisableTransLog to the end of checkAndEnableTransLog; a disable
// that fails releases it before returning.
//
// While the ini file holds the collector's change, a backup copy
// "<home>/config/vaxel.ini.<seconds>" exists; it is removed after the
// restore, and kept for manual recovery whenever a restore step fails or a
// write may have left the ini file damaged.
//
// An ini file without PREVIOUS_TRANSLOG_STATUS has only TRANSLOG_STATUS
// switched and restored.
//
// Result codes: 0 success; 2 out of memory; 501 lock; 502 unlock; 503 open;
// 504 flush; 505 backup removal; 506 read; 507 not admitted (the collector
// is stopping).
#ifndef QVD_DBHEALTH_TRANSLOG_CHECKER_H_
#define QVD_DBHEALTH_TRANSLOG_CHECKER_H_

#include "dbhealth/file_lock.h"

class VeloraTransLogChecker {
 public:
  // Builds the ini, lock-file and backup paths from the ini directory, the
  // install home and the platform directory.
  static void setupEnv(const char* iniDirectory, const char* installHome, const char* platform);

  // Takes the file lock and, when the ini file has TRANSLOG_STATUS=1, backs
  // it up and sets TRANSLOG_STATUS and PREVIOUS_TRANSLOG_STATUS to 0.
  // Returns 0 with the lock held, or the failing step's code with nothing
  // held and the ini file untouched.  With `admit`, once the lock is held
  // and before the ini file is read, admit() decides whether the caller may
  // go on (state/server_gate.h): false gives 507.  The wait for the lock has
  // no time limit, so what the caller may do is decided only once it ends.
  static int checkAndDisableTransLog(bool (*admit)() = nullptr);

  // Restores the saved values when the ini file holds the collector's
  // change, removes the backup, and releases the lock in every case.
  // Returns 0 or the failing step's code.
  static int checkAndEnableTransLog();

  // Removes the current backup file.  Returns 0, or 505.
  static int deleteBackupFile();

  // For tests and traces.
  static const char* iniFileName() { return m_vaxelIniFileName; }
  static const char* lockFileName() { return m_lockFileName; }
  static const char* backupFile() { return m_backupFile; }
  static bool isChanged() { return m_isChanged != 0; }

 private:
  static char m_vaxelIniFileName[256];
  static char m_lockFileName[256];
  static char m_backupFilePrefix[256];
  static char m_backupFile[256];
  static FileLock m_fileLock;
  static char m_isChanged;
  static char m_transLogStatus;
  static char m_preTransLogStatus;
  // Whether the ini file of the current change has PREVIOUS_TRANSLOG_STATUS.
  static bool m_hasPreviousKey;
};

#endif  // QVD_DBHEALTH_TRANSLOG_CHECKER_H_
