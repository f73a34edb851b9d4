// The bounded result lists of the database check: limits, growth, moving
// records between lists, and walking them.
#include "dbhealth/db_record_list.h"

#include <gtest/gtest.h>

#include <string>

namespace {

DbCorruptFailover Record(int i) {
  std::string name = "db" + std::to_string(i) + ".vdb";
  return DbCorruptFailover(name.c_str(), "DEFAULT", "Corrupt", "", "", "");
}

void Fill(DbCorruptFailoverList* list, int n, int first = 0) {
  for (int i = first; i < first + n; ++i) {
    DbCorruptFailover r = Record(i);
    ASSERT_EQ(0, list->add(&r));
  }
}

TEST(DbRecordList, StoresCopiesUpToItsLimitGrowingPastTheFirstSlots) {
  DbCorruptFailoverList list(2500);
  EXPECT_EQ(1024, list.getSlots());
  Fill(&list, 2500);
  EXPECT_EQ(2500, list.getSlots());  // grown by 1024 at a time, never past the limit
  DbCorruptFailover extra = Record(9999);
  EXPECT_EQ(101, list.add(&extra));
  EXPECT_EQ(1, list.add(nullptr));
  EXPECT_EQ(2500, list.getCount());
  EXPECT_STREQ("db2499.vdb", list.getAt(2499)->getDbName());
  EXPECT_EQ(nullptr, list.getAt(2500));
  EXPECT_EQ(nullptr, list.getAt(-1));

  DbCorruptFailover original = Record(1);
  DbCorruptFailoverList copies;
  copies.add(&original);
  original.setValues("changed", nullptr, nullptr, nullptr, nullptr, nullptr);
  EXPECT_STREQ("db1.vdb", copies.getAt(0)->getDbName());
  EXPECT_EQ(1024, copies.getLimit());
}

TEST(DbRecordList, SnatchFromMovesEveryRecordAndEmptiesTheSource) {
  DbCorruptFailoverList published(10240);
  Fill(&published, 3);  // an earlier publication, replaced
  DbCorruptFailoverList local(10240);
  Fill(&local, 3000, 100);
  const DbCorruptFailover* first = local.getAt(0);
  EXPECT_EQ(0, published.snatchFrom(&local));
  EXPECT_EQ(3000, published.getCount());
  EXPECT_EQ(first, published.getAt(0));  // moved, not copied
  EXPECT_STREQ("db3099.vdb", published.getAt(2999)->getDbName());
  EXPECT_EQ(3072, published.getSlots());
  EXPECT_EQ(0, local.getCount());
  EXPECT_EQ(nullptr, local.getAt(0));

  DbCorruptFailoverList empty(10240);
  EXPECT_EQ(0, published.snatchFrom(&empty));  // a cycle without findings empties the table
  EXPECT_EQ(0, published.getCount());
  EXPECT_EQ(1, published.snatchFrom(nullptr));
  EXPECT_EQ(0, published.snatchFrom(&published));
}

TEST(DbRecordList, SnatchFromRefusesMoreRecordsThanItsLimit) {
  DbCorruptFailoverList small(2);
  Fill(&small, 1);
  DbCorruptFailoverList big(5);
  Fill(&big, 3, 10);
  EXPECT_EQ(102, small.snatchFrom(&big));
  EXPECT_EQ(1, small.getCount());
  EXPECT_STREQ("db0.vdb", small.getAt(0)->getDbName());
  EXPECT_EQ(3, big.getCount());
}

TEST(DbRecordList, IteratorWalksInOrderAndThenYieldsNothing) {
  DbStatisticsInfoList list;
  DbStatisticsInfoListIterator none(&list);
  EXPECT_FALSE(none.hasNext());
  EXPECT_EQ(nullptr, none.next());
  DbStatisticsInfoListIterator absent(nullptr);
  EXPECT_FALSE(absent.hasNext());

  DbStatisticsInfo info;
  for (const char* name : {"a.vdb", "b.vdb"}) {
    info.setValues(name, 0, 0, 0, 0, 0, 0);
    list.add(&info);
  }
  DbStatisticsInfoListIterator it(&list);
  ASSERT_TRUE(it.hasNext());
  EXPECT_STREQ("a.vdb", it.next()->getDbName());
  ASSERT_TRUE(it.hasNext());
  EXPECT_STREQ("b.vdb", it.next()->getDbName());
  EXPECT_FALSE(it.hasNext());
  EXPECT_EQ(nullptr, it.next());
}

TEST(DbRecordList, ZeroLimitRefusesEverything) {
  DbCorruptFailoverList list(0);
  DbCorruptFailover r = Record(0);
  EXPECT_EQ(101, list.add(&r));
  DbCorruptFailoverList source;
  EXPECT_EQ(0, list.snatchFrom(&source));
}

}  // namespace
