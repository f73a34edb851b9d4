// DatabaseAnalyzer: turns the server's answers about one database or view
// into the records of the database check.  Stateless; each call uses a
// fresh VaxelApiUtil on the calling thread, which must have initialised the
// server runtime.
//
// Result codes: 0 good (no record); 1 an absent argument, or a text the
// server's 256-byte buffers cannot hold (a trace line says which); 201 a
// database problem and 202 a view problem (the record is filled); 401 the
// space figures cannot be read.
#ifndef QVD_DBHEALTH_DATABASE_ANALYZER_H_
#define QVD_DBHEALTH_DATABASE_ANALYZER_H_

#include "dbhealth/db_corrupt_failover.h"
#include "dbhealth/db_statistics_info.h"

class DatabaseAnalyzer {
 public:
  // A database not in good state fills *record with (path, "DEFAULT",
  // state text, failover status, failover database, failover server); the
  // last three are "Success", the file and the other member for a failover
  // to another member, else empty.  0, 1 or 201.
  static int checkDatabase(const char* server, const char* path, DbCorruptFailover* record);

  // A view not in good state fills *record with (path, view, view state
  // text, "", "", ""); a view whose collection was never built counts as
  // good.  When the database itself cannot be opened the state text is
  // "Unknown".  0, 1 or 202.
  static int checkDatabaseView(const char* server, const char* path, const char* view,
                               DbCorruptFailover* record);

  // Reads the space figures of a database into *info.  0, 1 or 401.
  static int checkDatabaseWhitespace(const char* server, const char* path, DbStatisticsInfo* info);
};

#endif  // QVD_DBHEALTH_DATABASE_ANALYZER_H_
