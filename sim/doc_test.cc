// Documents, items, document searches and view entries of the simulated
// server, read the way the replication analysis reads them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "serverapi/vaxel.h"
#include "sim/sim_test_support.h"

namespace {

const char* kModel = R"json({
  "databases": {
    "log.vdb": {
      "modified": "12/06/2026 09:59:00 AM",
      "documents": [
        {"id": 4097, "modified": "12/06/2026 08:02:11 AM",
         "items": {"Form": "Replication", "Server": "CN=srv1/O=acme",
                   "StartTime": {"time": "12/06/2026 08:00:05 AM"},
                   "EventList": ["Pulling mail/a.vdb", "Pushed 3 documents"],
                   "Size": {"number": 12.5}, "Body": "mail/a.vdb: 3 added"}},
        {"id": 4098, "modified": "12/05/2026 09:00:00 AM",
         "items": {"Form": "Events", "EventList": ["12/05/2026 09:00:01 AM Starting replication"]}},
        {"id": 4099, "items": {"Form": "Session", "UserName": "someone"}},
        {"id": 4100, "items": {"Body": "no form"}}
      ]
    },
    "names.vdb": {
      "views": {"$Connections": {"documents": [8193, 8195, 8194]}, "($Empty)": {}},
      "documents": [
        {"id": 8193, "items": {"Source": "CN=srv1/O=acme", "Enabled": {"number": 1},
                               "WeekDays": ["1", "2"]}},
        {"id": 8194, "items": {"Source": "CN=srv1/O=acme"}}
      ]
    }
  }
})json";

VxTimeDate TimeAt(const char* text) {
  VxTimeDate t;
  EXPECT_EQ(0, VxTextToTime(nullptr, nullptr, text, static_cast<uint16_t>(strlen(text)), &t));
  return t;
}

struct Hit {
  uint32_t id;
  unsigned char flags;
  std::string form;  // from the summary
};

VxStatus CollectDoc(void* ctx, const VxSearchMatch* match, const void* summary) {
  const unsigned char* raw = reinterpret_cast<const unsigned char*>(match);
  Hit h;
  memcpy(&h.id, raw + 16, 4);
  h.flags = raw[50];
  char form[64] = "";
  if (summary != nullptr) VxGetSummaryValue(summary, "Form", form, sizeof form);
  h.form = form;
  static_cast<std::vector<Hit>*>(ctx)->push_back(h);
  return 0;
}

// Ids a document search finds in log.vdb.
std::vector<uint32_t> Search(const char* formula, const VxTimeDate* since,
                             VxStatus* status = nullptr) {
  std::vector<Hit> hits;
  VxDbHandle db = 0;
  EXPECT_EQ(0, VxDbOpen("CN=srv1/O=acme!!log.vdb", &db));
  VxFormulaHandle f = 0;
  if (formula != nullptr) {
    VxStatus err = 0;
    EXPECT_EQ(0, VxFormulaCompile(nullptr, 0, formula, static_cast<uint16_t>(strlen(formula)), &f,
                                  nullptr, &err, nullptr, nullptr, nullptr, nullptr));
  }
  VxStatus s = VxDbSearch(db, f, nullptr, VX_SEARCH_SUMMARY, VX_NOTE_CLASS_DOCUMENT, since,
                          CollectDoc, &hits, nullptr);
  if (status != nullptr) *status = s;
  if (f != 0) VxMemFree(f);
  VxDbClose(db);
  std::vector<uint32_t> ids;
  for (const Hit& h : hits) {
    EXPECT_EQ(VX_SE_FMATCH, h.flags & VX_SE_FMATCH);
    ids.push_back(h.id);
  }
  return ids;
}

TEST(Documents, SearchSelectsByFormAndSinceTime) {
  TempModel model;
  model.Write("server.json", kModel);
  using Ids = std::vector<uint32_t>;
  EXPECT_EQ((Ids{4097, 4098, 4099, 4100}), Search(nullptr, nullptr));
  EXPECT_EQ((Ids{4097, 4098, 4099, 4100}), Search("SELECT @All", nullptr));
  EXPECT_EQ((Ids{4097}), Search("SELECT FORM = \"Replication\"", nullptr));
  EXPECT_EQ((Ids{4098, 4097 + 2}), Search("select form=\"Events\" : \"Session\";", nullptr));
  EXPECT_EQ((Ids{}), Search("SELECT FORM = \"replication\"", nullptr));  // values exact
  // A since-time: documents modified at or after it, and those without a time.
  VxTimeDate since = TimeAt("12/06/2026 08:00:00 AM");
  EXPECT_EQ((Ids{4097, 4099, 4100}), Search(nullptr, &since));
  VxTimeDate wildcard;
  VxSpecialTime(VX_TIME_WILDCARD, &wildcard);
  EXPECT_EQ(4u, Search(nullptr, &wildcard).size());
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Documents, FormulasOutsideTheUnderstoodShapesDoNotCompile) {
  TempModel model;
  for (const char* bad : {"SELECT", "SELECT FORM = Events", "SELECT FORM = \"A\" : ",
                          "SELECT Subject = \"A\"", "FORM = \"A\"", "SELECT FORM = \"A\" junk"}) {
    VxFormulaHandle f = 7;
    VxStatus err = 0;
    uint16_t line = 0, col = 0, off = 0, len = 0;
    EXPECT_EQ(VX_ERR_BAD_PARAM,
              VxFormulaCompile(nullptr, 0, bad, static_cast<uint16_t>(strlen(bad)), &f, nullptr,
                               &err, &line, &col, &off, &len))
        << bad;
    EXPECT_EQ(0, f);
    EXPECT_EQ(VX_ERR_BAD_PARAM, err);
    EXPECT_EQ(1, line);
    EXPECT_EQ(strlen(bad), static_cast<size_t>(off + len)) << bad;
  }
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Documents, OpenSinceLaterThanModifiedAnswersNotModified) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  VxTimeDate data, other;
  VxTimeDate later = TimeAt("12/06/2026 10:00:00 AM");
  EXPECT_EQ(VX_ERR_NOT_MODIFIED, VxDbOpenExtended("srv1!!log.vdb", VX_DBOPEN_MODIFIED_SINCE, 0,
                                                  &later, &db, &data, &other));
  EXPECT_EQ(0, db);
  VxTimeDate earlier = TimeAt("12/06/2026 09:59:00 AM");
  ASSERT_EQ(0, VxDbOpenExtended("srv1!!log.vdb", VX_DBOPEN_MODIFIED_SINCE, 0, &earlier, &db,
                                &data, &other));
  EXPECT_EQ(0, VxTimeCompare(&earlier, &data));
  VxDbClose(db);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

struct Scanned {
  std::string name;
  uint16_t type;
  uint32_t length;
};

VxStatus ScanItem(uint16_t, uint16_t, const char* name, uint16_t nameLength, void* value,
                  uint32_t valueLength, void* ctx) {
  uint16_t type;
  memcpy(&type, value, 2);
  static_cast<std::vector<Scanned>*>(ctx)->push_back({std::string(name, nameLength), type,
                                                      valueLength});
  // Callers may write into the value (a text list flattened in place).
  memset(static_cast<char*>(value) + 2, 0, valueLength - 2);
  // The callback may call other entry points.
  return VxShouldTerminate() ? 1 : 0;
}

TEST(Documents, ItemsInFileOrderWithTheirTypes) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!log.vdb", &db));
  VxDocHandle doc = 0;
  ASSERT_EQ(0, VxDocOpen(db, 4097, 0, &doc));
  std::vector<Scanned> items;
  ASSERT_EQ(0, VxItemScan(doc, ScanItem, &items));
  ASSERT_EQ(6u, items.size());
  const char* names[] = {"Form", "Server", "StartTime", "EventList", "Size", "Body"};
  uint16_t types[] = {1280, 1280, 1024, 1281, 768, 1280};
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(names[i], items[i].name);
    EXPECT_EQ(types[i], items[i].type);
  }
  EXPECT_EQ(10u, items[2].length);  // type and an 8-byte time
  EXPECT_EQ(10u, items[4].length);  // type and an 8-byte double

  // Reading ignores the case of names; the scan's writes changed nothing.
  char buf[64];
  EXPECT_EQ(11, VxItemGetText(doc, "FORM", buf, sizeof buf));
  EXPECT_STREQ("Replication", buf);
  EXPECT_EQ(4, VxItemGetText(doc, "form", buf, 5));  // cut to the buffer
  EXPECT_STREQ("Repl", buf);
  EXPECT_EQ(0, VxItemGetText(doc, "Size", buf, sizeof buf));  // not text
  EXPECT_EQ(0, VxItemGetText(doc, "Missing", buf, sizeof buf));
  VxTimeDate t;
  ASSERT_EQ(1, VxItemGetTime(doc, "starttime", &t));
  VxTimeDate expect = TimeAt("12/06/2026 08:00:05 AM");
  EXPECT_EQ(0, VxTimeCompare(&expect, &t));
  EXPECT_EQ(0, VxItemGetTime(doc, "Form", &t));

  uint16_t type = 0;
  VxValueRef value;
  uint32_t length = 0, reserved = 9;
  ASSERT_EQ(0, VxItemInfo(doc, "EVENTLISTxx", 9, &reserved, &type, &value, &length));
  EXPECT_EQ(0u, reserved);
  EXPECT_EQ(VX_TYPE_TEXT_LIST, type);
  EXPECT_EQ(2, VxListCount(value.Value, 1));
  uint16_t n = VxItemValueToText(type, value, length, buf, sizeof buf, ';');
  EXPECT_STREQ("Pulling mail/a.vdb;Pushed 3 documents", buf);
  EXPECT_EQ(strlen(buf), n);
  ASSERT_EQ(0, VxItemInfo(doc, "Size", 4, nullptr, &type, &value, &length));
  EXPECT_EQ(VX_TYPE_NUMBER, type);
  VxItemValueToText(type, value, length, buf, sizeof buf, ';');
  EXPECT_STREQ("12.5", buf);
  EXPECT_EQ(VX_ERR_ITEM_NOT_FOUND, VxItemInfo(doc, "Interval", 8, nullptr, &type, &value,
                                              &length));
  EXPECT_EQ(0, VxDocClose(doc));
  EXPECT_EQ(VX_ERR_INVALID_HANDLE, VxItemScan(doc, ScanItem, &items));
  VxDbClose(db);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

VxStatus StopScan(uint16_t, uint16_t, const char*, uint16_t, void*, uint32_t, void* ctx) {
  return ++*static_cast<int*>(ctx) == 2 ? 99 : 0;
}

TEST(Documents, ScanStopsAtTheFirstNonZeroResult) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  VxDocHandle doc = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!log.vdb", &db));
  ASSERT_EQ(0, VxDocOpen(db, 4097, 0, &doc));
  int n = 0;
  EXPECT_EQ(99, VxItemScan(doc, StopScan, &n));
  EXPECT_EQ(2, n);
  VxDocClose(doc);
  VxDbClose(db);
}

// The document ids of a view, read in one call as the schedule reader does.
std::vector<uint32_t> ViewIds(const char* view, VxStatus* status, uint32_t skip = 1,
                              uint32_t count = 0xFFFFFFFF, uint16_t* signal = nullptr) {
  std::vector<uint32_t> ids;
  VxDbHandle db = 0;
  EXPECT_EQ(0, VxDbOpen("srv1!!names.vdb", &db));
  uint32_t note = 0;
  *status = VxFindDesignNote(db, view, VX_NOTE_CLASS_VIEW, "-G40n", &note, 0);
  VxCollectionHandle coll = 0;
  if (*status == 0)
    *status = VxViewOpen(db, db, note, 0, 0, &coll, nullptr, nullptr, nullptr, nullptr);
  if (*status == 0) {
    VxMemHandle buf = 0;
    uint32_t len = 0, n = 0;
    uint16_t flags = 0;
    *status = VxViewReadEntries(coll, skip, count, VX_READ_MASK_NOTEID, &buf, &len, &n, &flags);
    if (signal != nullptr) *signal = flags;
    if (buf != 0) {
      EXPECT_EQ(n * 4, len);
      const uint32_t* p = static_cast<const uint32_t*>(VxLockObject(buf));
      ids.assign(p, p + n);
      VxUnlockObject(buf);
      VxMemFree(buf);
    }
    VxViewClose(coll);
  }
  VxDbClose(db);
  return ids;
}

TEST(Views, EntriesAreTheListedIdsInOrder) {
  TempModel model;
  model.Write("server.json", kModel);
  VxStatus s = 1;
  using Ids = std::vector<uint32_t>;
  EXPECT_EQ((Ids{8193, 8195, 8194}), ViewIds("$Connections", &s));
  EXPECT_EQ(0, s);
  uint16_t signal = 0;
  EXPECT_EQ((Ids{8195}), ViewIds("$connections", &s, 2, 1, &signal));
  EXPECT_EQ(VX_SIGNAL_MORE_TO_DO, signal);
  EXPECT_EQ((Ids{}), ViewIds("$Connections", &s, 4));
  EXPECT_EQ(0, s);
  EXPECT_TRUE(ViewIds("($Empty)", &s).empty());
  EXPECT_EQ(VX_ERR_NO_MORE_ENTRIES, s);
  EXPECT_TRUE(ViewIds("$Missing", &s).empty());
  EXPECT_EQ(VX_ERR_NO_MORE_ENTRIES, s);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(Views, AListedIdWithoutADocumentIsAnInvalidNote) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!names.vdb", &db));
  VxDocHandle doc = 0;
  EXPECT_EQ(VX_ERR_INVALID_NOTE, VxDocOpen(db, 8195, 0, &doc));
  EXPECT_EQ(0, doc);
  ASSERT_EQ(0, VxDocOpen(db, 8194, 0, &doc));
  char buf[64];
  EXPECT_EQ(0, VxItemGetText(doc, "Enabled", buf, sizeof buf));
  uint16_t type;
  VxValueRef v;
  uint32_t len;
  EXPECT_EQ(VX_ERR_ITEM_NOT_FOUND, VxItemInfo(doc, "Enabled", 7, nullptr, &type, &v, &len));
  VxDocClose(doc);
  // A directory has no documents.
  VxDbHandle dir = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!", &dir));
  EXPECT_EQ(VX_ERR_INVALID_NOTE, VxDocOpen(dir, 8194, 0, &doc));
  VxDbClose(dir);
  VxDbClose(db);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

}  // namespace

namespace {

TEST(Documents, TimesRelativeToTheModelsClock) {
  TempModel model;
  model.Write("server.json", R"json({
    "intl": {"dateOrder": "DMY"},
    "clock": {"fixed": "07/12/2026 10:00:00 AM"},
    "databases": {"log.vdb": {"modified": "today-1", "documents": [
      {"id": 1, "modified": "today-2 11:30 PM",
       "items": {"T": {"time": "today+1 08:00:05 AM"},
                 "E": ["{{today-6 09:00:01 AM}} Starting", "x {{today-1}} {{todayX}}"],
                 "B": "{{today}}"}}]}}})json");
  VxDbHandle db = 0;
  VxTimeDate since = TimeAt("06/12/2026 00:00:00"), data;
  ASSERT_EQ(0, VxDbOpenExtended("srv1!!log.vdb", VX_DBOPEN_MODIFIED_SINCE, 0, &since, &db, &data,
                                nullptr));
  EXPECT_EQ(0, VxTimeCompare(&since, &data));
  VxTimeDate after = TimeAt("05/12/2026 11:30 PM");
  std::vector<Hit> hits;
  EXPECT_EQ(0, VxDbSearch(db, 0, nullptr, 0, 1, &after, CollectDoc, &hits, nullptr));
  EXPECT_EQ(1u, hits.size());
  VxDocHandle doc = 0;
  ASSERT_EQ(0, VxDocOpen(db, 1, 0, &doc));
  VxTimeDate t, expect = TimeAt("08/12/2026 08:00:05 AM");
  ASSERT_EQ(1, VxItemGetTime(doc, "T", &t));
  EXPECT_EQ(0, VxTimeCompare(&expect, &t));
  uint16_t type;
  VxValueRef v;
  uint32_t len;
  char buf[128];
  ASSERT_EQ(0, VxItemInfo(doc, "T", 1, nullptr, &type, &v, &len));
  VxItemValueToText(type, v, len, buf, sizeof buf, ';');
  EXPECT_STREQ("08/12/2026 08:00:05 AM", buf);  // in the model's date order
  ASSERT_EQ(0, VxItemInfo(doc, "E", 1, nullptr, &type, &v, &len));
  VxItemValueToText(type, v, len, buf, sizeof buf, '|');
  EXPECT_STREQ("01/12/2026 09:00:01 AM Starting|x 06/12/2026 12:00:00 AM {{todayX}}", buf);
  EXPECT_EQ(22, VxItemGetText(doc, "B", buf, sizeof buf));
  EXPECT_STREQ("07/12/2026 12:00:00 AM", buf);
  VxDocClose(doc);
  VxDbClose(db);
}

}  // namespace

namespace {

struct ChangeDuringSearch {
  TempModel* model;
  VxDbHandle db;
  std::vector<VxStatus> opens;
};

VxStatus ChangeModelThenOpen(void* ctx, const VxSearchMatch* match, const void*) {
  auto* c = static_cast<ChangeDuringSearch*>(ctx);
  if (c->opens.empty())
    c->model->Write("server.json", std::string(kModel).insert(1, "\"faults\": {\"VxDocOpen\": 4000},"));
  VxDocHandle doc = 0;
  c->opens.push_back(VxDocOpen(c->db, match->NoteId, 0, &doc));
  if (doc != 0) VxDocClose(doc);
  return 0;
}

TEST(Documents, CallsDuringASearchUseTheModelTheSearchBeganWith) {
  TempModel model;
  model.Write("server.json", kModel);
  ChangeDuringSearch c{&model, 0, {}};
  ASSERT_EQ(0, VxDbOpen("srv1!!log.vdb", &c.db));
  ASSERT_EQ(0, VxDbSearch(c.db, 0, nullptr, 0, 1, nullptr, ChangeModelThenOpen, &c, nullptr));
  EXPECT_EQ((std::vector<VxStatus>{0, 0, 0, 0}), c.opens);
  VxDocHandle doc = 0;
  EXPECT_EQ(4000, VxDocOpen(c.db, 4097, 0, &doc));  // the change counts after the search
  VxDbClose(c.db);
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

}  // namespace

namespace {

struct ReaderState {
  VxDbHandle db = 0;
  int items = 0;
};

VxStatus CountItem(uint16_t, uint16_t, const char*, uint16_t, void*, uint32_t, void* ctx) {
  ++static_cast<ReaderState*>(ctx)->items;
  return 0;
}

VxStatus ReadEachDocument(void* ctx, const VxSearchMatch* match, const void*) {
  auto* r = static_cast<ReaderState*>(ctx);
  VxDocHandle doc = 0;
  if (VxDocOpen(r->db, match->NoteId, 0, &doc) != 0) return 0;
  VxItemScan(doc, CountItem, r);
  VxDocClose(doc);
  return 0;
}

TEST(Documents, ThreadsSearchWhileTheModelChanges) {
  TempModel model;
  model.Write("server.json", kModel);
  std::vector<std::thread> threads;
  for (int t = 0; t < 3; ++t)
    threads.emplace_back([] {
      for (int round = 0; round < 30; ++round) {
        ReaderState r;
        if (VxDbOpen("srv1!!log.vdb", &r.db) != 0) continue;
        VxDbSearch(r.db, 0, nullptr, VX_SEARCH_SUMMARY, 1, nullptr, ReadEachDocument, &r,
                   nullptr);
        VxDbClose(r.db);
      }
    });
  for (int round = 0; round < 30; ++round)
    model.Write("server.json", round % 2 ? kModel : "{\"databases\": {\"log.vdb\": {}}}");
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

}  // namespace
