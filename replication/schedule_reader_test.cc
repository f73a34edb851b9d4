// Reading this server's replication connections from the directory.
#include "replication/schedule_reader.h"

#include <string>

#include <nlohmann/json.hpp>

#include "framework/trace_capture.h"
#include "replication/repl_testutil.h"

namespace {

using Json = nlohmann::ordered_json;
using ScheduleReaderTest = ReplTest;

Json Connection(int id, const char* source, const std::string& dest, Json extra = Json::object()) {
  Json items = {{"Source", source}, {"Destination", dest}, {"Enabled", {{"number", 1}}},
                {"RepTask", {{"number", 1}}}};
  for (auto& [k, v] : extra.items()) items[k] = v;
  return {{"id", id}, {"items", items}};
}

TEST_F(ScheduleReaderTest, EnabledConnectionsOfThisServerInViewOrder) {
  TraceCaptureStart("error");
  Json docs = Json::array();
  docs.push_back(Connection(1, "CN=srv1/O=acme", "CN=srv2/O=acme",
                            {{"Schedule", {"08:00 AM", "12:00 PM"}}, {"WeekDays", {"1", "x", "9"}},
                             {"Interval", {{"number", 30}}}, {"Filenames", "mail/a.vdb"}}));
  docs.push_back(Connection(2, "CN=srv9/O=acme", "CN=srv2/O=acme"));  // another source
  docs.push_back(Connection(3, "cn=SRV1/o=acme", "CN=srv3/O=acme", {{"Enabled", {{"number", 0}}}}));
  docs.push_back(Connection(4, "CN=srv1/O=acme", "CN=srv4/O=acme", {{"RepTask", {{"number", 0}}}}));
  docs.push_back({{"id", 5}, {"items", {{"Source", "CN=srv1/O=acme"}}}});  // no Destination
  docs.push_back(Connection(6, "CN=srv1/O=acme", "CN=" + std::string(300, 'n') + "/O=acme"));
  Json m;
  m["databases"]["names.vdb"]["views"]["$Connections"]["documents"] = {1, 2, 3, 4, 77, 5, 6};
  m["databases"]["names.vdb"]["documents"] = docs;
  model_.Write("server.json", m.dump());

  replschedule* list = nullptr;
  ASSERT_EQ(get_replication_schedule(&list, "CN=srv1/O=acme!!names.vdb", &info_), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_STREQ(list->src_svr, "srv1/acme");
  EXPECT_STREQ(list->dest_svr, "srv2/acme");
  EXPECT_STREQ(list->schedule, "08:00 AM;12:00 PM");
  EXPECT_STREQ(list->weekdays, "1;x;9");
  EXPECT_STREQ(list->filenames, "mail/a.vdb");
  EXPECT_EQ(list->interval, 30);
  ASSERT_NE(list->next, nullptr);
  // The destination's name does not fit 255 characters: cut, with a trace.
  EXPECT_EQ(std::string(list->next->dest_svr).size(), 255u);
  EXPECT_STREQ(list->next->schedule, "");
  EXPECT_EQ(list->next->interval, 0);
  EXPECT_EQ(list->next->next, nullptr);
  free_replSched(list);
  auto lines = TraceCaptureLines("replication");
  EXPECT_TRUE(TraceCaptureHas(lines, "WeekDays of note 0x1 hold entries that are not weekday numbers 1 to 7: |1;x;9|"));
  EXPECT_TRUE(TraceCaptureHas(lines, "Replication connection note 0x5 has no Destination item; connection skipped"));
  EXPECT_TRUE(TraceCaptureHas(lines, "Found invalid note: = will continue with the rest of notes"));
  // Every error of the item read is traced, an absent item (546) too.
  EXPECT_TRUE(TraceCaptureHas(lines, "VxItemInfo() error:546"));
  EXPECT_EQ(vaxelsim_handles_held(), 0u);
  TraceCaptureStart("none");
}

TEST_F(ScheduleReaderTest, ADirectoryWithoutConnectionsAnswers1028) {
  Json m;
  m["databases"]["names.vdb"]["views"]["$Connections"] = Json::object();
  model_.Write("server.json", m.dump());
  replschedule* list = nullptr;
  EXPECT_EQ(get_replication_schedule(&list, "CN=srv1/O=acme!!names.vdb", &info_), 1028);
  EXPECT_EQ(list, nullptr);
  EXPECT_EQ(vaxelsim_handles_held(), 0u);
}

}  // namespace
