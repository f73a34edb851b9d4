// Databases, directories, views and directory groups of the simulated
// server, through its entry points.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/sim_test_support.h"

namespace {

const char* kModel = R"json({
  "dataDirectory": "/local/velora/data",
  "databases": {
    "mail/a.vdb": {
      "failoverPath": "CN=srv2/O=acme!!mail/a2.vdb",
      "space": {"allocatedBytes": 1048576, "freeBytes": 65536},
      "quota": {"warningThreshold": 1, "sizeLimit": 2, "currentSize": 1024, "maxSize": 4294967295},
      "views": {"All Documents|AllDocs": {"open": 0}, "($Inbox)": {"open": 779}, "Bad": {"open": 1234}}
    },
    "mail/sub/b.vdb": {"open": 513},
    "mail/c.box": {"open": 760, "space": {"status": 549}, "quota": {"status": 582}},
    "names.vdb": {"open": 9999, "repairOpen": 9999, "failoverOpen": 0},
    "archive": {"directory": true},
    "locked": {"directory": true, "open": 582},
    "Z.vdb": {}
  },
  "directory": {"groups": ["LocalAdmins", "Sales", "Admins"]}
})json";

// The status of an open and, on success, the handle closed again.
VxStatus OpenStatus(const char* path) {
  VxDbHandle db = 0;
  VxStatus s = VxDbOpen(path, &db);
  if (s == 0) {
    EXPECT_NE(0, db);
    EXPECT_EQ(0, VxDbClose(db));
  } else {
    EXPECT_EQ(0, db);
  }
  return s;
}

VxStatus OpenExtendedStatus(const char* path, uint16_t options) {
  VxDbHandle db = 0;
  VxStatus s = VxDbOpenExtended(path, options, 0, nullptr, &db, nullptr, nullptr);
  if (s == 0) VxDbClose(db);
  return s;
}

struct Found {
  std::string path;
  bool database;
  std::vector<std::string> summaryNames;
};

// What a file search would hand a collector: each match's flag and summary.
VxStatus CollectFile(void* ctx, const VxSearchMatch* match, const void* summary) {
  auto* out = static_cast<std::vector<Found>*>(ctx);
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(match);
  Found f;
  f.database = (raw[50] & 0x01) != 0;
  char path[VX_MAXPATH];
  EXPECT_EQ(1, VxGetSummaryValue(summary, "$Path", path, sizeof path));
  f.path = path;
  const unsigned char* p = static_cast<const unsigned char*>(summary);
  uint16_t count;
  memcpy(&count, p + 2, 2);
  size_t offset = 4u + 4u * count;
  for (uint16_t i = 0; i < count; ++i) {
    uint16_t nl, vl;
    memcpy(&nl, p + 4 + 4 * i, 2);
    memcpy(&vl, p + 6 + 4 * i, 2);
    f.summaryNames.emplace_back(reinterpret_cast<const char*>(p + offset), nl);
    offset += nl + vl;
  }
  out->push_back(f);
  return 0;
}

std::vector<Found> ListFiles(const char* dir, uint16_t mask, VxStatus* status = nullptr) {
  std::vector<Found> found;
  VxDbHandle db = 0;
  VxStatus s = VxDbOpen(dir, &db);
  if (s == 0) {
    s = VxDbSearch(db, 0, nullptr, 6, mask, nullptr, CollectFile, &found, nullptr);
    VxDbClose(db);
  }
  if (status != nullptr) *status = s;
  return found;
}

std::vector<std::pair<std::string, bool>> Paths(const std::vector<Found>& found) {
  std::vector<std::pair<std::string, bool>> out;
  for (const Found& f : found) out.emplace_back(f.path, f.database);
  return out;
}

TEST(Databases, PathsNameDatabasesAndDirectories) {
  TempModel model;
  model.Write("server.json", kModel);
  // Network paths, local paths, backslashes, the data directory.
  EXPECT_EQ(0, OpenStatus("CN=srv1/O=acme!!mail/a.vdb"));
  EXPECT_EQ(0, OpenStatus("anyserver!!mail\\a.vdb"));
  EXPECT_EQ(0, OpenStatus("1352!!!CN=srv1/O=acme!!mail/a.vdb"));
  EXPECT_EQ(0, OpenStatus("mail/a.vdb"));
  EXPECT_EQ(0, OpenStatus("/local/velora/data/mail/a.vdb"));
  EXPECT_EQ(0, OpenStatus("CN=srv1/O=acme!!"));  // the data directory
  EXPECT_EQ(0, OpenStatus("CN=srv1/O=acme!!mail"));  // holds databases
  EXPECT_EQ(0, OpenStatus("CN=srv1/O=acme!!mail\\sub\\"));
  EXPECT_EQ(0, OpenStatus("CN=srv1/O=acme!!archive"));  // listed as a directory
  // Keys compare exactly.
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, OpenStatus("CN=srv1/O=acme!!z.vdb"));
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, OpenStatus("CN=srv1/O=acme!!mail/A.vdb"));
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, OpenStatus("CN=srv1/O=acme!!mai"));
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, OpenStatus("CN=srv1/O=acme!!nothere"));
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Databases, OpenStatusesComeFromTheModel) {
  TempModel model;
  model.Write("server.json", kModel);
  EXPECT_EQ(513, OpenStatus("srv1!!mail/sub/b.vdb"));
  EXPECT_EQ(760, OpenStatus("srv1!!mail/c.box"));
  EXPECT_EQ(582, OpenStatus("srv1!!locked"));
  EXPECT_EQ(9999, OpenStatus("srv1!!names.vdb"));
  EXPECT_EQ(9999, OpenExtendedStatus("srv1!!names.vdb", VX_DBOPEN_REPAIR));
  EXPECT_EQ(0, OpenExtendedStatus("srv1!!names.vdb", VX_DBOPEN_CLUSTER_FAILOVER));
  EXPECT_EQ(0, OpenExtendedStatus("srv1!!mail/sub/b.vdb", VX_DBOPEN_REPAIR));  // default 0
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Databases, PathGetAnswersTheFailoverPathAfterAnExtendedOpen) {
  TempModel model;
  model.Write("server.json", kModel);
  char canonical[VX_MAXPATH], expanded[VX_MAXPATH];
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpenExtended("CN=srv1/O=acme!!mail/a.vdb", VX_DBOPEN_CLUSTER_FAILOVER, 0,
                                nullptr, &db, nullptr, nullptr));
  ASSERT_EQ(0, VxDbPathGet(db, canonical, expanded));
  EXPECT_STREQ("CN=srv2/O=acme!!mail/a2.vdb", canonical);
  EXPECT_STREQ("/local/velora/data/mail/a.vdb", expanded);
  VxDbClose(db);
  // Plain open, or no failoverPath: the path as opened.
  ASSERT_EQ(0, VxDbOpen("CN=srv1/O=acme!!mail/a.vdb", &db));
  ASSERT_EQ(0, VxDbPathGet(db, canonical, nullptr));
  EXPECT_STREQ("CN=srv1/O=acme!!mail/a.vdb", canonical);
  VxDbClose(db);
  ASSERT_EQ(0, VxDbOpenExtended("CN=srv1/O=acme!!names.vdb", VX_DBOPEN_CLUSTER_FAILOVER, 0,
                                nullptr, &db, nullptr, nullptr));
  ASSERT_EQ(0, VxDbPathGet(db, canonical, nullptr));
  EXPECT_STREQ("CN=srv1/O=acme!!names.vdb", canonical);
  VxDbClose(db);
  EXPECT_EQ(VX_ERR_INVALID_HANDLE, VxDbPathGet(db, canonical, nullptr));
}

TEST(Databases, SpaceAndQuota) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!mail/a.vdb", &db));
  uint32_t allocated = 1, free = 1;
  EXPECT_EQ(0, VxDbSpaceUsage(db, &allocated, &free));
  EXPECT_EQ(1048576u, allocated);
  EXPECT_EQ(65536u, free);
  VxDbClose(db);
  VxDbLimits q;
  ASSERT_EQ(0, VxDbQuotaGet("CN=srv1/O=acme!!mail/a.vdb", &q));
  EXPECT_EQ(1u, q.WarningThreshold);
  EXPECT_EQ(2u, q.SizeLimit);
  EXPECT_EQ(1024u, q.CurrentSize);
  EXPECT_EQ(0xFFFFFFFFu, q.MaxSize);
  // Figures default to 0; a status is that call's failure.
  ASSERT_EQ(0, VxDbOpen("srv1!!Z.vdb", &db));
  EXPECT_EQ(0, VxDbSpaceUsage(db, &allocated, &free));
  EXPECT_EQ(0u, allocated + free);
  VxDbClose(db);
  EXPECT_EQ(0, VxDbQuotaGet("srv1!!Z.vdb", &q));
  EXPECT_EQ(0u, q.CurrentSize + q.MaxSize);
  EXPECT_EQ(582, VxDbQuotaGet("srv1!!mail/c.box", &q));
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, VxDbQuotaGet("srv1!!none.vdb", &q));
  // c.box cannot be opened plainly; its space status shows after a repair open.
  ASSERT_EQ(0, VxDbOpenExtended("srv1!!mail/c.box", VX_DBOPEN_REPAIR, 0, nullptr, &db, nullptr,
                                nullptr));
  EXPECT_EQ(549, VxDbSpaceUsage(db, &allocated, &free));
  VxDbClose(db);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Databases, DirectorySearchesInByteWisePathOrder) {
  TempModel model;
  model.Write("server.json", kModel);
  using P = std::vector<std::pair<std::string, bool>>;
  // The data directory, direct: databases and folders of the top level.
  EXPECT_EQ((P{{"Z.vdb", true}, {"archive", false}, {"locked", false}, {"mail", false},
               {"names.vdb", true}}),
            Paths(ListFiles("CN=srv1/O=acme!!", 0x4004)));
  // Recursive: everything, "Z" before "a" (byte order).
  EXPECT_EQ((P{{"Z.vdb", true},
               {"archive", false},
               {"locked", false},
               {"mail", false},
               {"mail/a.vdb", true},
               {"mail/c.box", true},
               {"mail/sub", false},
               {"mail/sub/b.vdb", true},
               {"names.vdb", true}}),
            Paths(ListFiles("CN=srv1/O=acme!!", 0x6004)));
  EXPECT_EQ((P{{"mail/a.vdb", true}, {"mail/c.box", true}, {"mail/sub", false}}),
            Paths(ListFiles("srv1!!mail", 0x4004)));
  EXPECT_EQ((P{{"mail/sub/b.vdb", true}}), Paths(ListFiles("srv1!!mail\\sub", 0x6004)));
  EXPECT_TRUE(ListFiles("srv1!!archive", 0x6004).empty());
  // Summaries hold another item before $Path.
  std::vector<Found> found = ListFiles("srv1!!mail", 0x4004);
  ASSERT_FALSE(found.empty());
  ASSERT_GE(found[0].summaryNames.size(), 2u);
  EXPECT_NE("$Path", found[0].summaryNames[0]);
  EXPECT_EQ("$Path", found[0].summaryNames[1]);
  // A directory that cannot be opened is not searched.
  VxStatus s = 0;
  EXPECT_TRUE(ListFiles("srv1!!locked", 0x6004, &s).empty());
  EXPECT_EQ(582, s);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

VxStatus PathLength(void* ctx, const VxSearchMatch*, const void* summary) {
  const unsigned char* p = static_cast<const unsigned char*>(summary);
  uint16_t count, nl, vl;
  memcpy(&count, p + 2, 2);
  size_t offset = 4u + 4u * count;
  for (uint16_t i = 0; i < count; ++i) {
    memcpy(&nl, p + 4 + 4 * i, 2);
    memcpy(&vl, p + 6 + 4 * i, 2);
    if (std::string(reinterpret_cast<const char*>(p + offset), nl) == "$Path")
      *static_cast<size_t*>(ctx) = vl - 2u;
    offset += nl + vl;
  }
  return 0;
}

TEST(Databases, PathsLongerThanAServersAreListedWhole) {
  TempModel model;
  std::string key = "long/" + std::string(300, 'x') + ".vdb";
  model.Write("server.json", "{\"databases\": {\"" + key + "\": {}}}");
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!long", &db));
  size_t length = 0;
  EXPECT_EQ(0, VxDbSearch(db, 0, nullptr, 6, 0x4004, nullptr, PathLength, &length, nullptr));
  EXPECT_EQ(key.size(), length);
  VxDbClose(db);
  // A canonical path that does not fit the caller's buffer is refused.
  ASSERT_EQ(0, VxDbOpen(("srv1!!" + key).c_str(), &db));
  char path[VX_MAXPATH];
  EXPECT_EQ(VX_ERR_BUFFER_TOO_SMALL, VxDbPathGet(db, path, nullptr));
  EXPECT_STREQ("", path);
  VxDbClose(db);
}

VxStatus StopAtSecond(void* ctx, const VxSearchMatch*, const void*) {
  return ++*static_cast<int*>(ctx) == 2 ? 4711 : 0;
}

TEST(Databases, CallbackResultStopsTheSearch) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!", &db));
  int calls = 0;
  EXPECT_EQ(4711, VxDbSearch(db, 0, nullptr, 6, 0x6004, nullptr, StopAtSecond, &calls, nullptr));
  EXPECT_EQ(2, calls);
  VxDbClose(db);
}

// The state a view has as the database check reads it.
VxStatus ViewStatus(const char* path, const char* view) {
  VxDbHandle db = 0;
  VxStatus s = VxDbOpen(path, &db);
  if (s != 0) return s;
  uint32_t note = 0;
  s = VxFindDesignNote(db, view, VX_NOTE_CLASS_VIEW, "-G40n", &note, 0);
  if (s == 0) {
    VxCollectionHandle coll = 0;
    s = VxViewOpen(db, db, note, 4, 0, &coll, nullptr, nullptr, nullptr, nullptr);
    if (s == 0) {
      EXPECT_EQ(0, VxViewClose(coll));
    }
  }
  VxDbClose(db);
  return s;
}

TEST(Databases, ViewsListedHaveDesignNotesAndOpenWithTheirStatus) {
  TempModel model;
  model.Write("server.json", kModel);
  EXPECT_EQ(0, ViewStatus("srv1!!mail/a.vdb", "All Documents"));
  EXPECT_EQ(0, ViewStatus("srv1!!mail/a.vdb", "alldocs"));  // an alias, any case
  EXPECT_EQ(779, ViewStatus("srv1!!mail/a.vdb", "($Inbox)"));
  EXPECT_EQ(1234, ViewStatus("srv1!!mail/a.vdb", "Bad"));
  EXPECT_EQ(VX_ERR_NO_MORE_ENTRIES, ViewStatus("srv1!!mail/a.vdb", "AllDocuments"));
  EXPECT_EQ(VX_ERR_NO_MORE_ENTRIES, ViewStatus("srv1!!Z.vdb", "All Documents"));
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!mail/a.vdb", &db));
  uint32_t note = 0;
  ASSERT_EQ(0, VxFindDesignNote(db, "All Documents", VX_NOTE_CLASS_VIEW, "-G40n", &note, 0));
  VxCollectionHandle coll = 0;
  ASSERT_EQ(0, VxViewOpen(db, db, note, 0, 0, &coll, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(2u, vaxelsim_handles_held());
  VxViewClose(coll);
  VxDbClose(db);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

// The group names a directory walk reads, as the group monitor walks.
std::vector<std::string> WalkGroups(VxStatus* status, const char* name = "") {
  std::vector<std::string> out;
  VxMemHandle h = 0;
  std::string names = std::string(name) + '\0';
  *status = VxDirLookup("CN=srv1/O=acme", 33, 1, "$PeopleGroupsFlat", 1, names.c_str(), 1,
                        "ListName", &h);
  if (*status != 0) return out;
  void* buf = VxLockObject(h);
  uint16_t matches = 0;
  void* rec = VxDirLocateNextName(buf, nullptr, &matches);
  void* match = nullptr;
  for (uint16_t i = 0; i < matches; ++i) {
    match = VxDirLocateNextMatch(buf, rec, match);
    if (match == nullptr) break;
    char text[256];
    if (VxDirGetTextItem(match, 0, 0, text, sizeof text) == 0) out.push_back(text);
  }
  EXPECT_EQ(nullptr, VxDirLocateNextMatch(buf, rec, match));
  EXPECT_EQ(nullptr, VxDirLocateNextName(buf, rec, &matches));
  VxUnlockObject(h);
  VxMemFree(h);
  return out;
}

TEST(Directory, GroupsInTheOrderListed) {
  TempModel model;
  model.Write("server.json", kModel);
  VxStatus s = 1;
  EXPECT_EQ((std::vector<std::string>{"LocalAdmins", "Sales", "Admins"}), WalkGroups(&s));
  EXPECT_EQ(0, s);
  EXPECT_EQ((std::vector<std::string>{"Sales"}), WalkGroups(&s, "sales"));
  // Hundreds of groups, and long names cut to the caller's buffer.
  std::string json = "{\"directory\": {\"groups\": [";
  for (int i = 0; i < 700; ++i) json += (i ? ",\"G" : "\"G") + std::to_string(i) + "\"";
  json += ",\"" + std::string(400, 'x') + "\"]}}";
  model.Write("server.json", json);
  std::vector<std::string> groups = WalkGroups(&s);
  ASSERT_EQ(701u, groups.size());
  EXPECT_EQ("G699", groups[699]);
  EXPECT_EQ(std::string(255, 'x'), groups[700]);
  // No groups modelled: a lookup without matches.
  model.Write("server.json", "{}");
  EXPECT_TRUE(WalkGroups(&s).empty());
  EXPECT_EQ(0, s);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Directory, WalkRefusesPointersNotFromTheBuffer) {
  TempModel model;
  model.Write("server.json", kModel);
  char junk[64] = "not a lookup buffer";
  uint16_t n = 7;
  EXPECT_EQ(nullptr, VxDirLocateNextName(junk, nullptr, &n));
  EXPECT_EQ(0, n);
  EXPECT_EQ(nullptr, VxDirLocateNextMatch(junk, junk, nullptr));
  char text[16];
  EXPECT_NE(0, VxDirGetTextItem(junk, 0, 0, text, sizeof text));
}

TEST(Databases, FaultsApplyToTheNewEntryPoints) {
  TempModel model;
  std::string json = kModel;
  json.insert(json.rfind('}'), R"json(, "faults": {"VxDbOpen": {"status": 2566, "fromCall": 2, "count": 1},
    "VxDirLookup": 421, "VxDirLocateNextName": 421, "VxDbSearch": 4000})json");
  model.Write("server.json", json);
  EXPECT_EQ(0, OpenStatus("srv1!!mail/a.vdb"));
  EXPECT_EQ(2566, OpenStatus("srv1!!mail/a.vdb"));
  EXPECT_EQ(0, OpenStatus("srv1!!mail/a.vdb"));
  VxStatus s = 0;
  EXPECT_TRUE(WalkGroups(&s).empty());
  EXPECT_EQ(421, s);
  EXPECT_TRUE(ListFiles("srv1!!mail", 0x4004, &s).empty());
  EXPECT_EQ(4000, s);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Databases, ModelChangesReachNewOpensAndHandlesAreCounted) {
  TempModel model;
  model.Write("server.json", kModel);
  setenv("VAXEL_SIM_LOG", model.Path("calls.log").c_str(), 1);
  vaxelsim_reset();
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!mail/a.vdb", &db));
  model.Write("server.json", R"json({"databases": {"mail/a.vdb": {"open": 513}}})json");
  EXPECT_EQ(513, OpenStatus("srv1!!mail/a.vdb"));
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, OpenStatus("srv1!!Z.vdb"));
  // The handle opened before keeps its model.
  uint32_t allocated = 0, free = 0;
  EXPECT_EQ(0, VxDbSpaceUsage(db, &allocated, &free));
  EXPECT_EQ(1048576u, allocated);
  EXPECT_EQ(1u, vaxelsim_handles_held());
  vaxelsim_reset();  // writes no exit line; the log shows the calls
  std::string log = ReadWholeFile(model.Path("calls.log"));
  EXPECT_NE(std::string::npos,
            log.find("VxDbOpen path=\"srv1!!mail/a.vdb\" handle=" + std::to_string(db) + " rc=0"));
  EXPECT_NE(std::string::npos, log.find("VxDbOpen path=\"srv1!!mail/a.vdb\" rc=513"));
  unsetenv("VAXEL_SIM_LOG");
  vaxelsim_reset();
}

TEST(Databases, BadModelEntriesAreReportedAndLeftOut) {
  TempModel model;
  setenv("VAXEL_SIM_LOG", model.Path("calls.log").c_str(), 1);
  vaxelsim_reset();
  model.Write("server.json", R"json({"databases": {
      "good.vdb": {"open": 513},
      "bad.vdb": 3,
      "half.vdb": {"open": "x", "space": {"freeBytes": -1}}},
    "directory": {"groups": "LocalAdmins"}})json");
  EXPECT_EQ(513, OpenStatus("srv1!!good.vdb"));
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, OpenStatus("srv1!!bad.vdb"));
  EXPECT_EQ(0, OpenStatus("srv1!!half.vdb"));
  std::string log = ReadWholeFile(model.Path("calls.log"));
  EXPECT_NE(std::string::npos, log.find("databases.bad.vdb"));
  EXPECT_NE(std::string::npos, log.find("databases.half.vdb.open"));
  EXPECT_NE(std::string::npos, log.find("databases.half.vdb.space"));
  EXPECT_NE(std::string::npos, log.find("directory.groups"));
  unsetenv("VAXEL_SIM_LOG");
  vaxelsim_reset();
}

}  // namespace
