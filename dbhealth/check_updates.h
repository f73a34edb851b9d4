// CheckUpdates: the differences between two snapshots of the directory's
// group names.
//
// Result codes: 0 success; 3 the output is not empty; 101 the updates list
// became full (the records added so far stay).
#ifndef QVD_DBHEALTH_CHECK_UPDATES_H_
#define QVD_DBHEALTH_CHECK_UPDATES_H_

#include "dbhealth/group_update_info.h"
#include "util/string_list.h"

class CheckUpdates {
 public:
  // Adds (name, "Add") for every name of newNames missing from oldNames,
  // then (name, "Delete") for every name of oldNames missing from newNames,
  // each in list order, to the empty `updates`.  A null snapshot counts as
  // empty.  0, 3 or 101.
  static int check(const QVD::StringList* oldNames, const QVD::StringList* newNames,
                   GroupUpdateInfoList* updates);

  // Appends to the empty `out`, in order, every name of `candidates` that
  // `reference` does not hold (exact comparison).  0 or 3.  Linear in the
  // two lists' sizes.
  static int checkDiff(const QVD::StringList* reference, const QVD::StringList* candidates,
                       QVD::StringList* out);
};

#endif  // QVD_DBHEALTH_CHECK_UPDATES_H_
