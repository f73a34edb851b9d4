// Documents the collector creates: each save appends one line to
// created.jsonl in the model directory.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "serverapi/vaxel.h"
#include "sim/sim_test_support.h"

namespace {

const char* kModel = R"json({
  "intl": {"dateOrder": "DMY"},
  "clock": {"fixed": "06/12/2026 10:00:00 AM"},
  "databases": {"mirvane/mvparam.vdb": {}}
})json";

// Writes one parameter document the way the add-in configuration does;
// returns the first failing status.
VxStatus WriteParameter(VxDbHandle db, const char* parameter, const char* value) {
  VxDocHandle doc = 0;
  VxStatus s = VxDocCreate(db, &doc);
  if (s != 0) return s;
  VxTimeDate now;
  VxCurrentTime(&now);
  const char* texts[][2] = {{"ServerName", "CN=srv1/O=acme"},
                            {"Form", "Parameters Form"},
                            {"ParameterModifier", "CN=srv1/O=acme"},
                            {nullptr, nullptr},
                            {"Section", "Monitor"},
                            {"Category", "USER"},
                            {"Parameter", parameter},
                            {"Value", value}};
  for (auto& t : texts) {
    s = t[0] == nullptr ? VxItemSetTime(doc, "ParameterTime", &now)
                        : VxItemSetText(doc, t[0], t[1], 65535);
    if (s != 0) break;
  }
  if (s == 0) s = VxDocUpdate(doc, 0);
  VxDocClose(doc);
  return s;
}

std::string Line(const char* parameter, const char* value) {
  return std::string(
             "{\"database\": \"mirvane/mvparam.vdb\", \"items\": {\"ServerName\": "
             "\"CN=srv1/O=acme\", \"Form\": \"Parameters Form\", \"ParameterModifier\": "
             "\"CN=srv1/O=acme\", \"ParameterTime\": {\"time\": \"06/12/2026 10:00:00 AM\"}, "
             "\"Section\": \"Monitor\", \"Category\": \"USER\", \"Parameter\": \"") +
         parameter + "\", \"Value\": \"" + value + "\"}}\n";
}

TEST(CreatedDocuments, EachSaveIsOneLineWithItemsInSetOrder) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("CN=srv1/O=acme!!mirvane\\mvparam.vdb", &db));
  ASSERT_EQ(0, WriteParameter(db, "TCPIP Port", "1234"));
  ASSERT_EQ(0, WriteParameter(db, "TCPIP Hostname", "host.example.com"));
  VxDbClose(db);
  EXPECT_EQ(Line("TCPIP Port", "1234") + Line("TCPIP Hostname", "host.example.com"),
            ReadWholeFile(model.Path("created.jsonl")));
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(CreatedDocuments, ItemsKeepTheirPlaceAndTextsAreEscaped) {
  TempModel model;
  model.Write("server.json", kModel);
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!mirvane/mvparam.vdb", &db));
  VxDocHandle doc = 0;
  ASSERT_EQ(0, VxDocCreate(db, &doc));
  EXPECT_EQ(0, VxItemSetText(doc, "A", "first", 65535));
  EXPECT_EQ(0, VxItemSetText(doc, "B", "q\"b\\\n\x01\xff", 65535));
  EXPECT_EQ(0, VxItemSetText(doc, "a", "second-and-cut", 6));  // same item, any case
  EXPECT_EQ(0, VxItemSetText(doc, "C", "caf\xc3\xa9", 65535));
  char buf[32];
  EXPECT_EQ(6, VxItemGetText(doc, "A", buf, sizeof buf));
  EXPECT_STREQ("second", buf);
  EXPECT_EQ(VX_ERR_BAD_PARAM, VxItemSetText(doc, "", "x", 1));
  EXPECT_EQ(VX_ERR_BAD_PARAM, VxItemSetText(doc, "D", nullptr, 1));
  ASSERT_EQ(0, VxDocUpdate(doc, 0));
  VxDocClose(doc);
  VxDbClose(db);
  EXPECT_EQ(
      "{\"database\": \"mirvane/mvparam.vdb\", \"items\": {\"A\": \"second\", "
      "\"B\": \"q\\\"b\\\\\\n\\u0001\\u00ff\", \"C\": \"caf\xc3\xa9\"}}\n",
      ReadWholeFile(model.Path("created.jsonl")));
}

TEST(CreatedDocuments, MissingDatabaseAndInjectedFailures) {
  TempModel model;
  // No parameter database: it cannot be opened.
  model.Write("server.json", "{}");
  VxDbHandle db = 0;
  EXPECT_EQ(VX_ERR_FILE_NOT_FOUND, VxDbOpen("srv1!!mirvane/mvparam.vdb", &db));

  // The fourteenth text item fails: the first document is saved, the
  // second is closed unsaved.
  std::string json = kModel;
  json.insert(json.rfind('}'), ", \"faults\": {\"VxItemSetText\": {\"status\": 4000, \"fromCall\": 14}}");
  model.Write("server.json", json);
  ASSERT_EQ(0, VxDbOpen("srv1!!mirvane/mvparam.vdb", &db));
  EXPECT_EQ(0, WriteParameter(db, "TCPIP Port", "1234"));
  EXPECT_EQ(4000, WriteParameter(db, "TCPIP Hostname", "host"));
  VxDbClose(db);
  EXPECT_EQ(Line("TCPIP Port", "1234"), ReadWholeFile(model.Path("created.jsonl")));
  EXPECT_EQ(0u, vaxelsim_handles_held());

  // A failing save writes nothing and keeps the document open for closing.
  model.Remove("created.jsonl");
  json = kModel;
  json.insert(json.rfind('}'), ", \"faults\": {\"VxDocUpdate\": 4001}");
  model.Write("server.json", json);
  ASSERT_EQ(0, VxDbOpen("srv1!!mirvane/mvparam.vdb", &db));
  EXPECT_EQ(4001, WriteParameter(db, "TCPIP Port", "1234"));
  VxDbClose(db);
  EXPECT_TRUE(ReadWholeFile(model.Path("created.jsonl")).empty());
  EXPECT_EQ(0u, vaxelsim_handles_held());
}

TEST(CreatedDocuments, ExistingDocumentsSavedAgainAreAppendedToo) {
  TempModel model;
  model.Write("server.json", R"json({"databases": {"a.vdb": {"documents": [
      {"id": 5, "items": {"Form": "Memo", "Size": {"number": 2.5}, "To": ["x", "y"]}}]}}})json");
  VxDbHandle db = 0;
  ASSERT_EQ(0, VxDbOpen("srv1!!a.vdb", &db));
  VxDocHandle doc = 0;
  ASSERT_EQ(0, VxDocOpen(db, 5, 0, &doc));
  EXPECT_EQ(0, VxItemSetText(doc, "Subject", "hi", 2));
  EXPECT_EQ(0, VxDocUpdate(doc, 0));
  VxDocClose(doc);
  VxDbClose(db);
  EXPECT_EQ(
      "{\"database\": \"a.vdb\", \"items\": {\"Form\": \"Memo\", \"Size\": {\"number\": 2.5}, "
      "\"To\": [\"x\", \"y\"], \"Subject\": \"hi\"}}\n",
      ReadWholeFile(model.Path("created.jsonl")));
}

}  // namespace
