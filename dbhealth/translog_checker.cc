// VeloraTransLogChecker: the transaction-log switch around runtime
// initialisation.
#include "dbhealth/translog_checker.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "dbhealth/backup_leftovers.h"
#include "dbhealth/vaxel_ini_editor.h"
#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/translog_checker");

char VeloraTransLogChecker::m_vaxelIniFileName[256];
char VeloraTransLogChecker::m_lockFileName[256];
char VeloraTransLogChecker::m_backupFilePrefix[256];
char VeloraTransLogChecker::m_backupFile[256];
FileLock VeloraTransLogChecker::m_fileLock;
char VeloraTransLogChecker::m_isChanged = 0;
char VeloraTransLogChecker::m_transLogStatus = '0';
char VeloraTransLogChecker::m_preTransLogStatus = '0';
bool VeloraTransLogChecker::m_hasPreviousKey = true;

namespace {

// Held from a successful disable to the end of the matching enable, so the
// sequences of two threads of this process never overlap (the fcntl lock
// does not exclude threads of one process).
std::mutex g_sequence_mu;
std::mutex g_owner_mu;
bool g_sequence_held = false;  // guarded by g_owner_mu

void BeginSequence() {
  g_sequence_mu.lock();
  std::lock_guard<std::mutex> guard(g_owner_mu);
  g_sequence_held = true;
}

// Ends the sequence when this process holds it; harmless otherwise (an
// enable without a successful disable only releases the file lock).
void EndSequence() {
  bool held;
  {
    std::lock_guard<std::mutex> guard(g_owner_mu);
    held = g_sequence_held;
    g_sequence_held = false;
  }
  if (held) g_sequence_mu.unlock();
}

// Ends a disable-enable sequence: the file lock first, then the sequence.
void Release(FileLock& lock) {
  lock.unlock();
  EndSequence();
}

const char kTransLogKey[] = "TRANSLOG_STATUS";
const char kPreviousKey[] = "PREVIOUS_TRANSLOG_STATUS";

}  // namespace

void VeloraTransLogChecker::setupEnv(const char* iniDirectory, const char* installHome,
                                     const char* platform) {
  m_vaxelIniFileName[0] = m_lockFileName[0] = m_backupFilePrefix[0] = m_backupFile[0] = '\0';
  std::snprintf(m_vaxelIniFileName, sizeof m_vaxelIniFileName, "%s/vaxel.ini",
                iniDirectory ? iniDirectory : "");
  std::snprintf(m_lockFileName, sizeof m_lockFileName, "%s/%s/vd/bin/qvdstart.sh",
                installHome ? installHome : "", platform ? platform : "");
  std::snprintf(m_backupFilePrefix, sizeof m_backupFilePrefix, "%s/config/vaxel.ini",
                installHome ? installHome : "");
  QVD_DETAIL(
      "Environment is setup successfully. vaxel.ini path is %s; lock file path is %s; backup "
      "file prefix is %s.",
      m_vaxelIniFileName, m_lockFileName, m_backupFilePrefix);
  m_fileLock.init(m_lockFileName);
}

int VeloraTransLogChecker::deleteBackupFile() {
  if (std::remove(m_backupFile) != 0) {
    QVD_ALWAYS("Error: failed to remove file %s with error code %d.", m_backupFile, errno);
    return 505;
  }
  QVD_ALWAYS("%s is deleted successfully.", m_backupFile);
  return 0;
}

int VeloraTransLogChecker::checkAndDisableTransLog(bool (*admit)()) {
  BeginSequence();
  int rc = m_fileLock.lock();
  if (rc != 0) {
    m_isChanged = 0;
    QVD_ALWAYS("Error: failed to get the file lock.");
    EndSequence();
    return rc;
  }
  if (admit != nullptr && !admit()) {
    m_isChanged = 0;
    QVD_DETAIL("The collector is stopping: vaxel.ini is left as it is.");
    Release(m_fileLock);
    return 507;
  }
  // Once per process, at start-up: with the lock held, any backup found is
  // one that a collector which ended too early left behind.
  static bool leftoversChecked = false;
  if (!leftoversChecked) {
    leftoversChecked = true;
    reportLeftoverBackups(m_backupFilePrefix, m_vaxelIniFileName);
  }

  VaxelIniEditor editor(m_vaxelIniFileName);
  rc = editor.loadFile();
  if (rc != 0) {
    m_isChanged = 0;
    QVD_ALWAYS("Error: can not load vaxel.ini");
    Release(m_fileLock);
    return rc;
  }
  QVD_ALWAYS("vaxel.ini is loaded successfully.");

  char value = 0;
  rc = editor.getKeyValue(kTransLogKey, &value);
  if (rc != 0 && rc != 561) {
    QVD_ALWAYS("Error: failed to get the value of %s in vaxel.ini.", kTransLogKey);
    m_isChanged = 0;
    Release(m_fileLock);
    return rc;
  }
  if (rc == 561 || value != '1') {
    QVD_ALWAYS("Transaction log is not enabled");
    m_isChanged = 0;
    return 0;  // the lock stays held until checkAndEnableTransLog
  }

  QVD_ALWAYS("Transaction log is enabled.");
  // A backup of that name may already exist, left by a run that ended
  // before it could restore the file: it is the administrator's only copy of
  // the original, so this run takes the next free second instead of
  // overwriting (and later deleting) it.
  unsigned seconds = static_cast<unsigned>(std::time(nullptr));
  int n = 0;
  for (int tries = 0; tries < 1000; ++tries, ++seconds) {
    n = std::snprintf(m_backupFile, sizeof m_backupFile, "%s.%u", m_backupFilePrefix, seconds);
    struct stat st;
    if (n < 0 || static_cast<size_t>(n) >= sizeof m_backupFile || lstat(m_backupFile, &st) != 0) break;
  }
  QVD_ALWAYS("Copying vaxel.ini to %s.", m_backupFile);
  // A backup name cut short by the 256-byte field would not be the name the
  // recovery message gives: refuse it rather than write somewhere else.
  rc = (n < 0 || static_cast<size_t>(n) >= sizeof m_backupFile) ? 503
                                                                 : editor.saveFile(m_backupFile);
  if (rc != 0) {
    QVD_ALWAYS("Error: failed to copy vaxel.ini to %s.", m_backupFile);
    m_isChanged = 0;
    Release(m_fileLock);
    return rc;
  }
  QVD_ALWAYS("Copied vaxel.ini to %s successfully.", m_backupFile);

  m_transLogStatus = '1';
  // An ini file may have no PREVIOUS_TRANSLOG_STATUS at all.  Then there is
  // nothing of it to switch off or to restore, and start-up must not fail
  // over a key the server does not need.
  m_hasPreviousKey = editor.getKeyValue(kPreviousKey, &m_preTransLogStatus) == 0;

  const char* failed_key = nullptr;
  rc = editor.setKeyValue(kTransLogKey, '0');
  if (rc != 0) failed_key = kTransLogKey;
  if (rc == 0 && m_hasPreviousKey) {
    rc = editor.setKeyValue(kPreviousKey, '0');
    if (rc != 0) failed_key = kPreviousKey;
  }
  if (rc != 0) {
    QVD_ALWAYS("Error: failed to set the value of %s.", failed_key);
    m_isChanged = 0;
    deleteBackupFile();
    Release(m_fileLock);
    return rc;
  }
  QVD_ALWAYS("TRANSLOG_STATUS is set to %c, and PREVIOUS_TRANSLOG_STATUS is set to %c.", '0',
             '0');

  rc = editor.saveFile();
  if (rc != 0) {
    QVD_ALWAYS("Error: failed to save vaxel.ini.");
    m_isChanged = 0;
    if (rc == 504) {
      QVD_ALWAYS("Error: vaxel.ini may be corrupt. Please refer to backup file %s to restore it.",
                 m_backupFile);
    } else {
      deleteBackupFile();
    }
    Release(m_fileLock);
    return rc;
  }
  QVD_ALWAYS("Transaction log is disabled successfully in vaxel.ini.");
  m_isChanged = 1;
  return 0;
}

int VeloraTransLogChecker::checkAndEnableTransLog() {
  if (!m_isChanged) {
    Release(m_fileLock);
    return 0;
  }
  VaxelIniEditor editor(m_vaxelIniFileName);
  int rc = editor.loadFile();
  if (rc != 0) {
    QVD_ALWAYS("Error: can not load vaxel.ini. Please refer to backup file %s to restore it.",
               m_backupFile);
    Release(m_fileLock);
    return rc;
  }
  QVD_ALWAYS("vaxel.ini is loaded successfully.");

  const char* failed_key = nullptr;
  rc = editor.setKeyValue(kTransLogKey, m_transLogStatus);
  if (rc != 0) failed_key = kTransLogKey;
  if (rc == 0 && m_hasPreviousKey) {
    rc = editor.setKeyValue(kPreviousKey, m_preTransLogStatus);
    if (rc != 0) failed_key = kPreviousKey;
  }
  if (rc != 0) {
    QVD_ALWAYS("Error: failed to set the value of %s. Please refer to backup file %s to restore it.",
               failed_key, m_backupFile);
    Release(m_fileLock);
    return rc;
  }
  rc = editor.saveFile();
  if (rc != 0) {
    QVD_ALWAYS("Error: failed to save vaxel.ini. Please refer to backup file %s to restore it.",
               m_backupFile);
    Release(m_fileLock);
    return rc;
  }
  QVD_ALWAYS(
      "Transaction log is restored successfully in vaxel.ini. TRANSLOG_STATUS is %c, "
      "PREVIOUS_TRANSLOG_STATUS is %c.",
      m_transLogStatus, m_preTransLogStatus);
  m_isChanged = 0;
  deleteBackupFile();
  Release(m_fileLock);
  return 0;
}
