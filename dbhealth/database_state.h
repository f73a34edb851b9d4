// The states the database check reports for a database or a view, and
// their texts as they appear in the Velora_Corrupt_Failover_DB table.
#ifndef QVD_DBHEALTH_DATABASE_STATE_H_
#define QVD_DBHEALTH_DATABASE_STATE_H_

// State of a database, as VaxelApiUtil::getDatabaseStatus decides it.
enum DatabaseState {
  DB_STATE_GOOD = 0,                    // the plain open succeeds
  DB_STATE_NOT_VDB = 1,                 // plain open: 513
  DB_STATE_INVALID_VDB_VER = 2,         // plain open: 537
  DB_STATE_LOCKED = 3,                  // text only; never decided
  DB_STATE_NOACCESS = 4,                // an extended open: 582
  DB_STATE_OPEN_FILE = 5,               // an extended open: 587
  DB_STATE_CORRUPT_BUT_FIXED = 6,       // the repairing open succeeds
  DB_STATE_FAILOVER = 7,                // the failover open lands on another server
  DB_STATE_FAILOVER_IN_PLACE = 8,       // ... stays here, or its path cannot be read
  DB_STATE_LOCAL_ACCESS_PROTECTED = 9,  // plain open: 760
  DB_STATE_OTHER = 10,                  // the failover open fails otherwise
};

// State of a view, as VaxelApiUtil::getViewStatus decides it.
enum DbViewState {
  DB_VIEW_STATE_GOOD = 0,
  DB_VIEW_STATE_NOT_FOUND = 1,           // no design note of that name
  DB_VIEW_STATE_COL_NOT_CREATED = 2,     // the collection has never been built
  DB_VIEW_STATE_OTHER = 3,               // the view cannot be opened
};

extern const char TXT_DB_STATE_GOOD[50];
extern const char TXT_DB_STATE_NOT_VDB[50];
extern const char TXT_DB_STATE_INVALID_VDB_VER[50];
extern const char TXT_DB_STATE_LOCKED[50];
extern const char TXT_DB_STATE_NOACCESS[50];
extern const char TXT_DB_STATE_OPEN_FILE[50];
extern const char TXT_DB_STATE_CORRUPT_BUT_FIXED[50];
extern const char TXT_DB_STATE_FAILOVER[50];
extern const char TXT_DB_STATE_LOCAL_ACCESS_PROTECTED[50];
extern const char TXT_DB_STATE_OTHER[50];
extern const char TXT_DB_STATE_UNKNOWN[50];
extern const char TXT_DB_VIEW_STATE_GOOD[50];
extern const char TXT_DB_VIEW_STATE_NOT_FOUND[50];
extern const char TXT_DB_VIEW_STATE_COL_NOT_CREATED[50];
extern const char TXT_DB_VIEW_STATE_OTHER[50];

// The text of a database state; "Unknown" for a value outside the enum.
// States 7 and 8 share "Cluster failover".  Never null.
const char* getDbStateTxt(int state);
// The text of a view state; "Unknown" outside the enum.  Never null.
const char* getDbViewStateTxt(int state);

#endif  // QVD_DBHEALTH_DATABASE_STATE_H_
