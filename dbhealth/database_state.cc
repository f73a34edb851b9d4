#include "dbhealth/database_state.h"

const char TXT_DB_STATE_GOOD[50] = "Good";
const char TXT_DB_STATE_NOT_VDB[50] = "Not a database";
const char TXT_DB_STATE_INVALID_VDB_VER[50] = "Invalid VDB version";
const char TXT_DB_STATE_LOCKED[50] = "Locked";
const char TXT_DB_STATE_NOACCESS[50] = "Operation not authorized";
const char TXT_DB_STATE_OPEN_FILE[50] = "Access not authorized";
const char TXT_DB_STATE_CORRUPT_BUT_FIXED[50] = "Corrupt but fixed";
const char TXT_DB_STATE_FAILOVER[50] = "Cluster failover";
const char TXT_DB_STATE_LOCAL_ACCESS_PROTECTED[50] = "Local access protected";
const char TXT_DB_STATE_OTHER[50] = "Corrupt";
const char TXT_DB_STATE_UNKNOWN[50] = "Unknown";
const char TXT_DB_VIEW_STATE_GOOD[50] = "Good";
const char TXT_DB_VIEW_STATE_NOT_FOUND[50] = "View not found";
const char TXT_DB_VIEW_STATE_COL_NOT_CREATED[50] = "Collection of the view not created";
const char TXT_DB_VIEW_STATE_OTHER[50] = "View corrupt";

const char* getDbStateTxt(int state) {
  switch (state) {
    case DB_STATE_GOOD: return TXT_DB_STATE_GOOD;
    case DB_STATE_NOT_VDB: return TXT_DB_STATE_NOT_VDB;
    case DB_STATE_INVALID_VDB_VER: return TXT_DB_STATE_INVALID_VDB_VER;
    case DB_STATE_LOCKED: return TXT_DB_STATE_LOCKED;
    case DB_STATE_NOACCESS: return TXT_DB_STATE_NOACCESS;
    case DB_STATE_OPEN_FILE: return TXT_DB_STATE_OPEN_FILE;
    case DB_STATE_CORRUPT_BUT_FIXED: return TXT_DB_STATE_CORRUPT_BUT_FIXED;
    case DB_STATE_FAILOVER:
    case DB_STATE_FAILOVER_IN_PLACE: return TXT_DB_STATE_FAILOVER;
    case DB_STATE_LOCAL_ACCESS_PROTECTED: return TXT_DB_STATE_LOCAL_ACCESS_PROTECTED;
    case DB_STATE_OTHER: return TXT_DB_STATE_OTHER;
  }
  return TXT_DB_STATE_UNKNOWN;
}

const char* getDbViewStateTxt(int state) {
  switch (state) {
    case DB_VIEW_STATE_GOOD: return TXT_DB_VIEW_STATE_GOOD;
    case DB_VIEW_STATE_NOT_FOUND: return TXT_DB_VIEW_STATE_NOT_FOUND;
    case DB_VIEW_STATE_COL_NOT_CREATED: return TXT_DB_VIEW_STATE_COL_NOT_CREATED;
    case DB_VIEW_STATE_OTHER: return TXT_DB_VIEW_STATE_OTHER;
  }
  return TXT_DB_STATE_UNKNOWN;
}
