#include "dbhealth/backup_leftovers.h"

#include <dirent.h>

#include <cstring>
#include <string>

#include "framework/trace.h"

QVD_TRACE_UNIT("dbhealth/backup_leftovers");

namespace {

// True when `name` is `base` followed by a dot and one or more digits.
bool isBackupName(const char* name, const std::string& base) {
  if (strncmp(name, base.c_str(), base.size()) != 0 || name[base.size()] != '.') return false;
  const char* digits = name + base.size() + 1;
  if (*digits == '\0') return false;
  for (const char* p = digits; *p != '\0'; ++p)
    if (*p < '0' || *p > '9') return false;
  return true;
}

}  // namespace

int reportLeftoverBackups(const char* backupPrefix, const char* iniFile) {
  if (backupPrefix == nullptr || *backupPrefix == '\0') return 0;
  std::string prefix = backupPrefix;
  size_t slash = prefix.find_last_of('/');
  std::string dir = slash == std::string::npos ? "." : (slash == 0 ? "/" : prefix.substr(0, slash));
  std::string base = slash == std::string::npos ? prefix : prefix.substr(slash + 1);
  DIR* d = opendir(dir.c_str());
  if (d == nullptr) return 0;  // no backup folder: nothing can be left in it
  int found = 0;
  while (dirent* e = readdir(d)) {
    if (!isBackupName(e->d_name, base)) continue;
    ++found;
    QVD_ALWAYS(
        "Warning: found backup file %s/%s left by a collector that ended before it restored the "
        "transaction log. %s may still have TRANSLOG_STATUS and PREVIOUS_TRANSLOG_STATUS switched "
        "off: compare the two files, set both values in %s back to what the backup holds, then "
        "delete the backup. The collector changes neither file.",
        dir.c_str(), e->d_name, iniFile, iniFile);
  }
  closedir(d);
  return found;
}
