// The event log search against a modelled log database: which items and
// lines become hits, dates at the start of lines, since-times, and the
// tail reader.
#include <cstring>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/trace_capture.h"
#include "replication/log_search.h"
#include "replication/repl_testutil.h"
#include "replication/taillog.h"

namespace {

using Json = nlohmann::ordered_json;  // items keep the order written

class LogSearchSimTest : public ReplTest {
 protected:
  void Model(const Json& documents, const char* modified = "12/06/2026 09:59:00 AM") {
    Json m;
    m["clock"]["fixed"] = "12/06/2026 10:00:00 AM";
    m["databases"]["log.vdb"]["modified"] = modified;
    m["databases"]["log.vdb"]["documents"] = documents;
    model_.Write("server.json", m.dump());
  }
  logrequest Request(const char* nicknames, const char* since = "12/06/2026 08:00:00 AM") {
    logrequest r;
    memset(&r, 0, sizeof r);
    strcpy(r.form_nicknames, nicknames);
    r.useStartDate = 1;
    r.startDate = T(since);
    return r;
  }
  // "<form>/<item>/<note>: <text>" per hit.
  std::vector<std::string> Run(const logrequest& r, int expected = 0) {
    logresult* out = nullptr;
    EXPECT_EQ(get_log_request(&out, r, &info_), expected);
    std::vector<std::string> hits;
    for (logresult* h = out; h != nullptr; h = h->next)
      hits.push_back(std::string(h->formName) + "/" + h->fieldName + "/" +
                     std::to_string(h->noteID) + ": " + h->foundStr);
    free_logResult(out);
    return hits;
  }
};

using Hits = std::vector<std::string>;

TEST_F(LogSearchSimTest, ItemsBecomeHitsByTypeAndName) {
  Model({{{"id", 1},
          {"items",
           {{"Form", "Replication"},
            {"Pathname", "skipped"},
            {"$UpdatedBy", "skipped too"},
            {"$Ref", "kept: $ items pass when fields are listed"},
            {"Body", "a\n\nbc"},
            {"Size", {{"number", 12}}},
            {"StartTime", {{"time", "12/06/2026 08:00:05 AM"}}},
            {"EventList", {"Pulling x.vdb", std::string(1023, 'x'), std::string(1024, 'y')}}}}},
         {{"id", 2}, {"items", {{"Form", "Events"}, {"Events", "not a replication form"}}}}});
  logrequest r = Request("replication");
  strcpy(r.excludeFields, "Form Pathname BytesIn BytesOut $UpdatedBy");
  EXPECT_EQ(Run(r), (Hits{"Replication/$Ref/1: kept: $ items pass when fields are listed",
                          "Replication/Body/1: a", "Replication/Body/1: bc",
                          "Replication/Size/1: 12.000000",
                          "Replication/StartTime/1: 12/06/2026 08:00:05 AM",
                          "Replication/EventList/1: Pulling x.vdb",
                          "Replication/EventList/1: " + std::string(1023, 'x')}));
  // Without a field list "$" items are skipped; without forms every
  // document is read, its Form item too.
  logrequest all = Request("");
  strcpy(all.includeString, "replication");
  EXPECT_EQ(Run(all), (Hits{"Replication/Form/1: Replication", "Events/Events/2: not a replication form"}));
}

TEST_F(LogSearchSimTest, LinesAndDocumentsBeforeTheStartAreLeftOut) {
  Model({{{"id", 1},
          {"modified", "12/06/2026 09:00:00 AM"},
          {"items",
           {{"Form", "Events"},
            {"EventList",
             {"12/06/2026 07:59:59 AM Starting replication with server srv2/acme",
              "12/06/2026 08:00:00 AM Starting replication with server srv3/acme",
              "13/06/2026 09:00:00 AM Starting replication with server srv4/acme",
              "Starting replication with server srv5/acme", "Router: idle"}}}}},
         {{"id", 2},
          {"modified", "12/06/2026 07:00:00 AM"},
          {"items", {{"Form", "Events"}, {"EventList", "12/06/2026 09:00:00 AM Starting replication with server srv6/acme"}}}}});
  logrequest r = Request("events");
  strcpy(r.includeString, "Starting replication with server");
  strcpy(r.includeFields, "EventList");
  EXPECT_EQ(Run(r), (Hits{"Events/EventList/1: 12/06/2026 08:00:00 AM Starting replication with server srv3/acme",
                          "Events/EventList/1: 13/06/2026 09:00:00 AM Starting replication with server srv4/acme",
                          "Events/EventList/1: Starting replication with server srv5/acme"}));
  // A log database not written since the start: result 1.
  Model(Json::array(), "12/06/2026 07:00:00 AM");
  EXPECT_EQ(Run(r, 1), Hits{});
  // A start time that the server does not report equal to its wildcard.
  EXPECT_EQ(vaxelsim_handles_held(), 0u);
}

TEST_F(LogSearchSimTest, TailReaderTakesTheLastLinesOldestFirst) {
  Model({{{"id", 1}, {"items", {{"Form", "Events"}, {"Events", "one\ntwo\nthree"}}}},
         {{"id", 2}, {"items", {{"Form", "Session"}, {"Events", "not an event document"}}}},
         {{"id", 3}, {"items", {{"Form", "Events"}, {"Events", {"four", "skip me", "five"}}}}}});
  logrequest r = Request("");
  strcpy(r.excludeString, "skip");
  r.tailCount = 3;
  logresult* out = nullptr;
  ASSERT_EQ(taillog(&out, r, &info_), 0);
  std::string lines;
  for (logresult* h = out; h != nullptr; h = h->next) lines += std::string(h->foundStr) + ";";
  free_logResult(out);
  EXPECT_EQ(lines, "three;four;five;");
  EXPECT_EQ(vaxelsim_handles_held(), 0u);
}

}  // namespace
