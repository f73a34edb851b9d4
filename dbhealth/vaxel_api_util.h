// VaxelApiUtil: the server API calls of the database check, made through
// the QVD_ wrappers, and the text of the last server error they met.
//
// Every operation takes the server name and a database (or directory) path
// relative to the server's data directory and builds the network path
// "server!!path" from them.  Result codes:
//   0     success / good state
//   1     the database cannot be opened (getDatabaseStatus: not in good state)
//   2     findDatabases: the directory cannot be opened
//   3     findDatabases: the search failed
//   4     findDatabaseviews: the search failed
//   6     getViewStatus: the view is not in good state
//   7     getDbStatisticsInfo: space usage failed
//   8     getDbStatisticsInfo: quota failed
//   9     getGroups: the directory lookup failed
//   1001  a required argument is absent (getGroups: also a non-empty list)
// Paths and server names are handed to the server in 256-byte buffers: a
// network path that would not fit is refused (the open fails, result 1, 2
// or the open's code above) with a trace line and the last error text
// saying so; nothing is ever cut.
//
// Every handle an operation opens is closed on every path out of it.
//
// Thread-safety: an instance belongs to the thread that made it, which must
// have initialised the server runtime for itself.
#ifndef QVD_DBHEALTH_VAXEL_API_UTIL_H_
#define QVD_DBHEALTH_VAXEL_API_UTIL_H_

#include "dbhealth/db_statistics_info.h"
#include "dbhealth/failover_info.h"
#include "serverapi/vaxel.h"
#include "util/string_list.h"

// Limit of the group snapshot lists: a directory lookup reports at most
// 65535 matches (a 16-bit count), so every group fits.
constexpr int kMaxGroupCount = 65535;

class VaxelApiUtil {
 public:
  VaxelApiUtil();

  // Sets `buffer` (size bytes) to the server's text for `status`.
  void parseVaxelApiErrorCode(VxStatus status, char* buffer, int size);

  // Opens and closes a database or directory.  0, 1 (cannot be opened;
  // last error set) or 1001.
  int openDatabase(const char* server, const char* path);

  // Decides the state of a database (DatabaseState).  0 good; 1 not in
  // good state (*state set; for a failover to another member the failover
  // information is filled); 1001.
  int getDatabaseStatus(const char* server, const char* path, int* state);

  // Decides the state of view `view` of a database (DbViewState).  0 good;
  // 1 the database cannot be opened (*state untouched); 6 a view problem
  // (*state set); 1001.
  int getViewStatus(const char* server, const char* path, const char* view, int* state);

  // Appends to `list` the path of every database in `directory` (with
  // `recursive`, also in its subdirectories) that the list does not hold
  // yet, in the server's order.  0, 2, 3 or 1001.
  int findDatabases(const char* server, const char* directory, bool recursive,
                    QVD::StringList* list);

  // Appends the titles of the views of a database (`titleOnly`: without
  // their aliases).  0, 1, 4 or 1001.
  int findDatabaseviews(const char* server, const char* path, QVD::StringList* list,
                        bool titleOnly);

  // Reads the space figures of a database into *info.  0, 1, 7, 8 or 1001.
  int getDbStatisticsInfo(const char* server, const char* path, DbStatisticsInfo* info);

  // Appends the names of every group of the server's directory to the
  // empty `list`.  0, 9 or 1001 (also when the list is not empty; then it
  // is untouched).
  int getGroups(const char* server, QVD::StringList* list);

  // True when the network path "server!!path" fits the server's 256-byte
  // path buffer.
  static bool fitsNetPath(const char* server, const char* path);

  // The server's text for the last failing status ("" when none).
  const char* getLatestApiErr() const { return m_lastError; }
  const FailOverInfo& getFailOverInfo() const { return m_failOverInfo; }

 private:
  // Builds "server!!path" into out (VX_MAXPATH bytes).  False, with the
  // last error text and a trace line, when it does not fit or the server
  // refuses it.
  bool netPath(const char* server, const char* path, char* out);
  void setLastError(VxStatus status);
  void failoverDecision(VxDbHandle db, const char* server, const char* path, int* state);

  char m_lastError[256];
  FailOverInfo m_failOverInfo;
};

#endif  // QVD_DBHEALTH_VAXEL_API_UTIL_H_
