// The whole replication analysis against a modelled server, asked to stop
// at each of its steps: it ends there without a result and holds nothing
// of the server; never asked, it gives the result it gives without a stop.
#include "replication/repl_request.h"

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "framework/trace_capture.h"
#include "replication/repl_testutil.h"
#include "serverapi/qvd_api.h"

namespace {

using Json = nlohmann::ordered_json;

// A time of the model's day before (day -1) or of its day (0), in seconds
// after midnight.
std::string Stamp(int day, int second) {
  char text[64];
  int h = second / 3600, m = second / 60 % 60, s = second % 60;
  snprintf(text, sizeof text, "12/%02d/2026 %02d:%02d:%02d %s", 6 + day, h % 12 == 0 ? 12 : h % 12, m, s,
           h < 12 ? "AM" : "PM");
  return text;
}

class ReplRequestTest : public ReplTest {
 protected:
  // Four connections of srv1, one of each kind of schedule, and a log of
  // replications with them (every third a start event instead) over the
  // day before the model's clock.
  void SetUp() override {
    const char* schedules[] = {"08:00 AM", "06:00 AM;10:00 AM;02:00 PM;06:00 PM",
                               "10:00 PM - 02:00 AM", "07:00 AM - 10:00 PM"};
    Json names = Json::array(), ids = Json::array();
    for (int c = 0; c < 4; ++c) {
      Json items = {{"Form", "Connection"},
                    {"Source", "CN=srv1/O=acme"},
                    {"Destination", "CN=srv" + std::to_string(c + 2) + "/O=acme"},
                    {"Enabled", {{"number", 1}}},
                    {"RepTask", {{"number", 1}}},
                    {"WeekDays", {"1", "2", "3", "4", "5", "6", "7"}},
                    {"Schedule", schedules[c]}};
      if (c == 3) items["Interval"] = {{"number", 60}};
      names.push_back({{"id", 100 + c}, {"items", items}});
      ids.push_back(100 + c);
    }
    Json log = Json::array();
    for (int i = 0; i < 30; ++i) {
      std::string start = Stamp(-1, 10 * 3600 + i * 2700);
      std::string partner = "srv" + std::to_string(i % 4 + 2) + "/acme";
      if (i % 3 == 2) {
        log.push_back({{"id", 4097 + i},
                       {"modified", start},
                       {"items",
                        {{"Form", "Events"},
                         {"EventList", {start + " Starting replication with server " + partner}}}}});
        continue;
      }
      log.push_back({{"id", 4097 + i},
                     {"modified", start},
                     {"items",
                      {{"Form", "Replication"},
                       {"Server", "CN=srv1/O=acme"},
                       {"InitiatedBy", "CN=srv1/O=acme"},
                       {"SourceServer", partner},
                       {"StartTime", {{"time", start}}},
                       {"FinishTime", {{"time", start}}},
                       {"EventList", {"Pulled 3 documents"}}}}});
    }
    Json m;
    m["clock"]["fixed"] = "12/06/2026 10:00:00 AM";
    m["databases"]["log.vdb"]["modified"] = "12/06/2026 09:59:00 AM";
    m["databases"]["log.vdb"]["documents"] = log;
    m["databases"]["names.vdb"]["documents"] = names;
    m["databases"]["names.vdb"]["views"]["$Connections"]["documents"] = ids;
    model_.Write("server.json", m.dump());
  }

  // Runs the analysis from a day before the clock; the stop says yes at
  // its `stopAt`th question (0: never).  Returns the rows, "<partner>
  // <start> <Hit_Miss>" each; *asked counts the questions.
  std::vector<std::string> Analyse(int stopAt, int* asked, bool* stopped, int* rc) {
    struct Asking {
      int stopAt;
      int asked = 0;
    } asking{stopAt};
    ReplStop stop;
    stop.context = &asking;
    stop.requested = [](void* context) {
      auto* a = static_cast<Asking*>(context);
      return ++a->asked == a->stopAt;
    };
    replRequest request = {};
    request.useStartDate = 1;
    request.startDate = T("12/05/2026 10:00:00 AM");
    replResult* result = nullptr;
    *rc = get_replication_request(&result, request, &info_, nullptr, &stop);
    *asked = asking.asked;
    *stopped = stop.stopped;
    std::vector<std::string> rows;
    for (replResult* r = result; r != nullptr; r = r->next)
      rows.push_back(std::string(r->repl_svrName) + " " + r->StartTime + " " + std::to_string(r->Hit_Miss));
    free_replResult(result);
    return rows;
  }
};

TEST_F(ReplRequestTest, AStopAtAnyStepEndsTheAnalysisThereWithoutAResult) {
  TraceCaptureStart("error");  // the connections' absent items are traced
  replRequest request = {};
  request.useStartDate = 1;
  request.startDate = T("12/05/2026 10:00:00 AM");
  replResult* plain = nullptr;
  ASSERT_EQ(0, get_replication_request(&plain, request, &info_));
  std::vector<std::string> expected;
  for (replResult* r = plain; r != nullptr; r = r->next)
    expected.push_back(std::string(r->repl_svrName) + " " + r->StartTime + " " + std::to_string(r->Hit_Miss));
  free_replResult(plain);
  ASSERT_GT(expected.size(), 10u);
  uint64_t docsOpened = vaxelsim_call_count("VxDocOpen");

  // Never stopped: the same rows.
  int asked = 0, rc = -1;
  bool stopped = true;
  EXPECT_EQ(expected, Analyse(0, &asked, &stopped, &rc));
  EXPECT_EQ(0, rc);
  EXPECT_FALSE(stopped);
  // Asked before each connection document (4), each log document (30 in
  // the two searches) and each day window of a connection.
  EXPECT_GT(asked, 4 + 30);

  // Stopped at each question in turn: no result, nothing of the server
  // held, and no document read after the stop (the first question comes
  // before the first document).
  for (int at = 1; at <= asked; ++at) {
    vaxelsim_reset();
    int askedNow = 0;
    std::vector<std::string> rows = Analyse(at, &askedNow, &stopped, &rc);
    EXPECT_TRUE(rows.empty()) << "stopped at question " << at;
    EXPECT_EQ(1, rc) << at;
    EXPECT_TRUE(stopped) << at;
    EXPECT_EQ(at, askedNow) << "asked again after the stop";
    EXPECT_EQ(0u, vaxelsim_handles_held()) << at;
    EXPECT_LE(vaxelsim_call_count("VxDocOpen"), docsOpened) << at;
    if (at == 1) {
      EXPECT_EQ(0u, vaxelsim_call_count("VxDocOpen"));
    }
  }
  TraceCaptureStart("none");
}

}  // namespace
