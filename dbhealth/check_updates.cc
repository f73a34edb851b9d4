#include "dbhealth/check_updates.h"

#include <string>
#include <unordered_set>

int CheckUpdates::checkDiff(const QVD::StringList* reference, const QVD::StringList* candidates,
                            QVD::StringList* out) {
  if (out == nullptr || out->getCount() != 0) return 3;
  if (candidates == nullptr) return 0;
  std::unordered_set<std::string> known;
  if (reference != nullptr) {
    known.reserve((size_t)reference->getCount());
    for (int i = 0; i < reference->getCount(); ++i) known.insert(reference->getAt(i).c_str());
  }
  for (int i = 0; i < candidates->getCount(); ++i) {
    const char* name = candidates->getAt(i).c_str();
    if (known.count(name) == 0) out->add(name);
  }
  return 0;
}

int CheckUpdates::check(const QVD::StringList* oldNames, const QVD::StringList* newNames,
                        GroupUpdateInfoList* updates) {
  if (updates == nullptr || updates->getCount() != 0) return 3;
  const int limit = newNames != nullptr ? newNames->getCount() : 0;
  const int oldLimit = oldNames != nullptr ? oldNames->getCount() : 0;
  QVD::StringList added(limit > 0 ? limit : 1);
  QVD::StringList deleted(oldLimit > 0 ? oldLimit : 1);
  checkDiff(oldNames, newNames, &added);
  checkDiff(newNames, oldNames, &deleted);
  for (int i = 0; i < added.getCount(); ++i) {
    GroupUpdateInfo record(added.getAt(i).c_str(), kGroupAdded);
    if (updates->add(&record) == 101) return 101;
  }
  for (int i = 0; i < deleted.getCount(); ++i) {
    GroupUpdateInfo record(deleted.getAt(i).c_str(), kGroupDeleted);
    if (updates->add(&record) == 101) return 101;
  }
  return 0;
}
