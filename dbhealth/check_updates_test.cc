// Group snapshots compared: additions before deletions, each in snapshot
// order, and the bounded list of changes.
#include "dbhealth/check_updates.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

using Changes = std::vector<std::pair<std::string, std::string>>;

void Fill(QVD::StringList* list, std::initializer_list<const char*> names) {
  for (const char* n : names) list->add(n);
}

Changes Of(const GroupUpdateInfoList& list) {
  Changes out;
  GroupUpdateInfoListIterator it(&list);
  while (it.hasNext()) {
    const GroupUpdateInfo* r = it.next();
    out.emplace_back(r->getGroupName(), r->getUpdate());
  }
  return out;
}

TEST(CheckUpdates, ReportsAdditionsThenDeletions) {
  QVD::StringList before, now;
  Fill(&before, {"A", "B", "C"});
  Fill(&now, {"B", "C", "D"});
  GroupUpdateInfoList updates;
  EXPECT_EQ(0, CheckUpdates::check(&before, &now, &updates));
  EXPECT_EQ((Changes{{"D", "Add"}, {"A", "Delete"}}), Of(updates));

  GroupUpdateInfoList again;
  EXPECT_EQ(0, CheckUpdates::check(&now, &now, &again));
  EXPECT_EQ(0, again.getCount());
  EXPECT_EQ(3, CheckUpdates::check(&now, &before, &updates));  // not empty

  GroupUpdateInfoList fromNothing;
  EXPECT_EQ(0, CheckUpdates::check(nullptr, &now, &fromNothing));
  EXPECT_EQ((Changes{{"B", "Add"}, {"C", "Add"}, {"D", "Add"}}), Of(fromNothing));
}

TEST(CheckUpdates, CheckDiffIsExactAndKeepsOrder) {
  QVD::StringList reference, candidates, out;
  Fill(&reference, {"Sales", "LocalAdmins"});
  Fill(&candidates, {"sales", "Sales", "Sales ", "Zeta", "Alpha"});
  EXPECT_EQ(0, CheckUpdates::checkDiff(&reference, &candidates, &out));
  ASSERT_EQ(4, out.getCount());
  EXPECT_STREQ("sales", out.getAt(0).c_str());
  EXPECT_STREQ("Sales ", out.getAt(1).c_str());
  EXPECT_STREQ("Zeta", out.getAt(2).c_str());
  EXPECT_STREQ("Alpha", out.getAt(3).c_str());
  EXPECT_EQ(3, CheckUpdates::checkDiff(&reference, &candidates, &out));
}

TEST(CheckUpdates, StopsWhenTheListOf512ChangesIsFull) {
  QVD::StringList before, now;
  for (int i = 0; i < 300; ++i) before.add(("old" + std::to_string(i)).c_str());
  for (int i = 0; i < 400; ++i) now.add(("new" + std::to_string(i)).c_str());
  GroupUpdateInfoList updates;
  EXPECT_EQ(101, CheckUpdates::check(&before, &now, &updates));
  ASSERT_EQ(512, updates.getCount());
  EXPECT_STREQ("new399", updates.getAt(399)->getGroupName());
  EXPECT_STREQ("old111", updates.getAt(511)->getGroupName());
  EXPECT_STREQ("Delete", updates.getAt(511)->getUpdate());
}

TEST(GroupUpdateInfoList, HoldsCopiesUpTo512AndCatStopsWhenFull) {
  GroupUpdateInfoList list;
  GroupUpdateInfo r(std::string(300, 'g').c_str(), "Add");
  EXPECT_EQ(256u, std::string(r.getGroupName()).size());  // cut to its field
  for (int i = 0; i < 512; ++i) ASSERT_EQ(0, list.add(&r));
  EXPECT_EQ(101, list.add(&r));
  EXPECT_EQ(1, list.add(nullptr));
  EXPECT_EQ(0, list.cat(&list));
  EXPECT_EQ(nullptr, list.getAt(512));

  GroupUpdateInfoList other, target;
  GroupUpdateInfo a("a", "Add"), d("d", "Delete");
  other.add(&a);
  other.add(&d);
  EXPECT_EQ(0, target.cat(&other));
  EXPECT_EQ((Changes{{"a", "Add"}, {"d", "Delete"}}), Of(target));
  EXPECT_EQ(101, list.cat(&other));
}

TEST(GroupUpdateInfo, ToStringCopiesWithinTheGivenSizes) {
  GroupUpdateInfo r("LocalAdmins", "Delete");
  char name[6], update[4];
  EXPECT_EQ(0, r.toString(name, sizeof name, update, sizeof update));
  EXPECT_STREQ("Local", name);
  EXPECT_STREQ("Del", update);
  EXPECT_EQ(1, r.toString(nullptr, 6, update, 4));
  EXPECT_EQ(52, r.toString(name, 0, update, 4));
  EXPECT_EQ(52, r.toString(name, 6, update, -1));
}

}  // namespace
