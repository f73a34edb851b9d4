// GroupAnalyzer: the snapshot of the server directory's group names that
// the Velora_Group_Updates table compares against.
//
// init takes the first snapshot; every checkGroups takes a new one,
// reports the differences and keeps the new snapshot, so each change is
// reported once.  When more changes are waiting than one answer holds
// (512), the snapshot kept is the old one with the reported changes
// applied, so the rest follow in the next answers.
//
// Result codes of checkGroups: 0 success; 1 server absent; 3 the updates
// list is not empty; 401 the directory cannot be read (the snapshot stays).
//
// Thread-safety: the dispatch thread alone calls these; no lock.
#ifndef QVD_DBHEALTH_GROUP_ANALYZER_H_
#define QVD_DBHEALTH_GROUP_ANALYZER_H_

#include "dbhealth/group_update_info.h"
#include "util/string_list.h"

class GroupAnalyzer {
 public:
  // Takes the first snapshot.  True when it was taken now or before; false
  // when server is null or the directory cannot be read (the snapshot is
  // then empty or partial).
  static bool init(const char* server);

  // Adds the changes since the last snapshot to the empty `updates`
  // (additions first) and keeps the new snapshot.  0, 1, 3 or 401.
  static int checkGroups(const char* server, GroupUpdateInfoList* updates);

  // Frees the snapshot; init may start again afterwards.
  static void close();

  // The current snapshot, or null.  For traces and tests.
  static const QVD::StringList* snapshot() { return m_groupList; }

 private:
  static bool m_inited;
  static QVD::StringList* m_groupList;
};

#endif  // QVD_DBHEALTH_GROUP_ANALYZER_H_
