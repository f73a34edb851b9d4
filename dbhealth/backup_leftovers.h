// Backups of vaxel.ini left behind by a collector that ended between
// switching the transaction log off and restoring it (killed, crashed, or
// the machine went down).
//
// Such a run leaves vaxel.ini with the log switched off and its backup
// "<prefix>.<seconds>" in place; the next collector would find the log off
// and leave it off without a word.  A backup exists only while the
// installation's lock is held by the collector that made it, so one found
// by a collector holding that lock, before it made its own, is a leftover.
//
// Thread-safety: call with the installation's lock held.
#ifndef QVD_DBHEALTH_BACKUP_LEFTOVERS_H_
#define QVD_DBHEALTH_BACKUP_LEFTOVERS_H_

// Looks for backups "<backupPrefix>.<digits>" and writes one always-level
// trace line for each, naming it and `iniFile` and telling the
// administrator how to recover.  Changes no file.  Returns the number found.
int reportLeftoverBackups(const char* backupPrefix, const char* iniFile);

#endif  // QVD_DBHEALTH_BACKUP_LEFTOVERS_H_
