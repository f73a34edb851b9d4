// Database and view states, space figures, directory listings and group
// names, decided against the simulated server.
#include "dbhealth/database_analyzer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dbhealth/search_callbacks.h"
#include "dbhealth/vaxel_api_util.h"
#include "framework/trace_capture.h"
#include "sim/sim_test_support.h"

namespace {

const char kServer[] = "CN=srv1/O=acme";

const char kModel[] = R"json({
  "databases": {
    "good.vdb": {},
    "notvdb.vdb": {"open": 513},
    "oldver.vdb": {"open": 537},
    "local.vdb": {"open": 760},
    "noaccess.vdb": {"open": 999, "repairOpen": 582},
    "openfile.vdb": {"open": 999, "repairOpen": 587},
    "fixed.vdb": {"open": 999},
    "moved.vdb": {"open": 999, "repairOpen": 999, "failoverPath": "CN=srv2/O=acme!!mail/moved.vdb"},
    "inplace.vdb": {"open": 999, "repairOpen": 999},
    "fonoaccess.vdb": {"open": 999, "repairOpen": 999, "failoverOpen": 582},
    "foopenfile.vdb": {"open": 999, "repairOpen": 999, "failoverOpen": 587},
    "corrupt.vdb": {"open": 999, "repairOpen": 999, "failoverOpen": 999},
    "flag513.vdb": {"open": 16897},
    "flag537.vdb": {"open": 16921, "repairOpen": 999, "failoverOpen": 999},
    "flag760.vdb": {"open": 17144, "repairOpen": 582},
    "flag582.vdb": {"open": 999, "repairOpen": 16966, "failoverOpen": 999},
    "flag587.vdb": {"open": 999, "repairOpen": 999, "failoverOpen": 16971},
    "views.vdb": {
      "space": {"allocatedBytes": 1048576, "freeBytes": 65536},
      "quota": {"warningThreshold": 10, "sizeLimit": 20, "currentSize": 3221225472, "maxSize": 4294967295},
      "views": {"AllDocuments": {"open": 0}, "($Inbox)": {"open": 779}, "Broken": {"open": 1234},
                "Flagged": {"open": 16163}}
    },
    "nospace.vdb": {"space": {"status": 549}},
    "noquota.vdb": {"quota": {"status": 549}},
    "mail/a.vdb": {}, "mail/b.box": {}, "mail/x/c.vdb": {}, "mail/x/y/d.vdb": {}
  },
  "directory": {"groups": ["LocalAdmins", "Sales", "", "Support"]}
})json";

class Analyzer : public ::testing::Test {
 protected:
  void SetUp() override { model_.Write("server.json", kModel); }
  void TearDown() override { EXPECT_EQ(0u, vaxelsim_handles_held()); }

  // The record checkDatabase gives `path`, as one text, or "good".
  static std::string Database(const char* path) {
    DbCorruptFailover r;
    int rc = DatabaseAnalyzer::checkDatabase(kServer, path, &r);
    if (rc == 0) return "good";
    EXPECT_EQ(201, rc);
    EXPECT_STREQ(path, r.getDbName());
    EXPECT_STREQ("DEFAULT", r.getViewName());
    return std::string(r.getState()) + "|" + r.getFailoverStatus() + "|" + r.getFailoverDb() + "|" +
           r.getFailoverServer();
  }

  static std::string View(const char* path, const char* view) {
    DbCorruptFailover r;
    int rc = DatabaseAnalyzer::checkDatabaseView(kServer, path, view, &r);
    if (rc == 0) return "good";
    EXPECT_EQ(202, rc);
    return std::string(r.getViewName()) + "|" + r.getState();
  }

  TempModel model_;
};

TEST_F(Analyzer, EveryDatabaseStateBecomesItsRecord) {
  EXPECT_EQ("good", Database("good.vdb"));
  EXPECT_EQ("Not a database|||", Database("notvdb.vdb"));
  EXPECT_EQ("Invalid VDB version|||", Database("oldver.vdb"));
  EXPECT_EQ("Local access protected|||", Database("local.vdb"));
  EXPECT_EQ("Operation not authorized|||", Database("noaccess.vdb"));
  EXPECT_EQ("Access not authorized|||", Database("openfile.vdb"));
  EXPECT_EQ("Corrupt but fixed|||", Database("fixed.vdb"));
  EXPECT_EQ("Cluster failover|Success|mail/moved.vdb|CN=srv2/O=acme", Database("moved.vdb"));
  EXPECT_EQ("Cluster failover|||", Database("inplace.vdb"));
  EXPECT_EQ("Operation not authorized|||", Database("fonoaccess.vdb"));
  EXPECT_EQ("Access not authorized|||", Database("foopenfile.vdb"));
  EXPECT_EQ("Corrupt|||", Database("corrupt.vdb"));
  EXPECT_EQ("Corrupt|||", Database("missing.vdb"));  // not found by any open
  // Every status is compared as the server returns it: a listed code with
  // the flag bit 0x4000 is another code and takes the next open.
  EXPECT_EQ("Corrupt but fixed|||", Database("flag513.vdb"));
  EXPECT_EQ("Corrupt|||", Database("flag537.vdb"));
  EXPECT_EQ("Operation not authorized|||", Database("flag760.vdb"));
  EXPECT_EQ("Corrupt|||", Database("flag582.vdb"));
  EXPECT_EQ("Corrupt|||", Database("flag587.vdb"));
  DbCorruptFailover r;
  EXPECT_EQ(1, DatabaseAnalyzer::checkDatabase(nullptr, "good.vdb", &r));
}

TEST_F(Analyzer, TheLastServerErrorAndTheDecisionAreTraced) {
  TraceCaptureStart("dbhealth=detail");
  VaxelApiUtil api;
  int state = -1;
  EXPECT_EQ(1, api.getDatabaseStatus(kServer, "notvdb.vdb", &state));
  EXPECT_EQ(1, state);
  EXPECT_STRNE("", api.getLatestApiErr());
  auto lines = TraceCaptureLines("dbhealth/vaxel_api_util");
  EXPECT_TRUE(TraceCaptureHas(lines, "VxDbOpen fail to open notvdb.vdb. Return code is ERR_NOT_VDB"));
  EXPECT_TRUE(TraceCaptureHas(lines, std::string("Database seems not in good state. Error message is: ") +
                                         api.getLatestApiErr() + "."));
  EXPECT_EQ(1, api.getDatabaseStatus(kServer, "fixed.vdb", &state));
  EXPECT_EQ(6, state);
  lines = TraceCaptureLines("dbhealth/vaxel_api_util");
  EXPECT_TRUE(TraceCaptureHas(lines, "VxDbOpenExtended succeed in fixing fixed.vdb."));
  for (const std::string& l : lines) EXPECT_EQ(std::string::npos, l.find("Database seems not")) << l;
  EXPECT_EQ(1, api.getDatabaseStatus(kServer, "moved.vdb", &state));
  EXPECT_TRUE(TraceCaptureHas(TraceCaptureLines("dbhealth/vaxel_api_util"),
                              "Failover happends. moved.vdb on CN=srv1/O=acme failover to "
                              "mail/moved.vdb on CN=srv2/O=acme."));
  EXPECT_STREQ("CN=srv2/O=acme!!mail/moved.vdb", api.getFailOverInfo().getPath());
}

TEST_F(Analyzer, ViewsAreGoodMissingOrCorruptAndAnUnbuiltCollectionIsGood) {
  EXPECT_EQ("good", View("views.vdb", "AllDocuments"));
  EXPECT_EQ("good", View("views.vdb", "($Inbox)"));
  EXPECT_EQ("Broken|View corrupt", View("views.vdb", "Broken"));
  EXPECT_EQ("Flagged|View corrupt", View("views.vdb", "Flagged"));  // 779 with the bit 0x4000
  EXPECT_EQ("All Documents|View not found", View("views.vdb", "All Documents"));
  EXPECT_EQ("v|Unknown", View("missing.vdb", "v"));  // the database cannot be opened
  DbCorruptFailover r;
  std::string longView(256, 'v');
  EXPECT_EQ(1, DatabaseAnalyzer::checkDatabaseView(kServer, "views.vdb", longView.c_str(), &r));
}

TEST_F(Analyzer, SpaceFiguresComeFromSpaceUsageAndQuota) {
  DbStatisticsInfo info;
  ASSERT_EQ(0, DatabaseAnalyzer::checkDatabaseWhitespace(kServer, "views.vdb", &info));
  EXPECT_STREQ("views.vdb", info.getDbName());
  EXPECT_EQ(1024u, info.getAllocatedSize());
  EXPECT_EQ(64u, info.getWhitespace());
  EXPECT_EQ(3221225472u, info.getCurrentSize());
  EXPECT_EQ(0u, info.getMaxSize());
  EXPECT_EQ(20u, info.getSizeLimit());
  EXPECT_EQ(10u, info.getWarningThreshold());
  EXPECT_EQ(401, DatabaseAnalyzer::checkDatabaseWhitespace(kServer, "nospace.vdb", &info));
  EXPECT_EQ(401, DatabaseAnalyzer::checkDatabaseWhitespace(kServer, "noquota.vdb", &info));
  EXPECT_EQ(401, DatabaseAnalyzer::checkDatabaseWhitespace(kServer, "missing.vdb", &info));
  VaxelApiUtil api;
  EXPECT_EQ(7, api.getDbStatisticsInfo(kServer, "nospace.vdb", &info));
  EXPECT_EQ(8, api.getDbStatisticsInfo(kServer, "noquota.vdb", &info));
  EXPECT_EQ(1, api.getDbStatisticsInfo(kServer, "missing.vdb", &info));
}

TEST_F(Analyzer, FindDatabasesListsDirectOrAllDatabasesEachOnce) {
  VaxelApiUtil api;
  QVD::StringList list;
  ASSERT_EQ(0, api.findDatabases(kServer, "mail", false, &list));
  ASSERT_EQ(2, list.getCount());
  EXPECT_STREQ("mail/a.vdb", list.getAt(0).c_str());
  EXPECT_STREQ("mail/b.box", list.getAt(1).c_str());
  ASSERT_EQ(0, api.findDatabases(kServer, "mail", true, &list));
  ASSERT_EQ(4, list.getCount());
  EXPECT_STREQ("mail/x/c.vdb", list.getAt(2).c_str());
  EXPECT_STREQ("mail/x/y/d.vdb", list.getAt(3).c_str());
  EXPECT_EQ(2, api.findDatabases(kServer, "nowhere", true, &list));
  EXPECT_EQ(1001, api.findDatabases(kServer, nullptr, true, &list));
  QVD::StringList all;
  ASSERT_EQ(0, api.findDatabases(kServer, "", true, &all));
  EXPECT_EQ(24, all.getCount());
}

TEST_F(Analyzer, AFailingSearchIsReportedAndTheDirectoryClosed) {
  model_.Write("server.json", R"({"databases": {"mail/a.vdb": {}}, "faults": {"VxDbSearch": 1234}})");
  VaxelApiUtil api;
  QVD::StringList list;
  EXPECT_EQ(3, api.findDatabases(kServer, "mail", false, &list));
  EXPECT_EQ(0, list.getCount());
}

TEST_F(Analyzer, PathsTooLongForTheServerAreRefusedNotCut) {
  TraceCaptureStart("error");
  std::string path = std::string(250, 'p') + ".vdb";
  VaxelApiUtil api;
  EXPECT_EQ(1, api.openDatabase(kServer, path.c_str()));
  EXPECT_FALSE(VaxelApiUtil::fitsNetPath(kServer, path.c_str()));
  EXPECT_TRUE(VaxelApiUtil::fitsNetPath(kServer, std::string(255 - 16, 'p').c_str()));
  EXPECT_FALSE(VaxelApiUtil::fitsNetPath(kServer, std::string(256 - 16, 'p').c_str()));
  EXPECT_NE(nullptr, strstr(api.getLatestApiErr(), "is longer than 255 characters"));
  EXPECT_EQ(0u, vaxelsim_call_count("VxDbOpen"));
  DbCorruptFailover r;
  std::string tooLong(300, 'q');
  EXPECT_EQ(1, DatabaseAnalyzer::checkDatabase(kServer, tooLong.c_str(), &r));
}

TEST_F(Analyzer, GroupsAreReadInDirectoryOrderSkippingEmptyNames) {
  VaxelApiUtil api;
  QVD::StringList groups(kMaxGroupCount);
  ASSERT_EQ(0, api.getGroups(kServer, &groups));
  ASSERT_EQ(3, groups.getCount());
  EXPECT_STREQ("LocalAdmins", groups.getAt(0).c_str());
  EXPECT_STREQ("Sales", groups.getAt(1).c_str());
  EXPECT_STREQ("Support", groups.getAt(2).c_str());
  EXPECT_EQ(1001, api.getGroups(kServer, &groups));  // not empty: untouched
  EXPECT_EQ(3, groups.getCount());
  model_.Write("server.json", R"({"directory": {"groups": ["A"]}, "faults": {"VxDirLookup": 1234}})");
  QVD::StringList none;
  EXPECT_EQ(9, api.getGroups(kServer, &none));
  EXPECT_EQ(0, none.getCount());
}

// A summary table as the server hands it to a search callback.
std::string Summary(const std::vector<std::pair<std::string, std::string>>& items, int totalDelta = 0) {
  std::string head, body;
  auto put16 = [](std::string* s, uint16_t v) { s->append(reinterpret_cast<const char*>(&v), 2); };
  for (const auto& item : items) {
    put16(&head, (uint16_t)item.first.size());
    put16(&head, (uint16_t)(item.second.size() + 2));
    body += item.first;
    body += std::string("\x00\x05", 2) + item.second;
  }
  std::string table;
  put16(&table, (uint16_t)(4 + head.size() + body.size() + totalDelta));
  put16(&table, (uint16_t)items.size());
  return table + head + body;
}

TEST(DatabaseListCallback, TakesThePathItemWhereverItStandsAndRefusesBrokenTables) {
  TraceCaptureStart("error");
  QVD::StringList list;
  std::vector<std::pair<std::string, std::string>> many;
  for (int i = 0; i < 40; ++i) many.emplace_back("$Item" + std::to_string(i), std::string(1200, 'x'));
  many.emplace_back("$Path", "far/away.vdb");
  std::string big = Summary(many);
  ASSERT_LT(big.size(), 65536u);
  EXPECT_EQ(0, getDatabaseList(big.data(), &list));
  EXPECT_EQ(0, getDatabaseList(Summary({{"$TITLE", "a"}, {"$Path", "a.vdb"}}).data(), &list));
  EXPECT_EQ(0, getDatabaseList(Summary({{"$Path", "a.vdb"}}).data(), &list));  // once only
  EXPECT_EQ(0, getDatabaseList(Summary({{"$TITLE", "no path"}}).data(), &list));
  ASSERT_EQ(2, list.getCount());
  EXPECT_STREQ("far/away.vdb", list.getAt(0).c_str());
  EXPECT_STREQ("a.vdb", list.getAt(1).c_str());

  EXPECT_EQ(0, getDatabaseList(Summary({{"$Path", "cut.vdb"}}, -3).data(), &list));
  EXPECT_EQ(0, getDatabaseList(Summary({{"$Path", std::string(256, 'p')}}).data(), &list));
  std::string liar = Summary({{"$Path", "x.vdb"}});
  liar[2] = 100;  // claims 100 items in a few bytes
  EXPECT_EQ(0, getDatabaseList(liar.data(), &list));
  EXPECT_EQ(2, list.getCount());
  auto lines = TraceCaptureLines("dbhealth/search");
  EXPECT_EQ(3u, lines.size());

  VxSearchMatch match;
  memset(&match, 0, sizeof match);
  std::string sub = Summary({{"$Path", "sub"}});
  EXPECT_EQ(0, fileAction(&list, &match, sub.data()));  // a directory: flag clear
  EXPECT_EQ(2, list.getCount());
}

}  // namespace
